#include "UsbHidMgr.h"

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

std::unique_ptr<IHidDevice> CUsbHidMgr::OpenDevice(uint16_t wVID, uint16_t wPID, uint8_t btLayout) {
  uint32_t dwWanted = OutputReportLengthOfLayout(btLayout);
  std::vector<HID_COLLECTION_INFO> vCollections;
  if (!m_Platform.EnumerateHidCollections(vCollections)) return nullptr;
  for (const auto& info : vCollections) {
    if (info.wVID != wVID || info.wPID != wPID) continue;
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
    if (info.wVID != wVID || info.wPID != wPID) continue;
    if (auto pDevice = m_Platform.OpenCollection(info)) {
      if (pInfo != nullptr) *pInfo = info;
      return pDevice;
    }
  }
  return nullptr;
}

bool CUsbHidMgr::EnumerateBoards(std::vector<BOARD_INFO>& vBoards, bool bWithFailed) {
  BOARD_LIST_OPTIONS options;
  options.bWithFailed = bWithFailed;
  options.Lock = m_LockWait;
  return ListBoards(m_Platform, options, vBoards);
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
  if (!bArrival && !event.Board.szPath.empty()) {
    if (m_vRemovedPaths.size() >= 64) m_vRemovedPaths.erase(m_vRemovedPaths.begin());
    m_vRemovedPaths.push_back(event.Board.szPath);
  }
  uintptr_t wParam = bArrival ? kDbtDeviceArrival : kDbtDeviceRemoveComplete;
  Trace(bArrival ? "##### DBT_DEVICEARRIVAL #####\n" : "##### DBT_DEVICEREMOVECOMPLETE #####\n");
  const uint16_t wVID = event.Board.wVID, wPID = event.Board.wPID;
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

// ---- register level ----

int CUsbHidMgr::WriteRegister(IHidDevice& device, uint16_t wAddress, const uint8_t* pData,
                              uint8_t btLength, uint8_t btLayout, uint8_t btReportId) {
  return protocol::WriteRegister(device, wAddress, pData, btLength, btLayout, btReportId);
}

int CUsbHidMgr::ReadRegister(IHidDevice& device, uint16_t wAddress, uint8_t* pData,
                             uint8_t btLength, uint8_t btLayout, uint8_t btReportId) {
  return protocol::ReadRegister(device, wAddress, pData, btLength, btLayout, btReportId);
}

int CUsbHidMgr::ReadChipId(IHidDevice& device, uint16_t& wChipId, uint8_t btLayout,
                           uint8_t btReportId) {
  return protocol::ReadChipId(device, wChipId, btLayout, btReportId);
}

int CUsbHidMgr::WaitI2CReady(IHidDevice& device, uint32_t dwTimeOutMs, uint8_t btLayout,
                             uint8_t btReportId) {
  return protocol::WaitI2CReady({&device, m_Platform, btLayout}, dwTimeOutMs, btReportId);
}

// ---- device level ----

std::unique_ptr<CBoardHandle> CUsbHidMgr::OpenOfLayout(uint16_t wVID, uint16_t wPID,
                                                       uint8_t btLayout, int* pnCode) {
  BOARD_OPEN_RESULT result;
  std::unique_ptr<CBoardHandle> pHandle =
      OpenBoardLayout(m_Platform, wVID, wPID, btLayout, m_LockWait, result);
  *pnCode = result.eResult == EBoardOpen::kInUse ? kDeviceLockNotHad : -1;
  return pHandle;
}

int CUsbHidMgr::GetChipInformation(uint16_t wVID, uint16_t wPID, uint16_t& wChipId,
                                   uint8_t& btReportId, uint32_t& dwOutputReportLength,
                                   std::string* pszWhyNot) {
  protocol::CHIP_PROBE probe;
  const int r = protocol::ProbeChip(
      [&](uint8_t btLayout, uint8_t btId, uint16_t& wId) {
        int nCode = 0;
        std::unique_ptr<CBoardHandle> pHandle = OpenOfLayout(wVID, wPID, btLayout, &nCode);
        if (!pHandle) return protocol::kProbeNotOpened;
        return pHandle->ReadChipId(wId, btId);
      },
      probe, pszWhyNot);
  if (r != 0) return 1;
  wChipId = probe.wChipId;
  btReportId = probe.btReportIdFlag;
  dwOutputReportLength = probe.dwOutputReportLength;
  return 0;
}

int CUsbHidMgr::ProbeDevice(uint16_t wVID, uint16_t wPID) {
  uint16_t wChipId = 0;
  uint8_t btFlag = 0;
  uint32_t dwLength = 0;
  return GetChipInformation(wVID, wPID, wChipId, btFlag, dwLength) == 0 ? 1 : 0;
}

int CUsbHidMgr::SetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress,
                                const uint8_t* pData, uint8_t btLength, uint8_t btLayout,
                                uint8_t btReportId) {
  int nCode = 0;
  std::unique_ptr<CBoardHandle> pHandle = OpenOfLayout(wVID, wPID, btLayout, &nCode);
  if (!pHandle) return nCode;
  return pHandle->WriteRegister(wAddress, pData, btLength, btReportId);
}

int CUsbHidMgr::GetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress, uint8_t* pData,
                                uint8_t btLength, uint8_t btLayout, uint8_t btReportId) {
  int nCode = 0;
  std::unique_ptr<CBoardHandle> pHandle = OpenOfLayout(wVID, wPID, btLayout, &nCode);
  if (!pHandle) return nCode;
  return pHandle->ReadRegister(wAddress, pData, btLength, btReportId);
}

int CUsbHidMgr::WriteI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress,
                         const uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
                         const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
                         uint8_t btLayout, uint8_t btReportId) {
  int nCode = 0;
  std::unique_ptr<CBoardHandle> pHandle = OpenOfLayout(wVID, wPID, btLayout, &nCode);
  if (pHandle) {
    return pHandle->WriteI2C(btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress, dwDelayMs,
                             btReportId);
  }
  if (nCode == kDeviceLockNotHad) return nCode;
  // The argument checks still come first; then -1 for the device.
  return protocol::WriteI2C({nullptr, m_Platform, btLayout}, btMode, wAddress, pData, wLength,
                            dwTimeOutMs, fnProgress, dwDelayMs, btReportId);
}

int CUsbHidMgr::ReadI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress,
                        uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
                        const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs,
                        uint8_t btLayout, uint8_t btReportId) {
  int nCode = 0;
  std::unique_ptr<CBoardHandle> pHandle = OpenOfLayout(wVID, wPID, btLayout, &nCode);
  if (pHandle) {
    return pHandle->ReadI2C(btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress, dwDelayMs,
                            btReportId);
  }
  if (nCode == kDeviceLockNotHad) return nCode;
  return protocol::ReadI2C({nullptr, m_Platform, btLayout}, btMode, wAddress, pData, wLength,
                           dwTimeOutMs, fnProgress, dwDelayMs, btReportId);
}

int CUsbHidMgr::ReadI2C_ByMode(uint16_t wVID, uint16_t wPID, uint8_t btSlaveAddress,
                               uint8_t btWordAddress, int nAutoIncrement, uint8_t btMode,
                               uint8_t* pData, int nLength, uint32_t dwTimeOutMs,
                               uint32_t dwDelayMs, uint8_t btLayout, uint8_t btReportId) {
  int nCode = 0;
  std::unique_ptr<CBoardHandle> pHandle = OpenOfLayout(wVID, wPID, btLayout, &nCode);
  if (pHandle) {
    return pHandle->ReadI2C_ByMode(btSlaveAddress, btWordAddress, nAutoIncrement, btMode, pData,
                                   nLength, dwTimeOutMs, dwDelayMs, btReportId);
  }
  if (nCode == kDeviceLockNotHad) return nCode;
  return protocol::ReadI2C_ByMode({nullptr, m_Platform, btLayout}, btSlaveAddress, btWordAddress,
                                  nAutoIncrement, btMode, pData, nLength, dwTimeOutMs, dwDelayMs,
                                  btReportId);
}

}  // namespace USB42XX_MGR
