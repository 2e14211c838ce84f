#include "DeviceIdMgr.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "DeviceIdStore.h"
#include "Trace.h"
#include "UsbDeviceNames.h"
#include "platform/HidPlatform.h"

namespace USB42XX_MGR {
namespace {

std::string TrimSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// The four characters after the first occurrence of szTag, or false when the
// tag is missing or fewer than four characters follow it.
bool TakeFourAfter(const std::string& text, const char* szTag, std::string& out) {
  size_t pos = text.find(szTag);
  if (pos == std::string::npos) return false;
  pos += 4;
  if (text.size() < pos + 4) return false;
  out = text.substr(pos, 4);
  return true;
}

// Pattern characters are compared with the wanted upper-case hex digits; an X
// stands for any digit.
bool MatchesFour(const std::string& pattern, const char* szWanted) {
  for (size_t i = 0; i < 4; ++i) {
    if (pattern[i] != 'X' && pattern[i] != szWanted[i]) return false;
  }
  return true;
}

}  // namespace

CDeviceIdMgr::CDeviceIdMgr(IDeviceIdStore& store, IHidPlatform& platform)
    : m_Store(store), m_Platform(platform) {}

int CDeviceIdMgr::GetDeviceIdGroupFromRegistry(const std::string& szGroupName) {
  qrt::diag::TraceFormat("[CDeviceIdMgr::GetDeviceIdGroupFromRegistry] %s\n", szGroupName.c_str());
  if (!m_Store.OpenGroup(szGroupName)) return 1;

  m_vRawLines.clear();
  m_mapDeviceIds.clear();
  for (int n = 1;; ++n) {
    std::string szValue;
    if (!m_Store.ReadValue(szGroupName, std::to_string(n), szValue)) break;
    qrt::diag::Trace(szValue);
    qrt::diag::Trace("\n");
    m_vRawLines.push_back(std::move(szValue));
  }

  for (const std::string& line : m_vRawLines) {
    size_t pos = line.find(',');
    if (pos == std::string::npos) {
      qrt::diag::Trace("*** Can't found split character pos == tstring::npos *****\n");
      continue;
    }
    std::string szPattern = TrimSpaces(line.substr(0, pos));
    std::string szCipher = TrimSpaces(line.substr(pos + 1));
    if (szPattern.empty() || szCipher.empty()) return 2;

    std::string szPlain;
    if (QRT_Decrypt(szCipher, szPlain) != 0) {
      qrt::diag::Trace("***** QRT_Decrypt FAIL! *****\n");
      continue;
    }
    if (szPlain != szPattern) {
      qrt::diag::Trace("*****Decrypt device id NOT match *****\n");
      qrt::diag::TraceFormat("PlainText = %s\n", szPlain.c_str());
      qrt::diag::TraceFormat("ExceptText = %s\n", szPattern.c_str());
      continue;
    }
    m_mapDeviceIds.emplace(szPattern, szCipher);  // a repeated pattern keeps the first entry
  }
  return 0;
}

bool CDeviceIdMgr::IsDeviceIdContainGroupEx(uint16_t wVID, uint16_t wPID) const {
  qrt::diag::TraceFormat("[CDeviceIdMgr::IsDeviceIdContainGroupEx] VID = 0x%.4X, PID = 0x%.4X\n",
                         wVID, wPID);
  char szVid[8];
  char szPid[8];
  std::snprintf(szVid, sizeof(szVid), "%.4X", wVID);
  std::snprintf(szPid, sizeof(szPid), "%.4X", wPID);

  for (const auto& entry : m_mapDeviceIds) {
    std::string upper = entry.first;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::string vidPattern;
    std::string pidPattern;
    if (!TakeFourAfter(upper, "VID_", vidPattern) || !TakeFourAfter(upper, "PID_", pidPattern)) {
      continue;
    }
    qrt::diag::TraceFormat("VID = 0x%.4X, PID = 0x%.4X\n", wVID, wPID);
    if (MatchesFour(vidPattern, szVid) && MatchesFour(pidPattern, szPid)) return true;
  }
  return false;
}

int CDeviceIdMgr::SearchPresentDevice(DEVICE_LIST& list) const {
  qrt::diag::Trace("[CDeviceIdMgr::SearchPresentDevice]\n");
  std::vector<std::string> vNames;
  if (!EnumerateUsbDosDevices(m_Platform, vNames)) return 1;
  for (const std::string& name : vNames) {
    uint16_t wVID = 0;
    uint16_t wPID = 0;
    if (ParseVidPid(name, wVID, wPID) != 0) continue;
    if (!IsDeviceIdContainGroupEx(wVID, wPID)) continue;
    DeviceListAdd(list, wVID, wPID);  // skips listed pairs; stops growing at 128
  }
  return 0;
}

}  // namespace USB42XX_MGR
