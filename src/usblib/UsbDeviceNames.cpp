#include "UsbDeviceNames.h"

#include <algorithm>
#include <cctype>

#include "DeviceList.h"
#include "TextNumbers.h"
#include "platform/HidPlatform.h"

namespace USB42XX_MGR {
namespace {

// Up to four hex digits starting at pos; stops at the first non-digit.
uint16_t ReadHex4(const std::string& text, size_t pos) {
  uint32_t value = 0;
  for (size_t i = pos; i < text.size() && i < pos + 4; ++i) {
    int digit = qrt::diag::HexDigitValue(text[i]);
    if (digit < 0) break;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

int ParseVidPid(std::string_view szName, uint16_t& wVID, uint16_t& wPID) {
  wVID = 0;
  wPID = 0;
  std::string upper(szName);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  size_t vidPos = upper.find("VID_");
  if (vidPos == std::string::npos) return 1;
  wVID = ReadHex4(upper, vidPos + 4);
  size_t pidPos = upper.find("PID_");
  if (pidPos == std::string::npos) return 2;
  wPID = ReadHex4(upper, pidPos + 4);
  return 0;
}

bool EnumerateUsbDosDevices(IHidPlatform& platform, std::vector<std::string>& vNames) {
  vNames.clear();
  std::vector<std::string> all;
  if (!platform.EnumerateUsbDeviceNames(all)) return false;
  for (auto& name : all) {
    if (name.size() <= 4) continue;
    bool isUsb = true;
    for (size_t i = 0; i < 4; ++i) {
      if (std::toupper(static_cast<unsigned char>(name[i])) != "USB#"[i]) isUsb = false;
    }
    if (isUsb) vNames.push_back(std::move(name));
  }
  return true;
}

bool DeviceListContains(const DEVICE_LIST& list, uint16_t wVID, uint16_t wPID) {
  int count = std::min<int>(list.Number, kMaxDeviceListEntries);
  for (int i = 0; i < count; ++i) {
    if (list.VID[i] == wVID && list.PID[i] == wPID) return true;
  }
  return false;
}

bool DeviceListAdd(DEVICE_LIST& list, uint16_t wVID, uint16_t wPID) {
  if (list.Number >= kMaxDeviceListEntries) return false;
  if (DeviceListContains(list, wVID, wPID)) return false;
  list.VID[list.Number] = wVID;
  list.PID[list.Number] = wPID;
  ++list.Number;
  return true;
}

}  // namespace USB42XX_MGR
