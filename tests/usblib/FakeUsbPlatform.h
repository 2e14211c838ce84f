#pragma once
// A device platform that only lists USB device names, for the device-id tests.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidPlatform.h"

namespace qrt::test {

// Only the USB device names matter to the device-id search.
class CFakeUsbPlatform : public USB42XX_MGR::IHidPlatform {
 public:
  std::vector<std::string> m_vNames;
  bool m_bFail = false;

  bool EnumerateHidCollections(std::vector<USB42XX_MGR::HID_COLLECTION_INFO>& vOut) override {
    vOut.clear();
    return true;
  }
  std::unique_ptr<USB42XX_MGR::IHidDevice> OpenCollection(
      const USB42XX_MGR::HID_COLLECTION_INFO&) override {
    return nullptr;
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override {
    vOut.clear();
    if (m_bFail) return false;
    vOut = m_vNames;
    return true;
  }
  void SetEventSink(std::function<void(const USB42XX_MGR::DEVICE_EVENT&)>) override {}
  USB42XX_MGR::NATIVE_EVENT GetEventHandle() const override { return USB42XX_MGR::kNoNativeEvent; }
  void DispatchEvents() override {}
  uint32_t GetTickCount() override { return 0; }
  void Sleep(uint32_t) override {}
};

}  // namespace qrt::test
