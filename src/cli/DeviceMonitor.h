#pragma once
// `qrt4250-cli monitor` prints device arrivals and removals as they happen
// (the wait itself is the engine's, DeviceWait.h).
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <set>
#include <string>

#include "DeviceWait.h"

namespace USB42XX_MGR {
class IHidPlatform;
struct DEVICE_EVENT;
}  // namespace USB42XX_MGR

namespace qrt::cli {

struct DEVICE_MONITOR_OPTIONS {
  // Longest wait for an event; also the period of the device-list poll used
  // where the platform delivers no events.
  int nPollMs = 4000;
  // Asked before every wait; true ends the monitor (tests). SIGINT and
  // SIGTERM end it too.
  std::function<bool()> fnStop;
};

// Formats one event as "arrival VID = 0x3A7C, PID = 0x4250" (or "removal
// ..."). Returns an empty string when the event carries no VID/PID.
std::string FormatDeviceEvent(const USB42XX_MGR::DEVICE_EVENT& event);

// Watches the platform until interrupted and writes one line per event to
// out. Without an event descriptor it compares the present USB devices every
// nPollMs instead (and says so on err). Returns 0; 1 when waiting failed.
int RunDeviceMonitor(USB42XX_MGR::IHidPlatform& platform, std::ostream& out, std::ostream& err,
                     const DEVICE_MONITOR_OPTIONS& options = {});

}  // namespace qrt::cli
