#include "Usb42xxMgr.h"

#include <cinttypes>
#include <cstring>

#include "NamedMutex.h"
#include "Trace.h"

namespace USB42XX_MGR {

using qrt::diag::Trace;
using qrt::diag::TraceFormat;

// The device lock for one scope. A facade without the HID mutex (set-up
// failed) runs unlocked; a lock not had within the facade's wait leaves
// Held() false.
class CUsb42xxMgr::CDeviceLock {
 public:
  explicit CDeviceLock(CUsb42xxMgr& mgr) : m_pMutex(mgr.m_hHidMutex.get()) {
    if (m_pMutex != nullptr &&
        !AcquireBoardLock(*m_pMutex, mgr.m_dwLockTimeOutMs, mgr.m_fnLockSleep, {}, nullptr)) {
      m_pMutex = nullptr;
      m_bHeld = false;
    }
  }
  ~CDeviceLock() {
    if (m_pMutex != nullptr) m_pMutex->Release();
  }
  CDeviceLock(const CDeviceLock&) = delete;
  CDeviceLock& operator=(const CDeviceLock&) = delete;

  bool Held() const { return m_bHeld; }

 private:
  IBoardLock* m_pMutex;
  bool m_bHeld = true;
};

CUsb42xxMgr::CUsb42xxMgr(IHidPlatform& platform, IDeviceIdStore& store,
                         const std::string& szLockDir, uint32_t dwLockTimeOutMs)
    : m_UsbHidMgr(platform),
      m_UsbDeviceIdMgr(store, platform),
      m_HidDeviceIdMgr(store, platform),
      m_AudioDeviceIdMgr(store, platform),
      m_HidSymDeviceIdMgr(store, platform),
      m_pSearchDeviceIdMgr(&m_AudioDeviceIdMgr) {
  m_ActiveVID = 0;
  m_ActivePID = 0;
  m_IsCheckDeviceId = 1;
  m_ReportType = 0;
  m_dwLockTimeOutMs = dwLockTimeOutMs;
  UpdateBoardLockWait();

  m_szGroupNames[0] = kUsbDeviceIdGroupName;
  m_szGroupNames[1] = kHidDeviceIdGroupName;
  m_szGroupNames[2] = kAudioDeviceIdGroupName;
  m_szGroupNames[3] = kHidSymDeviceIdGroupName;
  // A group that does not load stays empty; nothing more to do about it here.
  m_UsbDeviceIdMgr.GetDeviceIdGroupFromRegistry(m_szGroupNames[0]);
  m_HidDeviceIdMgr.GetDeviceIdGroupFromRegistry(m_szGroupNames[1]);
  m_AudioDeviceIdMgr.GetDeviceIdGroupFromRegistry(m_szGroupNames[2]);
  m_HidSymDeviceIdMgr.GetDeviceIdGroupFromRegistry(m_szGroupNames[3]);

  m_UsbHidMgr.SetDeviceChangeHandler([this](uint16_t wVID, uint16_t wPID, WINDOW_HANDLE hWnd,
                                            uint32_t uMessage, uintptr_t wParam, intptr_t lParam) {
    return OnHidDeviceChange(wVID, wPID, hWnd, uMessage, wParam, lParam);
  });

  // Only mutexes in the lock folder need one.
  std::string szDir = szLockDir;
  if (szDir.empty() && platform.MutexesInLockFolder()) {
    szDir = CNamedMutex::DefaultLockDirectory(&m_szLockNotice);
  }
  if (OpenMutexes(platform, szDir) != 0) {
    m_nConstructionCode = 1;
    return;
  }
  m_nConstructionCode = __AutoInit_QRT_Usb(0, 0) != 0 ? 2 : 0;
}

CUsb42xxMgr::~CUsb42xxMgr() {
  // No event may reach a facade that is going away.
  m_UsbHidMgr.SetDeviceChangeHandler(nullptr);
  m_hAudioMutex.reset();
  m_hHidMutex.reset();
  m_hSpeakerMutex.reset();
}

int CUsb42xxMgr::OpenMutexes(IHidPlatform& platform, const std::string& szLockDir) {
  const DEVICE_MUTEX_NAMES& names = platform.MutexNames();
  int nError = 0;
  std::string szWhy;
  if (!platform.MutexesInLockFolder()) {
    m_hAudioMutex = platform.OpenBoardLock(names.pszAudio, szWhy);
    m_hHidMutex = platform.OpenBoardLock(names.pszHid, szWhy);
    m_hSpeakerMutex = platform.OpenBoardLock(names.pszSpeaker, szWhy);
  } else {
    m_hAudioMutex = CNamedMutex::Open(names.pszAudio, szLockDir, &nError);
    m_hHidMutex = CNamedMutex::Open(names.pszHid, szLockDir, &nError);
    m_hSpeakerMutex = CNamedMutex::Open(names.pszSpeaker, szLockDir, &nError);
    if (!m_hAudioMutex || !m_hHidMutex || !m_hSpeakerMutex) {
      // Create all three; a name that exists already yields the existing lock.
      m_hAudioMutex = CNamedMutex::Create(names.pszAudio, szLockDir, &nError);
      m_hHidMutex = CNamedMutex::Create(names.pszHid, szLockDir, &nError);
      m_hSpeakerMutex = CNamedMutex::Create(names.pszSpeaker, szLockDir, &nError);
    }
    szWhy = szLockDir + ": " + CNamedMutex::ErrorText(nError);
  }
  bool bFailed = !m_hAudioMutex || !m_hHidMutex || !m_hSpeakerMutex;
  if (bFailed) {
    TraceFormat("failed with error %d: %s\n", nError, std::strerror(nError));
    m_szLockError = szWhy;
  }
  // Windows' %p: upper-case hex digits, full width, no prefix of its own.
  const int nWidth = static_cast<int>(sizeof(void*) * 2);
  auto handle = [](const IBoardLock* p) { return reinterpret_cast<uintptr_t>(p); };
  TraceFormat("***** hAudio = 0x%0*" PRIXPTR ", hHid = 0x%0*" PRIXPTR ", hSpeaker = 0x%0*" PRIXPTR
              " *****\n",
              nWidth, handle(m_hAudioMutex.get()), nWidth, handle(m_hHidMutex.get()), nWidth,
              handle(m_hSpeakerMutex.get()));
  if (bFailed) {
    m_hAudioMutex.reset();
    m_hHidMutex.reset();
    m_hSpeakerMutex.reset();
    return 1;
  }
  return 0;
}

int CUsb42xxMgr::LockDevice(uint32_t dwTimeOutMs, const DEVICE_LOCK_WAIT_CALLBACK& fnWaiting,
                            std::string& szError) {
  // Running unlocked would let another program's reports interleave with a
  // transfer's: refuse instead.
  if (!m_hHidMutex) {
    szError = LockSetUpText(m_szLockError);
    return 1;
  }
  std::string szHolder;
  if (!AcquireBoardLock(*m_hHidMutex, dwTimeOutMs, m_fnLockSleep, fnWaiting, &szHolder)) {
    szError = LockInUseText(*m_hHidMutex, szHolder, dwTimeOutMs);
    return 1;
  }
  return 0;
}

void CUsb42xxMgr::UnlockDevice() {
  if (m_hHidMutex) m_hHidMutex->Release();
}

std::string CUsb42xxMgr::DescribeDeviceLockHolder() const {
  return m_hHidMutex ? m_hHidMutex->DescribeHolder() : std::string();
}

int CUsb42xxMgr::ProbeSearch(DEVICE_LIST& list) {
  std::vector<std::string> vNames;
  if (!m_UsbHidMgr.EnumerateUsbDosDevices(vNames)) return 1;
  for (const auto& szName : vNames) {
    // A full list takes nothing more; the remaining probes would be wasted.
    if (list.Number >= kMaxDeviceListEntries) break;
    uint16_t wVID = 0, wPID = 0;
    if (CUsbHidMgr::ParseVidPid(szName, wVID, wPID) != 0) continue;
    if (m_UsbHidMgr.ProbeDevice(wVID, wPID) == 0) continue;
    DeviceListAdd(list, wVID, wPID);
  }
  return 0;
}

int CUsb42xxMgr::__AutoInit_QRT_Usb(uint16_t wVID, uint16_t wPID) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return -1;
  DEVICE_LIST list;
  int r =
      m_IsCheckDeviceId == 1 ? m_pSearchDeviceIdMgr->SearchPresentDevice(list) : ProbeSearch(list);
  if (r != 0) return -1;
  if (list.Number == 0) return 0;
  if (wVID != 0 && wPID != 0) {
    if (!DeviceListContains(list, wVID, wPID)) return 0;
    m_ActiveVID = wVID;
    m_ActivePID = wPID;
  } else {
    m_ActiveVID = list.VID[0];
    m_ActivePID = list.PID[0];
  }
  uint16_t wChipId = 0;
  uint8_t btReportId = 0;
  uint32_t dwLength = 0;
  r = m_UsbHidMgr.GetChipInformation(m_ActiveVID, m_ActivePID, wChipId, btReportId, dwLength);
  if (r != 0) {
    TraceFormat("***** GetChipInformation FAIL! (ret = %d) *****\n", r);
    return 1;
  }
  m_ReportType = dwLength == 4 ? 1 : (dwLength == 8 ? 2 : 0);
  return 0;
}

int CUsb42xxMgr::Search_Present_Device(DEVICE_LIST& list) {
  list = DEVICE_LIST{};
  if (m_IsCheckDeviceId == 1) return m_pSearchDeviceIdMgr->SearchPresentDevice(list);
  return ProbeSearch(list);
}

int CUsb42xxMgr::EnumerateBoards(std::vector<BOARD_INFO>& vBoards) {
  CDeviceLock lock(*this);
  return m_UsbHidMgr.EnumerateBoards(vBoards) ? 0 : 1;
}

int CUsb42xxMgr::Search_Present_Boards(DEVICE_LIST& list, std::vector<BOARD_INFO>* pBoards) {
  CDeviceLock lock(*this);
  if (pBoards != nullptr) pBoards->clear();
  DEVICE_LIST pairs;
  if (Search_Present_Device(pairs) != 0) {
    list = DEVICE_LIST{};
    return 1;
  }
  std::vector<BOARD_INFO> vAll;
  m_UsbHidMgr.EnumerateBoards(vAll, true);  // a failure leaves one entry per pair
  if (m_IsCheckDeviceId != 1) {
    // Each board counts by its own probe: the search probes a pair through
    // its first board only, so a failure there must not hide the others. A
    // board another program holds is present too.
    for (const BOARD_INFO& board : vAll) {
      if (board.szProbeFailure.empty()) DeviceListAdd(pairs, board.Id.wVID, board.Id.wPID);
    }
  }
  list = DEVICE_LIST{};
  for (int i = 0; i < pairs.Number; ++i) {
    bool bAny = false;
    for (const BOARD_INFO& board : vAll) {
      if (board.Id.wVID != pairs.VID[i] || board.Id.wPID != pairs.PID[i]) continue;
      bAny = true;
      if (list.Number >= kMaxDeviceListEntries) break;
      list.VID[list.Number] = board.Id.wVID;
      list.PID[list.Number] = board.Id.wPID;
      ++list.Number;
      if (pBoards != nullptr) pBoards->push_back(board);
    }
    if (!bAny && list.Number < kMaxDeviceListEntries) {
      list.VID[list.Number] = pairs.VID[i];
      list.PID[list.Number] = pairs.PID[i];
      ++list.Number;
      if (pBoards != nullptr) {
        BOARD_INFO board;
        board.Id.wVID = pairs.VID[i];
        board.Id.wPID = pairs.PID[i];
        pBoards->push_back(board);
      }
    }
  }
  return 0;
}

int CUsb42xxMgr::SetCheckDeviceId(int nValue) {
  uint16_t wVID = 0, wPID = 0;
  {
    CDeviceLock lock(*this);
    m_IsCheckDeviceId = nValue;
    wVID = m_ActiveVID;
    wPID = m_ActivePID;
  }
  return __AutoInit_QRT_Usb(wVID, wPID) != 0 ? 1 : 0;
}

int CUsb42xxMgr::SetActiveDevice(uint16_t wVID, uint16_t wPID) {
  int r = __AutoInit_QRT_Usb(wVID, wPID);
  if (r != 0) {
    TraceFormat("***** __AutoInit_QRT_Usb FAIL! (ret = %d) *****\n", r);
    return 1;
  }
  return 0;
}

int CUsb42xxMgr::GetActiveDevice(uint16_t& wVID, uint16_t& wPID) {
  CDeviceLock lock(*this);
  wVID = m_ActiveVID;
  wPID = m_ActivePID;
  return 0;
}

int CUsb42xxMgr::SetDeviceChange(DEVICE_CHANGE_CALLBACK fnCallback) {
  CDeviceLock lock(*this);
  m_OnDeviceChangeCallback = std::move(fnCallback);
  return 0;
}

int CUsb42xxMgr::GetChipInformation(uint16_t wVID, uint16_t wPID, uint16_t& wChipId,
                                    uint8_t& btReportId, uint32_t& dwOutputReportLength) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.GetChipInformation(wVID, wPID, wChipId, btReportId, dwOutputReportLength);
}

int CUsb42xxMgr::GetInputReportLength(uint16_t wVID, uint16_t wPID, uint32_t& dwLength) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.GetInputReportLength(wVID, wPID, dwLength);
}

int CUsb42xxMgr::SetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress,
                                 const uint8_t* pData, uint8_t btLength, uint8_t btReportId) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.SetRegisterData(wVID, wPID, wAddress, pData, btLength, m_ReportType,
                                     btReportId);
}

int CUsb42xxMgr::GetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress, uint8_t* pData,
                                 uint8_t btLength, uint8_t btReportId) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.GetRegisterData(wVID, wPID, wAddress, pData, btLength, m_ReportType,
                                     btReportId);
}

int CUsb42xxMgr::WriteI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress,
                          const uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
                          const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
                          uint8_t btReportId) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.WriteI2C(wVID, wPID, btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress,
                              dwDelayMs, m_ReportType, btReportId);
}

int CUsb42xxMgr::ReadI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress,
                         uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
                         const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
                         uint8_t btReportId) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.ReadI2C(wVID, wPID, btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress,
                             dwDelayMs, m_ReportType, btReportId);
}

int CUsb42xxMgr::ReadI2C_ByMode(uint16_t wVID, uint16_t wPID, uint8_t btSlaveAddress,
                                uint8_t btWordAddress, int nAutoIncrement, uint8_t btMode,
                                uint8_t* pData, int nLength, uint32_t dwTimeOutMs,
                                uint32_t dwDelayMs, uint8_t btReportId) {
  CDeviceLock lock(*this);
  if (!lock.Held()) return kDeviceLockNotHad;
  return m_UsbHidMgr.ReadI2C_ByMode(wVID, wPID, btSlaveAddress, btWordAddress, nAutoIncrement,
                                    btMode, pData, nLength, dwTimeOutMs, dwDelayMs, m_ReportType,
                                    btReportId);
}

int CUsb42xxMgr::OnHidDeviceChange(uint16_t wVID, uint16_t wPID, WINDOW_HANDLE hWnd, uint32_t uMessage,
                                   uintptr_t wParam, intptr_t lParam) {
  TraceFormat("##### Device VID = 0x%.4X, PID = 0x%.4X #####\n", wVID, wPID);
  if (m_IsCheckDeviceId == 1 && !m_pSearchDeviceIdMgr->IsDeviceIdContainGroupEx(wVID, wPID)) {
    Trace("***** m_pSearchDeviceIdMgr->IsDeviceIdContainGroupEx = FALSE *****\n");
    return 0;
  }
  if (m_IsCheckDeviceId != 1 && wParam == kDbtDeviceRemoveComplete) {
    CDeviceLock lock(*this);
    if (wVID != m_ActiveVID || wPID != m_ActivePID) {
      Trace("***** Removing device is not QR device! *****\n");
      return 0;
    }
  }
  uint16_t wOldVID = 0, wOldPID = 0;
  uint8_t btOldType = 0;
  {
    CDeviceLock lock(*this);
    wOldVID = m_ActiveVID;
    wOldPID = m_ActivePID;
    btOldType = m_ReportType;
  }
  auto restore = [&] {
    CDeviceLock lock(*this);
    m_ActiveVID = wOldVID;
    m_ActivePID = wOldPID;
    m_ReportType = btOldType;
  };
  auto clear = [&] {
    CDeviceLock lock(*this);
    m_ActiveVID = 0;
    m_ActivePID = 0;
    m_ReportType = 0;
  };
  // Copy: the callback may install another one.
  DEVICE_CHANGE_CALLBACK fnCallback;
  {
    CDeviceLock lock(*this);
    fnCallback = m_OnDeviceChangeCallback;
  }

  if (wParam == kDbtDeviceArrival) {
    int r = __AutoInit_QRT_Usb(wVID, wPID);
    if (r != 0) {
      TraceFormat("***** __AutoInit_QRT_Usb FAIL! (ret = %d) *****\n", r);
      restore();
      return 0;
    }
    if (fnCallback && fnCallback(wVID, wPID, hWnd, uMessage, wParam, lParam) != 0) return 1;
    // Also undoes a selection the callback itself made.
    restore();
    return 0;
  }
  if (wParam == kDbtDeviceRemoveComplete) {
    if (fnCallback) {
      if (fnCallback(wVID, wPID, hWnd, uMessage, wParam, lParam) != 0) {
        clear();
        return 1;
      }
      return 0;
    }
    bool bActive = false;
    {
      CDeviceLock lock(*this);
      bActive = wVID == m_ActiveVID && wPID == m_ActivePID;
    }
    if (bActive) {
      clear();
      return 1;
    }
    return 0;
  }
  return 0;
}

}  // namespace USB42XX_MGR
