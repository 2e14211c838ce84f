#pragma once
// The HID platform on Linux: hidraw nodes found through libudev, report
// lengths from the report descriptor, reports on the control channel with
// the HIDIOCSOUTPUT / HIDIOCGINPUT ioctls, hot-plug from a udev monitor.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidPlatform.h"

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

class CLinuxHidPlatform : public IHidPlatform {
 public:
  explicit CLinuxHidPlatform(LINUX_HID_OPTIONS options = {});
  ~CLinuxHidPlatform() override;
  CLinuxHidPlatform(const CLinuxHidPlatform&) = delete;
  CLinuxHidPlatform& operator=(const CLinuxHidPlatform&) = delete;

  // Every hidraw node that opens for reading and writing and whose report
  // descriptor parses, one entry per top-level collection (same path, own
  // index and lengths). A node that does not open (permission, gone) is
  // skipped. Returns false only when libudev cannot enumerate.
  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) override;

  // Opens the node of a listed collection. Returns null when it does not open
  // or now belongs to another VID/PID (node numbers are reused after unplug).
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO& info) override;

  // USB devices (subsystem usb, devtype usb_device) with their idVendor and
  // idProduct. Returns false only when libudev cannot enumerate.
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override;

  void SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) override;
  // The udev monitor's descriptor, or -1 when no monitor could be set up.
  NATIVE_EVENT GetEventHandle() const override;
  // Passes every pending hidraw add/remove to the sink, the board named by
  // its node. Removals take their ids from those remembered when the node
  // was enumerated or arrived.
  void DispatchEvents() override;

  // CLOCK_MONOTONIC in milliseconds, wrapping at 2^32.
  uint32_t GetTickCount() override;
  void Sleep(uint32_t dwMilliseconds) override;

  // flock on the board's hidraw node, opened for reading and writing: only
  // users who can open the board can lock it, and every program that opens
  // it sees the lock. The holder is found in /proc/locks.
  std::unique_ptr<IBoardLock> OpenBoardLock(const std::string& szPath,
                                            std::string& szError) override;

  // The event source actually in use (None when the monitor failed).
  EUdevEventSource GetEventSource() const;

 private:
  struct SImpl;
  std::unique_ptr<SImpl> m_pImpl;
};

}  // namespace USB42XX_MGR
