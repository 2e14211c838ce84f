#pragma once
// The HID platform on Windows: HID collections through SetupAPI and HID.DLL.
// For now it lists no devices and delivers no events; the full backend
// (enumeration, report exchange, device notifications) replaces this file
// and WindowsHidPlatform.cpp.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidPlatform.h"

namespace USB42XX_MGR {

class CWindowsHidPlatform : public IHidPlatform {
 public:
  CWindowsHidPlatform() = default;

  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) override;
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO& info) override;
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override;
  void SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) override;
  NATIVE_EVENT GetEventHandle() const override { return kNoNativeEvent; }
  void DispatchEvents() override {}
  uint32_t GetTickCount() override;
  void Sleep(uint32_t dwMilliseconds) override;

 private:
  std::function<void(const DEVICE_EVENT&)> m_fnSink;
};

}  // namespace USB42XX_MGR
