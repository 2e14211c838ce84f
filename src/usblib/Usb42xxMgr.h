#pragma once
// CUsb42xxMgr, the pair-based facade the window's device search relies on:
// device search, the active device and its report layout, chip information,
// register access and EEPROM transfers by VID/PID, and hot-plug turned into
// calls of the program's device-change callback. Each operation runs under
// the system-wide HID mutex (re-entrant for its owner thread); a device
// operation also opens its board through a board handle, under that board's
// own lock. Transfers of the engine open their board directly
// (BoardHandle.h) and never need the facade.
//
// Hot-plug: the platform's event object (GetDeviceEventHandle) is signalled
// while events are pending. The window watches it with a notifier and calls
// DispatchDeviceEvents on the GUI thread. Each event runs the transport's
// device-change path (probe on arrival) and then OnHidDeviceChange, which
// calls the program's callback.
// Without an event object (kNoNativeEvent) nothing arrives and the program's
// periodic poll keeps its list current.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceIdMgr.h"
#include "DeviceList.h"
#include "UsbHidMgr.h"

namespace USB42XX_MGR {

class CNamedMutex;
class IDeviceIdStore;

// The machine's three system-wide mutex names; only the HID mutex is
// waited on. A facade uses its platform's names (IHidPlatform::MutexNames).
inline constexpr const char* kAudioMutexName = kBoardMutexNames.pszAudio;
inline constexpr const char* kHidMutexName = kBoardMutexNames.pszHid;
inline constexpr const char* kSpeakerMutexName = kBoardMutexNames.pszSpeaker;

class CUsb42xxMgr {
 public:
  // platform: the HID backend (Linux hidraw, or the simulator). store: the
  // device-id groups (on Linux a CIniDeviceIdStore over
  // /etc/qrt4250/deviceid-groups.ini). Neither is owned; both must outlive
  // the facade. szLockDir: folder of the named mutexes' lock files; empty
  // means CNamedMutex::DefaultLockDirectory(). dwLockTimeOutMs bounds the
  // wait of each operation's own device lock, the first selection's
  // included (see SetDeviceLockTimeOut). Construction loads the four
  // groups, opens the mutexes and selects a first active device (with the
  // device-id check on, so only AUDIO-group devices qualify).
  CUsb42xxMgr(IHidPlatform& platform, IDeviceIdStore& store, const std::string& szLockDir = {},
              uint32_t dwLockTimeOutMs = UINT32_MAX);
  ~CUsb42xxMgr();
  CUsb42xxMgr(const CUsb42xxMgr&) = delete;
  CUsb42xxMgr& operator=(const CUsb42xxMgr&) = delete;

  // Outcome of the construction, for diagnostics only: 0; 1 the mutexes
  // could not be set up (operations then run unlocked, no first device was
  // selected, and LockDevice refuses); 2 the first selection failed.
  int GetConstructionCode() const { return m_nConstructionCode; }
  // The default lock folder's fall-back notice (see
  // CNamedMutex::DefaultLockDirectory); empty when the shared folder is
  // used or a folder was given.
  const std::string& GetLockNotice() const { return m_szLockNotice; }

  // Takes the device lock for a whole transfer, waiting at most dwTimeOutMs,
  // re-entrant like every operation's own lock. Returns 0,
  // or 1 with szError set for the user when the lock could not be set up or
  // another process held it for the whole wait; nothing is sent then.
  // Every 0 must be paired with UnlockDevice.
  int LockDevice(uint32_t dwTimeOutMs, const DEVICE_LOCK_WAIT_CALLBACK& fnWaiting,
                 std::string& szError);
  void UnlockDevice();
  // Who holds the device lock, for the user: "process 1234 (qrt4250-cli)",
  // "another process" when the system does not tell; empty without a lock.
  std::string DescribeDeviceLockHolder() const;

  // Bounds the wait of each operation's own lock and of the board locks its
  // device operations take (default: no limit). An operation that cannot
  // have them returns kDeviceLockNotHad (a selection returns -1 or 1)
  // without touching the device.
  void SetDeviceLockTimeOut(uint32_t dwTimeOutMs) {
    m_dwLockTimeOutMs = dwTimeOutMs;
    UpdateBoardLockWait();
  }
  // Replaces DeviceLockSleep in the lock waits (tests: a virtual clock).
  void SetDeviceLockSleep(std::function<void(uint32_t)> fnSleep) {
    m_fnLockSleep = std::move(fnSleep);
    UpdateBoardLockWait();
  }

  // Present devices: with the check on, USB devices in the AUDIO group;
  // with it off, devices whose chip answers the probe. Zeroes list first.
  // Returns 0 (possibly none listed) or 1 when the enumeration failed.
  int Search_Present_Device(DEVICE_LIST& list);
  // Present boards: the pairs Search_Present_Device lists (with the check
  // off also the pair of every board that answers its own probe or whose
  // lock another program holds), each
  // repeated once per present board of that pair (so two identical boards
  // give two equal entries), in the search's order. pBoards (when given)
  // receives the boards of the entries, index for index; a board of a
  // listed pair whose probe failed is there too, with szProbeFailure set.
  // Returns 0, or 1 when the search failed. A pair whose boards cannot be
  // listed keeps its one entry (its board has an empty path then).
  int Search_Present_Boards(DEVICE_LIST& list, std::vector<BOARD_INFO>* pBoards = nullptr);
  // Every board that answers the chip probe (or whose lock another program
  // holds), whatever the device-id check. Returns 0, or 1 when the
  // enumeration failed.
  int EnumerateBoards(std::vector<BOARD_INFO>& vBoards);

  // Stores the check flag, then re-selects the active device. Returns 0, or
  // 1 when the selection failed.
  int SetCheckDeviceId(int nValue);
  // Makes the pair the active device when it is present (0/0: the first
  // present one). A pair not present changes nothing and returns 0. Returns
  // 1 when the search or the chip identification failed.
  int SetActiveDevice(uint16_t wVID, uint16_t wPID);
  int GetActiveDevice(uint16_t& wVID, uint16_t& wPID);
  int SetDeviceChange(DEVICE_CHANGE_CALLBACK fnCallback);

  // Device operations on the pair the caller passes, with the active
  // device's report layout, under the device lock. -1: the device did not
  // open; other codes as in CUsbHidMgr.
  int GetChipInformation(uint16_t wVID, uint16_t wPID, uint16_t& wChipId, uint8_t& btReportId,
                         uint32_t& dwOutputReportLength);
  int GetInputReportLength(uint16_t wVID, uint16_t wPID, uint32_t& dwLength);
  int SetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress, const uint8_t* pData,
                      uint8_t btLength, uint8_t btReportId);
  int GetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress, uint8_t* pData,
                      uint8_t btLength, uint8_t btReportId);
  int WriteI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress,
               const uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
               const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs, uint8_t btReportId);
  int ReadI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress, uint8_t* pData,
              uint16_t wLength, uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress,
              uint32_t dwDelayMs, uint8_t btReportId);
  int ReadI2C_ByMode(uint16_t wVID, uint16_t wPID, uint8_t btSlaveAddress, uint8_t btWordAddress,
                     int nAutoIncrement, uint8_t btMode, uint8_t* pData, int nLength,
                     uint32_t dwTimeOutMs, uint32_t dwDelayMs, uint8_t btReportId);

  // Hot-plug (see the top of this file).
  NATIVE_EVENT GetDeviceEventHandle() const { return m_UsbHidMgr.GetEventHandle(); }
  void DispatchDeviceEvents() { m_UsbHidMgr.DispatchEvents(); }
  // The board paths of the removals dispatched since the last call.
  std::vector<std::string> TakeRemovedBoardPaths() { return m_UsbHidMgr.TakeRemovedBoardPaths(); }

  // The transport's device-change handler. Returns 1 when the arriving
  // device stays active or a removal cleared the active device, else 0.
  int OnHidDeviceChange(uint16_t wVID, uint16_t wPID, WINDOW_HANDLE hWnd, uint32_t uMessage,
                        uintptr_t wParam, intptr_t lParam);

  // Selection of the active device (VID/PID 0: the first present one).
  // Returns 0, -1 when the search failed, 1 when the chip identification
  // failed (the new pair stays, with the previous layout).
  int __AutoInit_QRT_Usb(uint16_t wVID, uint16_t wPID);

  // State, for the program's displays and for tests.
  uint8_t GetReportType() const { return m_ReportType; }
  int GetCheckDeviceId() const { return m_IsCheckDeviceId; }
  bool HasDeviceLock() const { return m_hHidMutex != nullptr; }
  CUsbHidMgr& UsbHidMgr() { return m_UsbHidMgr; }
  const CDeviceIdMgr& SearchDeviceIdMgr() const { return *m_pSearchDeviceIdMgr; }

 private:
  class CDeviceLock;
  int ProbeSearch(DEVICE_LIST& list);
  void UpdateBoardLockWait() {
    m_UsbHidMgr.SetBoardLockWait({m_dwLockTimeOutMs, m_fnLockSleep, {}});
  }
  int OpenMutexes(IHidPlatform& platform, const std::string& szLockDir);

  // Owned members, constructed in this order and destroyed in reverse.
  CUsbHidMgr m_UsbHidMgr;
  CDeviceIdMgr m_UsbDeviceIdMgr;
  CDeviceIdMgr m_HidDeviceIdMgr;
  CDeviceIdMgr m_AudioDeviceIdMgr;
  CDeviceIdMgr m_HidSymDeviceIdMgr;
  std::string m_szGroupNames[4];

  uint16_t m_ActiveVID = 0;
  uint16_t m_ActivePID = 0;
  int m_IsCheckDeviceId = 1;
  uint8_t m_ReportType = 0;
  DEVICE_CHANGE_CALLBACK m_OnDeviceChangeCallback;
  std::unique_ptr<IBoardLock> m_hAudioMutex;
  std::unique_ptr<IBoardLock> m_hHidMutex;
  std::unique_ptr<IBoardLock> m_hSpeakerMutex;
  CDeviceIdMgr* m_pSearchDeviceIdMgr;
  int m_nConstructionCode = 0;
  std::string m_szLockError;  // why the mutexes could not be set up
  std::string m_szLockNotice;
  uint32_t m_dwLockTimeOutMs = UINT32_MAX;
  std::function<void(uint32_t)> m_fnLockSleep = DeviceLockSleep;
};

}  // namespace USB42XX_MGR
