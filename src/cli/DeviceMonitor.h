#pragma once
// Waiting for boards: `qrt4250-cli monitor` prints device arrivals and
// removals as they happen; `program --wait` waits through the same function
// for the next board.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <set>
#include <string>

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

// While one lives, SIGINT and SIGTERM do not end the process: they are
// blocked except inside WaitForDeviceChange, which then returns kInterrupted,
// so a Ctrl+C during a transfer takes effect at the next wait, never in the
// middle of a write. The previous handlers and mask come back at its end.
class CInterruptGuard {
 public:
  CInterruptGuard();
  ~CInterruptGuard();
  CInterruptGuard(const CInterruptGuard&) = delete;
  CInterruptGuard& operator=(const CInterruptGuard&) = delete;
  // A SIGINT or SIGTERM arrived since the guard began.
  static bool Interrupted();
};

// True when the platform delivers hot-plug events; without them a waiter
// compares the device list after each wait instead.
bool HasDeviceEvents(const USB42XX_MGR::IHidPlatform& platform);

enum class EDeviceWait {
  kChanged,      // events are pending: call the platform's DispatchEvents()
  kTimeout,      // nothing within the time (always so without events)
  kInterrupted,  // SIGINT or SIGTERM (under a CInterruptGuard)
  kError         // the wait itself failed; errno says why
};

// Waits at most nTimeoutMs for a hot-plug event of the platform.
EDeviceWait WaitForDeviceChange(USB42XX_MGR::IHidPlatform& platform, int nTimeoutMs);

// Formats one event as "arrival VID = 0x3A7C, PID = 0x4250" (or "removal
// ..."). Returns an empty string when the name carries no VID/PID.
std::string FormatDeviceEvent(const USB42XX_MGR::DEVICE_EVENT& event);

// Watches the platform until interrupted and writes one line per event to
// out. Without an event descriptor it compares the present USB devices every
// nPollMs instead (and says so on err). Returns 0; 1 when waiting failed.
int RunDeviceMonitor(USB42XX_MGR::IHidPlatform& platform, std::ostream& out, std::ostream& err,
                     const DEVICE_MONITOR_OPTIONS& options = {});

}  // namespace qrt::cli
