#include "UsbHidMgr.h"

#include <algorithm>
#include <cstdio>

#include "Trace.h"
#include "UsbDeviceNames.h"

namespace USB42XX_MGR {

using qrt::diag::Trace;
using qrt::diag::TraceFormat;

CUsbHidMgr::CUsbHidMgr(IHidPlatform& platform) : m_Platform(platform) {
  m_Platform.SetEventSink([this](const DEVICE_EVENT& event) { OnDeviceEvent(event); });
  if (m_Platform.GetEventHandle() == kNoNativeEvent) {
    // The library still works; the window's poll keeps the list current.
    Trace("***** Install the device change callback ERROR *****\n");
  } else {
    Trace("##### Install the device change callback OK #####\n");
  }
}

CUsbHidMgr::~CUsbHidMgr() {
  m_Platform.SetEventSink(nullptr);
}

uint32_t CUsbHidMgr::OutputReportLengthOfLayout(uint8_t btLayout) {
  switch (btLayout) {
    case 0:
      return 5;
    case 1:
      return 4;
    case 2:
      return 8;
    default:
      return btLayout;
  }
}

std::unique_ptr<IHidDevice> CUsbHidMgr::OpenDevice(uint16_t wVID, uint16_t wPID, uint8_t btLayout) {
  uint32_t dwWanted = OutputReportLengthOfLayout(btLayout);
  std::vector<HID_COLLECTION_INFO> vCollections;
  if (!m_Platform.EnumerateHidCollections(vCollections)) return nullptr;
  for (const auto& info : vCollections) {
    if (info.wVID != wVID || info.wPID != wPID || !OnBoardPath(info)) continue;
    if (info.dwOutputReportByteLength != dwWanted) continue;
    // A collection that does not open (held exclusively, gone) is skipped.
    if (auto pDevice = m_Platform.OpenCollection(info)) return pDevice;
  }
  return nullptr;
}

std::unique_ptr<IHidDevice> CUsbHidMgr::OpenFirstDevice(uint16_t wVID, uint16_t wPID,
                                                        HID_COLLECTION_INFO* pInfo) {
  std::vector<HID_COLLECTION_INFO> vCollections;
  if (!m_Platform.EnumerateHidCollections(vCollections)) return nullptr;
  for (const auto& info : vCollections) {
    if (info.wVID != wVID || info.wPID != wPID || !OnBoardPath(info)) continue;
    if (auto pDevice = m_Platform.OpenCollection(info)) {
      if (pInfo != nullptr) *pInfo = info;
      return pDevice;
    }
  }
  return nullptr;
}

bool BoardMatchesPath(const BOARD_INFO& board, const std::string& szText) {
  if (szText.empty()) return false;
  return szText == board.szPath || szText == board.szUsbTopology;
}

std::string BoardLabel(const BOARD_INFO& board, bool bWithPath) {
  char sz[40];
  std::snprintf(sz, sizeof sz, "VID = 0x%.4X, PID = 0x%.4X", board.wVID, board.wPID);
  return bWithPath && !board.szPath.empty() ? sz + (" (" + board.szPath + ")") : sz;
}

std::vector<std::string> BoardLabels(const std::vector<BOARD_INFO>& vBoards) {
  std::vector<std::string> vLabels;
  for (const BOARD_INFO& board : vBoards) {
    const bool bShared =
        std::count_if(vBoards.begin(), vBoards.end(), [&board](const BOARD_INFO& other) {
          return other.wVID == board.wVID && other.wPID == board.wPID;
        }) > 1;
    vLabels.push_back(BoardLabel(board, bShared));
  }
  return vLabels;
}

namespace {

bool PathListed(const std::vector<HID_COLLECTION_INFO>& vCollections, const std::string& szPath) {
  for (const auto& info : vCollections) {
    if (info.szPath == szPath) return true;
  }
  return false;
}

}  // namespace

bool CUsbHidMgr::EnumerateBoards(std::vector<BOARD_INFO>& vBoards, bool bWithFailed) {
  vBoards.clear();
  std::vector<HID_COLLECTION_INFO> vCollections;
  if (!m_Platform.EnumerateHidCollections(vCollections)) return false;
  const std::string szSaved = m_szBoardPath;
  bool bAnyFailed = false;
  for (size_t i = 0; i < vCollections.size(); ++i) {
    const HID_COLLECTION_INFO& info = vCollections[i];
    bool bSeen = false;
    for (size_t j = 0; j < i && !bSeen; ++j) bSeen = vCollections[j].szPath == info.szPath;
    if (bSeen) continue;
    // Probe this path only: the pair alone would reach the first board.
    m_szBoardPath = info.szPath;
    BOARD_INFO board;
    uint8_t btFlag = 0;
    uint32_t dwLength = 0;
    if (GetChipInformation(info.wVID, info.wPID, board.wChipId, btFlag, dwLength,
                           &board.szProbeFailure) != 0) {
      // No collection of a chip's report length opened: not a chip of this
      // kind. One opened and did not answer: a present board.
      if (board.szProbeFailure.empty() || !bWithFailed) continue;
      bAnyFailed = true;
    }
    board.szPath = info.szPath;
    board.wVID = info.wVID;
    board.wPID = info.wPID;
    board.btLayout = dwLength == 4 ? 1 : (dwLength == 8 ? 2 : 0);
    board.szUsbTopology = info.szUsbTopology;
    board.szSerial = info.szSerial;
    vBoards.push_back(std::move(board));
  }
  m_szBoardPath = szSaved;
  if (!bAnyFailed) return true;
  // A board pulled out during its probe fails it too: only one still listed
  // afterwards counts.
  std::vector<HID_COLLECTION_INFO> vNow;
  const bool bListed = m_Platform.EnumerateHidCollections(vNow);
  std::erase_if(vBoards, [&](const BOARD_INFO& board) {
    if (board.szProbeFailure.empty()) return false;
    if (!bListed || !PathListed(vNow, board.szPath)) return true;
    TraceFormat("***** %s: the chip probe failed: %s *****\n", board.szPath.c_str(),
                board.szProbeFailure.c_str());
    return false;
  });
  return true;
}

int CUsbHidMgr::GetInputReportLength(uint16_t wVID, uint16_t wPID, uint32_t& dwLength) {
  HID_COLLECTION_INFO info;
  if (!OpenFirstDevice(wVID, wPID, &info)) return -1;
  dwLength = info.dwInputReportByteLength;
  return 0;
}

bool CUsbHidMgr::EnumerateUsbDosDevices(std::vector<std::string>& vNames) {
  return USB42XX_MGR::EnumerateUsbDosDevices(m_Platform, vNames);
}

int CUsbHidMgr::ParseVidPid(const std::string& szName, uint16_t& wVID, uint16_t& wPID) {
  return USB42XX_MGR::ParseVidPid(szName, wVID, wPID);
}

void CUsbHidMgr::DelayMs(uint32_t dwMilliseconds) {
  if (dwMilliseconds == 0) return;
  m_Platform.Sleep(dwMilliseconds);
}

int CUsbHidMgr::SetDeviceChangeHandler(DEVICE_CHANGE_CALLBACK fnHandler) {
  m_fnDeviceChange = std::move(fnHandler);
  return 0;
}

int CUsbHidMgr::OnDeviceEvent(const DEVICE_EVENT& event) {
  bool bArrival = event.eKind == EDeviceEvent::Arrival;
  if (!bArrival && !event.szBoardPath.empty()) {
    if (m_vRemovedPaths.size() >= 64) m_vRemovedPaths.erase(m_vRemovedPaths.begin());
    m_vRemovedPaths.push_back(event.szBoardPath);
  }
  uintptr_t wParam = bArrival ? kDbtDeviceArrival : kDbtDeviceRemoveComplete;
  Trace(bArrival ? "##### DBT_DEVICEARRIVAL #####\n" : "##### DBT_DEVICEREMOVECOMPLETE #####\n");
  uint16_t wVID = 0, wPID = 0;
  ParseVidPid(event.szInterfaceName, wVID, wPID);
  TraceFormat("##### Device VID = 0x%.4X, PID = 0x%.4X #####\n", wVID, wPID);
  if (wVID == 0 || wPID == 0) {
    Trace("***** The Vid = 0, Pid = 0 *****\n");
    return 0;
  }
  if (bArrival) {
    if (ProbeDevice(wVID, wPID) == 0) {
      Trace("***** Inserting device is not QR device! *****\n");
      return 0;
    }
  }
  // Copy: the handler may replace itself.
  DEVICE_CHANGE_CALLBACK fnHandler = m_fnDeviceChange;
  if (!fnHandler) return 0;
  return fnHandler(wVID, wPID, nullptr, kWmDeviceChange, wParam, 0);
}

}  // namespace USB42XX_MGR
