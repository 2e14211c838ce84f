#pragma once
// The simulated QRT4250 with its 24Cxx configuration EEPROM, seen from the
// vendor HID collection: it takes output reports and answers input reports
// exactly as the chip does, in one of the three report layouts.
//
//   layout 0: 5-byte reports, no report IDs
//   layout 1: 4-byte reports with a report ID
//   layout 2: 8-byte reports with a report ID
//
// Registers (64 K x 8): chip id 0x7FF2/0x7FF3, I2C enable 0x0100, slave
// address 0x0110 (power-on 0x50), speed 0x0111, control 0x0008, data
// 0x0009/0x000A, command/status 0x000B. A start written to 0x000B runs the
// I2C transfer at once; the busy bit then reads 1 for the configured number
// of status reads. The EEPROM answers at slave address 0x50 + block for the
// blocks it has and not during its write cycle; an unanswered read gives
// 0xFF, an unanswered write is lost.
//
// The chip also checks the host: it records rule violations (a data or
// command register used while enable bit 0 is clear, a report of the wrong
// length, a command started while busy, an EEPROM transfer started during
// the part's write cycle, a malformed report) and keeps a log of every
// report and counters per register. Faults can be injected.
//
// Not thread-safe; one host thread drives it.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SimClock.h"

namespace qrt::sim {

struct SIM_CHIP_CONFIG {
  uint8_t nLayout = 0;             // 0, 1 or 2
  uint16_t wChipId = 0x8042;       // high byte 0x80 for the maker's chips
  uint32_t dwEepromSize = 256;     // 256, 512, 1024 or 2048 (24C02..24C16)
  uint32_t dwBusyReads = 0;        // status reads that show busy after a start
  uint32_t dwWriteCycleUs = 3000;  // EEPROM write-cycle time
  uint32_t dwLatencyUs = 0;        // virtual time charged per report
  uint8_t btEnablePowerOn = 0x00;  // register 0x0100 at power-on
};

// Faults. Report numbers are 1-based and count from the moment the faults
// were set (SetFaults); 0 switches a fault off.
struct SIM_FAULTS {
  uint32_t dwRefuseOutput = 0;    // refuse the Nth output report
  uint32_t dwFailInput = 0;       // fail the Nth input report
  uint32_t dwUnplugAtReport = 0;  // unplug at the Nth report of either kind
  bool bStayBusy = false;         // the busy bit never clears
  int32_t nFlipAddress = -1;      // EEPROM address whose written byte is corrupted
  uint8_t btFlipMask = 0x01;      // bits flipped in that byte
  bool bFlipOnce = false;         // only the first write there (a marginal cell)
  bool bWriteProtect = false;     // EEPROM ignores writes
  uint32_t dwRandomSeed = 0;      // with a probability > 0: every report fails
  double dRandomProbability = 0;  // with this probability (replayable by seed)
};

struct SIM_REPORT_LOG_ENTRY {
  bool bOutput = true;          // output report (host to chip) or input report
  bool bDelivered = true;       // false: refused or failed
  uint64_t qwTimeUs = 0;        // virtual time when it happened
  std::vector<uint8_t> vBytes;  // input reports: the bytes returned
};

class CSimChip {
 public:
  static constexpr uint16_t kRegControl = 0x0008;
  static constexpr uint16_t kRegData0 = 0x0009;
  static constexpr uint16_t kRegData1 = 0x000A;
  static constexpr uint16_t kRegCommand = 0x000B;
  static constexpr uint16_t kRegEnable = 0x0100;
  static constexpr uint16_t kRegSlave = 0x0110;
  static constexpr uint16_t kRegSpeed = 0x0111;
  static constexpr uint16_t kRegChipIdHigh = 0x7FF2;
  static constexpr uint16_t kRegChipIdLow = 0x7FF3;

  CSimChip(const SIM_CHIP_CONFIG& config, std::shared_ptr<CSimClock> pClock);

  const SIM_CHIP_CONFIG& Config() const { return m_Config; }
  // Report length of the layout: 5, 4 or 8.
  size_t ReportLength() const;

  // The host's side. HandleOutputReport returns false when the report is
  // refused (fault, unplugged, wrong length, malformed). HandleInputReport
  // fills exactly nLength bytes (pReport[0] holds the wanted report ID) and
  // returns false when it fails; a failed report leaves pReport untouched.
  bool HandleOutputReport(const uint8_t* pReport, size_t nLength);
  bool HandleInputReport(uint8_t* pReport, size_t nLength);

  // Faults, counted from now on.
  void SetFaults(const SIM_FAULTS& faults);
  const SIM_FAULTS& Faults() const { return m_Faults; }

  // Plugged state. An unplugged chip refuses every report. The hook is
  // called when an unplug fault fires, so the platform can raise the event.
  bool IsUnplugged() const { return m_bUnplugged; }
  void SetUnplugged(bool bUnplugged) { m_bUnplugged = bUnplugged; }
  void SetUnplugHook(std::function<void()> fnHook) { m_fnUnplugHook = std::move(fnHook); }

  // Registers and EEPROM, for set-up and inspection (no rule checks).
  uint8_t PeekRegister(uint16_t wAddress) const { return m_Registers[wAddress]; }
  void PokeRegister(uint16_t wAddress, uint8_t btValue) { m_Registers[wAddress] = btValue; }
  std::vector<uint8_t>& Eeprom() { return m_vEeprom; }
  const std::vector<uint8_t>& Eeprom() const { return m_vEeprom; }
  // Copies up to the EEPROM size; the rest of the EEPROM becomes 0xFF.
  void SetEepromContents(const uint8_t* pData, size_t nLength);
  // Raw file of at most the EEPROM size; returns false when it cannot be read.
  bool LoadEeprom(const std::string& szPath);
  // Writes the whole EEPROM through a temporary file; false on failure.
  bool SaveEeprom(const std::string& szPath) const;

  // Inspection.
  const std::vector<std::string>& Violations() const { return m_vViolations; }
  const std::vector<SIM_REPORT_LOG_ENTRY>& ReportLog() const { return m_vReportLog; }
  void SetReportLogEnabled(bool bEnabled) { m_bLogEnabled = bEnabled; }
  void ClearInspection();
  uint64_t OutputReportCount() const { return m_qwOutputReports; }
  uint64_t InputReportCount() const { return m_qwInputReports; }
  uint32_t RegisterReads(uint16_t wAddress) const { return m_ReadCounts[wAddress]; }
  uint32_t RegisterWrites(uint16_t wAddress) const { return m_WriteCounts[wAddress]; }
  // Slave-address values written to 0x0110, in order (block selects).
  const std::vector<uint8_t>& SlaveWrites() const { return m_vSlaveWrites; }

 private:
  enum class EFault { None, Refuse, Unplug };
  EFault NextReportFault(bool bOutput);
  void Log(bool bOutput, bool bDelivered, const uint8_t* pBytes, size_t nLength);
  void Violation(std::string szText);
  uint8_t ReadRegister(uint16_t wAddress, bool bSideEffects);
  void WriteRegister(uint16_t wAddress, uint8_t btValue);
  void StartTransfer(uint8_t btCommand);
  // The slave address names the EEPROM and a block it has (dwBase: the
  // block's first address).
  bool EepromAddressed(uint32_t& dwBase) const;
  bool InWriteCycle() const;
  bool IsBusy() const { return m_Faults.bStayBusy || m_dwBusyLeft > 0; }

  SIM_CHIP_CONFIG m_Config;
  std::shared_ptr<CSimClock> m_pClock;
  std::vector<uint8_t> m_Registers;
  std::vector<uint8_t> m_vEeprom;
  std::vector<uint32_t> m_ReadCounts;
  std::vector<uint32_t> m_WriteCounts;
  uint16_t m_wPointer = 0;
  bool m_bHavePointer = false;
  uint32_t m_dwBusyLeft = 0;
  uint64_t m_qwEepromBusyUntilUs = 0;
  std::atomic<bool> m_bUnplugged = false;  // also asked from the platform's listings
  std::function<void()> m_fnUnplugHook;

  SIM_FAULTS m_Faults;
  uint64_t m_qwFaultOutputs = 0;
  uint64_t m_qwFaultInputs = 0;
  uint64_t m_qwFaultReports = 0;
  std::mt19937 m_Random;

  bool m_bLogEnabled = true;
  uint64_t m_qwOutputReports = 0;
  uint64_t m_qwInputReports = 0;
  std::vector<SIM_REPORT_LOG_ENTRY> m_vReportLog;
  std::vector<std::string> m_vViolations;
  std::vector<uint8_t> m_vSlaveWrites;
};

}  // namespace qrt::sim
