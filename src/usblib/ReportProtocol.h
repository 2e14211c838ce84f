#pragma once
// The report protocol on one open HID collection of the chip: register
// access, chip identification, the I2C master's busy wait and the EEPROM
// procedures. The board handle and the transport's per-call functions both
// run it. Failure codes: the table at the top of ReportProtocol.cpp.
#include <cstdint>
#include <functional>
#include <string>

namespace USB42XX_MGR {

class IHidDevice;
class ITimeSource;

// (total length, bytes completed before the current unit); result ignored.
using I2C_PROGRESS_CALLBACK = std::function<int(uint16_t wTotal, uint16_t wDone)>;

// No time limit for WaitI2CReady and the I2C procedures.
constexpr uint32_t kI2CNoTimeOut = 0xFFFFFFFF;

namespace protocol {

// One open collection with its report layout and the clock its waits and
// delays run on. pDevice null: the device did not open.
struct REPORT_CHANNEL {
  IHidDevice* pDevice;
  ITimeSource& Clock;
  uint8_t btLayout;
};

// Register exchanges: 0; 1 layout 1 with report ID 0; 2 layout 2 with report
// ID 0 (nothing sent); 3 the first output report was refused; 4 the second
// output report was refused, or the input report failed.
int WriteRegister(IHidDevice& device, uint16_t wAddress, const uint8_t* pData, uint8_t btLength,
                  uint8_t btLayout, uint8_t btReportId);
// Reads one byte (layouts 0, 1) or min(length, 4) bytes (layout 2) into
// pData, which must hold btLength bytes (layouts 0 and 1: at least 1).
int ReadRegister(IHidDevice& device, uint16_t wAddress, uint8_t* pData, uint8_t btLength,
                 uint8_t btLayout, uint8_t btReportId);
// 0 with the id; first read failing: its code + 1000, second: + 2000.
int ReadChipId(IHidDevice& device, uint16_t& wChipId, uint8_t btLayout, uint8_t btReportId);

// Polls the status register until the busy bit clears: 0 ready, 1 a status
// read failed, -1 time-out (checked after every read), 2 ten reads made.
int WaitI2CReady(const REPORT_CHANNEL& channel, uint32_t dwTimeOutMs, uint8_t btReportId);

// EEPROM transfers through the I2C master. Mode 1 byte, 2 word. pData holds
// wLength bytes. -1 when the device did not open or has left; bit 0 of
// register 0x0100 is cleared again on every path after it was set.
int WriteI2C(const REPORT_CHANNEL& channel, uint8_t btMode, uint16_t wAddress,
             const uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
             const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs, uint8_t btReportId);
int ReadI2C(const REPORT_CHANNEL& channel, uint8_t btMode, uint16_t wAddress, uint8_t* pData,
            uint16_t wLength, uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress,
            uint32_t dwDelayMs, uint8_t btReportId);
// pData holds nLength bytes. A zero slave address leaves registers 0x0100
// and 0x0110 alone (the caller has set them up).
int ReadI2C_ByMode(const REPORT_CHANNEL& channel, uint8_t btSlaveAddress, uint8_t btWordAddress,
                   int nAutoIncrement, uint8_t btMode, uint8_t* pData, int nLength,
                   uint32_t dwTimeOutMs, uint32_t dwDelayMs, uint8_t btReportId);

// What the chip probe found.
struct CHIP_PROBE {
  uint16_t wChipId = 0;
  uint8_t btLayout = 0;
  uint8_t btReportIdFlag = 0;         // the report ID the register accesses use
  uint32_t dwOutputReportLength = 0;  // 5, 8 or 4
};

// An attempt returns this when no collection of its layout opened.
constexpr int kProbeNotOpened = -1000000;
// One attempt of the probe: reads the chip id through the board's collection
// of btLayout with btReportId. Returns 0 with the id, the ReadChipId code, or
// kProbeNotOpened.
using PROBE_ATTEMPT = std::function<int(uint8_t btLayout, uint8_t btReportId, uint16_t& wChipId)>;

// Tries layouts 0 (ID 0), 2 (ID 1) and 1 (ID 1) in turn. 0 with probe when
// a chip id with high byte 0x80 answered, 1 when none did (probe
// unchanged); then *pszWhyNot (when given) says why the last attempt whose
// collection opened did not answer ("chip id not read (layout 0, code
// 1004)", "chip id 0x8142 is not the maker's (layout 0)"), or is emptied
// when no collection opened for any layout.
int ProbeChip(const PROBE_ATTEMPT& fnAttempt, CHIP_PROBE& probe, std::string* pszWhyNot);

// Output report length looked for per layout: 0 -> 5, 1 -> 4, 2 -> 8,
// anything else -> itself.
uint32_t OutputReportLengthOfLayout(uint8_t btLayout);

}  // namespace protocol
}  // namespace USB42XX_MGR
