#pragma once
// The HID platform on Linux: hidraw nodes found through libudev, report
// lengths from the report descriptor, reports on the control channel with
// the HIDIOCSOUTPUT / HIDIOCGINPUT ioctls, hot-plug from a udev monitor.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/NativeHidPlatform.h"

namespace USB42XX_MGR {

// Where hot-plug events come from.
//  Udev:   udevd's netlink group; a node is announced after udev has created
//          it with its permissions (the normal desktop case).
//  Kernel: the kernel's own uevents; needs no udevd, but a node may not be
//          ready yet when its "add" arrives, so arrivals retry the open.
//  Auto:   Udev when udevd runs (its control socket exists), else Kernel.
//  None:   no monitor; the caller's poll keeps the device list current.
enum class EUdevEventSource { Auto, Udev, Kernel, None };

struct LINUX_HID_OPTIONS {
  EUdevEventSource eEventSource = EUdevEventSource::Auto;
  std::string szUdevControlPath = "/run/udev/control";
  // After a kernel "add" the node is opened up to this many times, waiting
  // this long between attempts, before the arrival is passed on anyway.
  uint32_t dwArrivalOpenAttempts = 10;
  uint32_t dwArrivalRetryDelayMs = 50;
  // Seams for tests; empty means open(2) and a real sleep.
  std::function<int(const char* pszPath, int nFlags)> fnOpen;
  std::function<void(uint32_t dwMilliseconds)> fnRetrySleep;
};

// Name of a USB device: "USB#VID_xxxx&PID_xxxx#<sysname>".
std::string MakeUsbDeviceName(uint16_t wVID, uint16_t wPID, const std::string& szSysName);

// Reads the VID and PID out of a HID_ID property "bus:vvvvvvvv:pppppppp".
// Returns false when the text does not have that form or an id exceeds 16 bits.
bool ParseHidIdProperty(const char* pszHidId, uint16_t& wVID, uint16_t& wPID);

// hidraw nodes found through libudev, one entry per top-level collection of
// a node whose report descriptor parses (same path, own index and lengths);
// a node that does not open for reading and writing is skipped. The event
// handle is the udev monitor's descriptor.
class CLinuxHidPlatform : public CNativeHidPlatform {
 public:
  explicit CLinuxHidPlatform(LINUX_HID_OPTIONS options = {});

  // The event source actually in use (None when the monitor failed).
  EUdevEventSource GetEventSource() const;
};

}  // namespace USB42XX_MGR
