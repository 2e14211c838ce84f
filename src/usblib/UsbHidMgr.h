#pragma once
// The device library's transport: finds and opens the chip's HID collection
// by VID, PID and report layout, lists the present USB devices, delays, turns
// the platform's hot-plug events into device-change calls, and carries the
// report protocol (register access, chip identification, the I2C master
// procedures that drive the configuration EEPROM).
//
// Every procedure opens the device itself and closes it before it returns;
// nothing is held open between calls. Results are status codes: 0 success,
// -1 the device did not open, otherwise the composite codes below.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BoardHandle.h"
#include "DeviceChange.h"
#include "ReportProtocol.h"
#include "platform/HidPlatform.h"

namespace USB42XX_MGR {

// (VID, PID, window handle, message, wParam, lParam) -> int. wParam is
// kDbtDeviceArrival or kDbtDeviceRemoveComplete; the window handle is null
// (the platform owns its notification window, if any) and lParam is 0.
using DEVICE_CHANGE_CALLBACK =
    std::function<int(uint16_t wVID, uint16_t wPID, WINDOW_HANDLE hWnd, uint32_t uMessage,
                      uintptr_t wParam, intptr_t lParam)>;

class CUsbHidMgr {
 public:
  // The platform is not owned and must outlive the transport. Installs the
  // transport as the platform's event sink.
  explicit CUsbHidMgr(IHidPlatform& platform);
  ~CUsbHidMgr();
  CUsbHidMgr(const CUsbHidMgr&) = delete;
  CUsbHidMgr& operator=(const CUsbHidMgr&) = delete;

  IHidPlatform& Platform() { return m_Platform; }

  // ---- transport ----

  // Output report length looked for per layout: 0 -> 5, 1 -> 4, 2 -> 8,
  // anything else -> itself.
  static uint32_t OutputReportLengthOfLayout(uint8_t btLayout) {
    return protocol::OutputReportLengthOfLayout(btLayout);
  }

  // How the device operations and the board listing wait for a board's
  // lock (default: without limit, in real time).
  void SetBoardLockWait(const BOARD_LOCK_WAIT& wait) { m_LockWait = wait; }

  // Every present board in enumeration order (ListBoards): one entry per
  // path whose collections answer the chip probe, or whose lock another
  // program held (szHeldBy). With bWithFailed, also the paths where a
  // collection opened but the probe failed and that are still listed
  // afterwards, each with szProbeFailure set. False when the enumeration
  // failed (vBoards is then empty).
  bool EnumerateBoards(std::vector<BOARD_INFO>& vBoards, bool bWithFailed = false);

  // First collection (enumeration order) of the pair whose output report
  // length matches the layout and that opens. Null when none does.
  std::unique_ptr<IHidDevice> OpenDevice(uint16_t wVID, uint16_t wPID, uint8_t btLayout);
  // The same without the length test. pInfo (when given) receives the
  // collection's description.
  std::unique_ptr<IHidDevice> OpenFirstDevice(uint16_t wVID, uint16_t wPID,
                                              HID_COLLECTION_INFO* pInfo = nullptr);

  // Input report length of the first collection of the pair (report-ID byte
  // included). Returns 0, or -1 when no collection of the pair opens.
  int GetInputReportLength(uint16_t wVID, uint16_t wPID, uint32_t& dwLength);

  // Present USB device names beginning with "USB#". False when the platform
  // enumeration failed.
  bool EnumerateUsbDosDevices(std::vector<std::string>& vNames);
  // See UsbDeviceNames.h: 0 both found, 1 no "VID_", 2 no "PID_".
  static int ParseVidPid(const std::string& szName, uint16_t& wVID, uint16_t& wPID);

  // Sleeps through the platform (the virtual clock in the simulator); 0
  // returns at once.
  void DelayMs(uint32_t dwMilliseconds);

  // Stores the device-change handler (may be empty). Returns 0.
  int SetDeviceChangeHandler(DEVICE_CHANGE_CALLBACK fnHandler);

  // Hot-plug: the platform's event object (kNoNativeEvent when it delivers
  // none) and the dispatch that runs the handler for each pending event. The
  // window watches the object with a notifier, the CLI waits on it.
  NATIVE_EVENT GetEventHandle() const { return m_Platform.GetEventHandle(); }
  void DispatchEvents() { m_Platform.DispatchEvents(); }

  // The device-change path for one event: arrival runs the chip probe and
  // calls the handler only for a device that answers; removal calls it
  // without a probe. Returns the handler's result, or 0.
  int OnDeviceEvent(const DEVICE_EVENT& event);

  // The board paths of the removals dispatched since the last call (each
  // once, in order; the last 64 when nobody asked for a long time), and
  // forgets them.
  std::vector<std::string> TakeRemovedBoardPaths() { return std::exchange(m_vRemovedPaths, {}); }

  // ---- register level (on an open device) ----
  //
  // Register exchange results: 0; 1 layout 1 with report ID 0; 2 layout 2
  // with report ID 0 (nothing sent); 3 the first output report was refused;
  // 4 the second output report was refused, or the input report failed.

  static int WriteRegister(IHidDevice& device, uint16_t wAddress, const uint8_t* pData,
                           uint8_t btLength, uint8_t btLayout, uint8_t btReportId);
  // Reads one byte (layouts 0, 1) or min(length, 4) bytes (layout 2) into
  // pData, which must hold btLength bytes (layouts 0 and 1: at least 1).
  static int ReadRegister(IHidDevice& device, uint16_t wAddress, uint8_t* pData, uint8_t btLength,
                          uint8_t btLayout, uint8_t btReportId);
  // 0 with the id; first read failing: its code + 1000, second: + 2000.
  static int ReadChipId(IHidDevice& device, uint16_t& wChipId, uint8_t btLayout,
                        uint8_t btReportId);
  // Polls the status register until the busy bit clears: 0 ready, 1 a status
  // read failed, -1 time-out (checked after every read), 2 ten reads made.
  int WaitI2CReady(IHidDevice& device, uint32_t dwTimeOutMs, uint8_t btLayout, uint8_t btReportId);

  // ---- device level (each opens the device, locked, and closes it) ----
  //
  // A board whose lock another program held for the whole wait answers
  // kDeviceLockNotHad and is not touched.

  // Probes layouts 0 (ID 0), 2 (ID 1), 1 (ID 1). 0 with the outputs when a
  // chip id with high byte 0x80 answered, 1 when none did (outputs unchanged).
  // pszWhyNot (when given) then receives why the last collection that opened
  // did not answer ("chip id not read (layout 0, code 1004)", "chip id
  // 0x8142 is not the maker's (layout 0)"), or is emptied when no collection
  // of the pair opened for any layout.
  int GetChipInformation(uint16_t wVID, uint16_t wPID, uint16_t& wChipId, uint8_t& btReportId,
                         uint32_t& dwOutputReportLength, std::string* pszWhyNot = nullptr);
  // 1 when some layout answered, else 0.
  int ProbeDevice(uint16_t wVID, uint16_t wPID);

  int SetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress, const uint8_t* pData,
                      uint8_t btLength, uint8_t btLayout, uint8_t btReportId);
  int GetRegisterData(uint16_t wVID, uint16_t wPID, uint16_t wAddress, uint8_t* pData,
                      uint8_t btLength, uint8_t btLayout, uint8_t btReportId);

  // EEPROM transfers through the I2C master. Mode 1 byte, 2 word. pData
  // holds wLength bytes. Failure codes are a stage base plus the sub-code of
  // the step that failed (see the table in ReportProtocol.cpp); bit 0 of
  // register 0x0100 is cleared again on every path after it was set.
  int WriteI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress,
               const uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
               const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs, uint8_t btLayout,
               uint8_t btReportId);
  int ReadI2C(uint16_t wVID, uint16_t wPID, uint8_t btMode, uint16_t wAddress, uint8_t* pData,
              uint16_t wLength, uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress,
              uint32_t dwDelayMs, uint8_t btLayout, uint8_t btReportId);
  // pData holds nLength bytes. A zero slave address leaves registers 0x0100
  // and 0x0110 alone (the caller has set them up).
  int ReadI2C_ByMode(uint16_t wVID, uint16_t wPID, uint8_t btSlaveAddress, uint8_t btWordAddress,
                     int nAutoIncrement, uint8_t btMode, uint8_t* pData, int nLength,
                     uint32_t dwTimeOutMs, uint32_t dwDelayMs, uint8_t btLayout,
                     uint8_t btReportId);

 private:
  // The pair's first collection of the layout, opened and locked; null with
  // *pnCode -1 (none opened) or kDeviceLockNotHad.
  std::unique_ptr<CBoardHandle> OpenOfLayout(uint16_t wVID, uint16_t wPID, uint8_t btLayout,
                                             int* pnCode);

  IHidPlatform& m_Platform;
  DEVICE_CHANGE_CALLBACK m_fnDeviceChange;
  BOARD_LOCK_WAIT m_LockWait;
  std::vector<std::string> m_vRemovedPaths;
};

}  // namespace USB42XX_MGR
