#include "BoardHandle.h"

#include <algorithm>

#include "Trace.h"
#include "platform/HidPlatform.h"

namespace USB42XX_MGR {
namespace {

BOARD_ID IdOf(const HID_COLLECTION_INFO& info) {
  BOARD_ID id;
  id.szPath = info.szPath;
  id.wVID = info.wVID;
  id.wPID = info.wPID;
  id.szUsbSerial = info.szSerial;
  id.szUsbTopology = info.szUsbTopology;
  return id;
}

// A collection a chip's vendor interface can be: its output reports have one
// of the three layouts' lengths.
bool HasChipLength(const HID_COLLECTION_INFO& info) {
  const uint32_t n = info.dwOutputReportByteLength;
  return n == 5 || n == 8 || n == 4;
}

std::vector<HID_COLLECTION_INFO> OnPath(const std::vector<HID_COLLECTION_INFO>& vAll,
                                        const std::string& szPath) {
  std::vector<HID_COLLECTION_INFO> v;
  std::copy_if(vAll.begin(), vAll.end(), std::back_inserter(v),
               [&](const HID_COLLECTION_INFO& info) { return info.szPath == szPath; });
  return v;
}

// The board's collections: those on its path, or (no path) those on the path
// of its pair's first collection. Empty when it is not listed.
std::vector<HID_COLLECTION_INFO> BoardCollections(IHidPlatform& platform, const BOARD_ID& id) {
  std::vector<HID_COLLECTION_INFO> vAll;
  if (!platform.EnumerateHidCollections(vAll)) return {};
  const auto first = std::find_if(vAll.begin(), vAll.end(), [&](const HID_COLLECTION_INFO& info) {
    const bool bPair = info.wVID == id.wVID && info.wPID == id.wPID;
    return id.szPath.empty() ? bPair : info.szPath == id.szPath && (id.wVID == 0 || bPair);
  });
  if (first == vAll.end()) return {};
  return OnPath(vAll, first->szPath);
}

// The first collection whose output report length fits the layout and that
// opens.
std::unique_ptr<IHidDevice> OpenOfLayout(IHidPlatform& platform,
                                         const std::vector<HID_COLLECTION_INFO>& vCollections,
                                         uint8_t btLayout) {
  const uint32_t dwWanted = protocol::OutputReportLengthOfLayout(btLayout);
  for (const auto& info : vCollections) {
    if (info.dwOutputReportByteLength != dwWanted) continue;
    // A collection that does not open (held exclusively, gone) is skipped.
    if (auto pDevice = platform.OpenCollection(info)) return pDevice;
  }
  return nullptr;
}

// The probe through the board's collections; *ppAnswered (when given)
// receives the collection that answered, still open.
int ProbeCollections(IHidPlatform& platform, const std::vector<HID_COLLECTION_INFO>& vCollections,
                     protocol::CHIP_PROBE& probe, std::string* pszWhyNot,
                     std::unique_ptr<IHidDevice>* ppAnswered) {
  std::unique_ptr<IHidDevice> pLast;
  const int r = protocol::ProbeChip(
      [&](uint8_t btLayout, uint8_t btReportId, uint16_t& wChipId) {
        pLast = OpenOfLayout(platform, vCollections, btLayout);
        if (!pLast) return protocol::kProbeNotOpened;
        return protocol::ReadChipId(*pLast, wChipId, btLayout, btReportId);
      },
      probe, pszWhyNot);
  if (r == 0 && ppAnswered != nullptr) *ppAnswered = std::move(pLast);
  return r;
}

// The lock of the board at szPath, taken as wait says; null with result.
std::unique_ptr<IBoardLock> TakeLock(IHidPlatform& platform, const std::string& szPath,
                                     const BOARD_LOCK_WAIT& wait, BOARD_OPEN_RESULT& result) {
  std::string szError;
  std::unique_ptr<IBoardLock> pLock = platform.OpenBoardLock(szPath, szError);
  if (!pLock) {
    result.eResult = EBoardOpen::kLockFailed;
    result.szWhy = LockSetUpText(szError);
    return nullptr;
  }
  std::string szHolder;
  if (!AcquireBoardLock(*pLock, wait.dwTimeOutMs, wait.fnSleep, wait.fnWaiting, &szHolder)) {
    result.eResult = EBoardOpen::kInUse;
    result.szHolder = szHolder;
    result.szWhy = LockInUseText(*pLock, szHolder, wait.dwTimeOutMs);
    return nullptr;
  }
  return pLock;
}

}  // namespace

CBoardHandle::CBoardHandle(IHidPlatform& platform, BOARD_ID id, std::unique_ptr<IBoardLock> pLock)
    : m_Platform(platform),
      m_Clock(platform.TimeSourceOf(id.szPath)),
      m_Id(std::move(id)),
      m_pLock(std::move(pLock)) {}

CBoardHandle::~CBoardHandle() {
  m_pDevice.reset();
  if (m_pLock) m_pLock->Release();
}

protocol::REPORT_CHANNEL CBoardHandle::Channel() {
  return {m_pDevice.get(), m_Clock, m_btLayout};
}

int CBoardHandle::GetChipInformation(uint16_t& wChipId, uint8_t& btReportId,
                                     uint32_t& dwOutputReportLength) {
  std::vector<HID_COLLECTION_INFO> vAll;
  if (!m_Platform.EnumerateHidCollections(vAll)) return 1;
  protocol::CHIP_PROBE probe;
  if (ProbeCollections(m_Platform, OnPath(vAll, m_Id.szPath), probe, nullptr, nullptr) != 0) {
    return 1;
  }
  wChipId = probe.wChipId;
  btReportId = probe.btReportIdFlag;
  dwOutputReportLength = probe.dwOutputReportLength;
  return 0;
}

int CBoardHandle::ReadChipId(uint16_t& wChipId, uint8_t btReportId) {
  if (!m_pDevice) return -1;
  return protocol::ReadChipId(*m_pDevice, wChipId, m_btLayout, btReportId);
}

int CBoardHandle::WriteRegister(uint16_t wAddress, const uint8_t* pData, uint8_t btLength,
                                uint8_t btReportId) {
  if (!m_pDevice || m_pDevice->IsGone()) return -1;
  return protocol::WriteRegister(*m_pDevice, wAddress, pData, btLength, m_btLayout, btReportId);
}

int CBoardHandle::ReadRegister(uint16_t wAddress, uint8_t* pData, uint8_t btLength,
                               uint8_t btReportId) {
  if (!m_pDevice || m_pDevice->IsGone()) return -1;
  return protocol::ReadRegister(*m_pDevice, wAddress, pData, btLength, m_btLayout, btReportId);
}

int CBoardHandle::WriteI2C(uint8_t btMode, uint16_t wAddress, const uint8_t* pData,
                           uint16_t wLength, uint32_t dwTimeOutMs,
                           const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
                           uint8_t btReportId) {
  return protocol::WriteI2C(Channel(), btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress,
                            dwDelayMs, btReportId);
}

int CBoardHandle::ReadI2C(uint8_t btMode, uint16_t wAddress, uint8_t* pData, uint16_t wLength,
                          uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress,
                          uint32_t dwDelayMs, uint8_t btReportId) {
  return protocol::ReadI2C(Channel(), btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress,
                           dwDelayMs, btReportId);
}

int CBoardHandle::ReadI2C_ByMode(uint8_t btSlaveAddress, uint8_t btWordAddress,
                                 int nAutoIncrement, uint8_t btMode, uint8_t* pData, int nLength,
                                 uint32_t dwTimeOutMs, uint32_t dwDelayMs, uint8_t btReportId) {
  return protocol::ReadI2C_ByMode(Channel(), btSlaveAddress, btWordAddress, nAutoIncrement, btMode,
                                  pData, nLength, dwTimeOutMs, dwDelayMs, btReportId);
}

void CBoardHandle::DelayMs(uint32_t dwMilliseconds) {
  if (dwMilliseconds != 0) m_Clock.Sleep(dwMilliseconds);
}

std::unique_ptr<CBoardHandle> OpenBoard(IHidPlatform& platform, const BOARD_ID& id,
                                        const BOARD_LOCK_WAIT& wait, BOARD_OPEN_RESULT& result) {
  result = BOARD_OPEN_RESULT{};
  const std::vector<HID_COLLECTION_INFO> vCollections = BoardCollections(platform, id);
  if (vCollections.empty()) {
    result.eResult = EBoardOpen::kGone;
    result.szWhy = "the board is gone";
    return nullptr;
  }
  std::unique_ptr<IBoardLock> pLock = TakeLock(platform, vCollections.front().szPath, wait, result);
  if (!pLock) return nullptr;
  std::unique_ptr<CBoardHandle> pHandle(
      new CBoardHandle(platform, IdOf(vCollections.front()), std::move(pLock)));
  std::string szWhyNot;
  if (ProbeCollections(platform, vCollections, pHandle->m_Probe, &szWhyNot, &pHandle->m_pDevice) !=
      0) {
    // No collection opened for any layout, or the board was pulled out
    // during its probe: it left since it was listed.
    const bool bGone = szWhyNot.empty() || BoardCollections(platform, pHandle->m_Id).empty();
    result.eResult = bGone ? EBoardOpen::kGone : EBoardOpen::kProbeFailed;
    result.szWhy = bGone ? "the board is gone" : "chip probe failed: " + szWhyNot;
    return nullptr;
  }
  pHandle->m_btLayout = pHandle->m_Probe.btLayout;
  return pHandle;
}

std::unique_ptr<CBoardHandle> OpenBoardLayout(IHidPlatform& platform, uint16_t wVID, uint16_t wPID,
                                              uint8_t btLayout, const BOARD_LOCK_WAIT& wait,
                                              BOARD_OPEN_RESULT& result) {
  result = BOARD_OPEN_RESULT{};
  std::vector<HID_COLLECTION_INFO> vAll;
  if (platform.EnumerateHidCollections(vAll)) {
    const uint32_t dwWanted = protocol::OutputReportLengthOfLayout(btLayout);
    for (const auto& info : vAll) {
      if (info.wVID != wVID || info.wPID != wPID || info.dwOutputReportByteLength != dwWanted) {
        continue;
      }
      std::unique_ptr<IBoardLock> pLock = TakeLock(platform, info.szPath, wait, result);
      if (!pLock) {
        if (result.eResult == EBoardOpen::kInUse) return nullptr;
        continue;  // the node went or does not open: as a collection that does not open
      }
      std::unique_ptr<CBoardHandle> pHandle(new CBoardHandle(platform, IdOf(info), std::move(pLock)));
      pHandle->m_pDevice = platform.OpenCollection(info);
      if (!pHandle->m_pDevice) continue;
      pHandle->m_btLayout = btLayout;
      result = BOARD_OPEN_RESULT{};
      return pHandle;
    }
  }
  result.eResult = EBoardOpen::kGone;
  result.szWhy = "the board is gone";
  return nullptr;
}

bool ListBoards(IHidPlatform& platform, const BOARD_LIST_OPTIONS& options,
                std::vector<BOARD_INFO>& vBoards) {
  vBoards.clear();
  std::vector<HID_COLLECTION_INFO> vAll;
  if (!platform.EnumerateHidCollections(vAll)) return false;
  bool bAnyFailed = false;
  for (size_t i = 0; i < vAll.size(); ++i) {
    const HID_COLLECTION_INFO& info = vAll[i];
    bool bSeen = false;
    for (size_t j = 0; j < i && !bSeen; ++j) bSeen = vAll[j].szPath == info.szPath;
    if (bSeen) continue;
    const std::vector<HID_COLLECTION_INFO> vPath = OnPath(vAll, info.szPath);
    if (std::none_of(vPath.begin(), vPath.end(), HasChipLength)) continue;
    BOARD_INFO board;
    board.Id = IdOf(info);
    BOARD_OPEN_RESULT result;
    std::unique_ptr<IBoardLock> pLock = TakeLock(platform, info.szPath, options.Lock, result);
    if (!pLock) {
      // Another program works on it: listed, not probed (its reports would
      // interleave with that program's). A node that went is not listed.
      board.szHeldBy = result.szHolder;
      if (result.eResult == EBoardOpen::kInUse) vBoards.push_back(std::move(board));
      continue;
    }
    protocol::CHIP_PROBE probe;
    const int r = ProbeCollections(platform, vPath, probe, &board.szProbeFailure, nullptr);
    pLock->Release();
    if (r != 0) {
      // No collection of a chip's report length opened: not a chip of this
      // kind. One opened and did not answer: a present board.
      if (board.szProbeFailure.empty() || !options.bWithFailed) continue;
      bAnyFailed = true;
    }
    board.wChipId = probe.wChipId;
    board.btLayout = probe.btLayout;
    vBoards.push_back(std::move(board));
  }
  if (!bAnyFailed) return true;
  // A board pulled out during its probe fails it too: only one still listed
  // afterwards counts.
  std::vector<HID_COLLECTION_INFO> vNow;
  const bool bListed = platform.EnumerateHidCollections(vNow);
  std::erase_if(vBoards, [&](const BOARD_INFO& board) {
    if (board.szProbeFailure.empty()) return false;
    if (!bListed || OnPath(vNow, board.Id.szPath).empty()) return true;
    qrt::diag::TraceFormat("***** %s: the chip probe failed: %s *****\n", board.Id.szPath.c_str(),
                           board.szProbeFailure.c_str());
    return false;
  });
  return true;
}

}  // namespace USB42XX_MGR
