#include "WindowsHidPlatform.h"

#include <windows.h>

namespace USB42XX_MGR {

bool CWindowsHidPlatform::EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) {
  vOut.clear();
  return true;
}

std::unique_ptr<IHidDevice> CWindowsHidPlatform::OpenCollection(const HID_COLLECTION_INFO&) {
  return nullptr;
}

bool CWindowsHidPlatform::EnumerateUsbDeviceNames(std::vector<std::string>& vOut) {
  vOut.clear();
  return true;
}

void CWindowsHidPlatform::SetEventSink(std::function<void(const DEVICE_EVENT&)> fnSink) {
  m_fnSink = std::move(fnSink);
}

uint32_t CWindowsHidPlatform::GetTickCount() {
  return static_cast<uint32_t>(::GetTickCount64());
}

void CWindowsHidPlatform::Sleep(uint32_t dwMilliseconds) {
  ::Sleep(dwMilliseconds);
}

}  // namespace USB42XX_MGR
