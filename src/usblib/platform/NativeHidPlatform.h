#pragma once
// The HID platform of the operating system the program is built for: the
// interface's calls are declared once here and defined by the one OS
// source CMake builds (platform/<os>/), each with its own SImpl. The OS's
// class (CLinuxHidPlatform, CWindowsHidPlatform) adds its options and calls.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidPlatform.h"

namespace USB42XX_MGR {

class CNativeHidPlatform : public IHidPlatform {
 public:
  ~CNativeHidPlatform() override;
  CNativeHidPlatform(const CNativeHidPlatform&) = delete;
  CNativeHidPlatform& operator=(const CNativeHidPlatform&) = delete;

  // Every present HID collection the program may talk to, one entry per
  // top-level collection. What cannot be opened or vanishes meanwhile is
  // skipped. Returns false only when the OS cannot enumerate.
  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) override;
  // Opens a listed collection for reading and writing. Returns null when it
  // does not open or now answers with another VID/PID (names are reused
  // after an unplug).
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO& info) override;
  // The present USB devices' names. Returns false only when the OS cannot
  // list them.
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override;

  void SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) override;
  // What a caller waits on for hot-plug events; kNoNativeEvent when no
  // notification could be set up (the caller's poll keeps the list current).
  NATIVE_EVENT GetEventHandle() const override;
  // Passes every pending arrival and removal to the sink on the calling
  // thread, the board named by its path. A removal's ids are those
  // remembered when the board was enumerated or arrived.
  void DispatchEvents() override;

  // The system's monotonic milliseconds (wrapping at 2^32) and sleep.
  uint32_t GetTickCount() override;
  void Sleep(uint32_t dwMilliseconds) override;

  // The board's own lock, shared with every program on this computer:
  // Linux takes an flock on the opened hidraw node (only users who can open
  // the board can lock it; the holder is found in /proc/locks), Windows a
  // named mutex (BoardMutexName).
  std::unique_ptr<IBoardLock> OpenBoardLock(const std::string& szPath,
                                            std::string& szError) override;

 protected:
  CNativeHidPlatform();
  struct SImpl;  // the OS's state, defined by its source
  std::unique_ptr<SImpl> m_pImpl;
};

}  // namespace USB42XX_MGR
