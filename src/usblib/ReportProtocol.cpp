// The report protocol of the QRT4250: chip registers carried by HID reports,
// chip identification, and the I2C master procedures for the EEPROM.
//
// Failure codes of the I2C procedures (stage base + sub-code of the step):
//
// clang-format off
// | base   | WriteI2C                           | ReadI2C                  | ReadI2C_ByMode                |
// |--------|------------------------------------|--------------------------|-------------------------------|
// | 1      | bad mode                           | bad mode                 | bad mode                      |
// | 2 / 3  |                                    |                          | odd word address / odd length |
// | 1000   | odd address or length (mode 2)     | same                     |                               |
// | +1000  |                                    |                          | first busy wait               |
// | +2000  | first busy wait                    | first busy wait          | read enable register          |
// | +3000  | read enable register               | read enable register     | write enable register         |
// | +4000  | write enable register              | write enable register    | write slave address register  |
// | +5000  | read slave address / control       | read slave address       | write control register        |
// | +6000  | write slave address / control      | write slave address      | write command register        |
// | +7000  | busy wait before data / command    | read control register    | busy wait after start         |
// | +8000  | write data 0x0009 / busy wait      | write control register   | read data 0x0009              |
// | +9000  | write data 0x000A                  | write command register   | read data 0x000A              |
// | +10000 |                                    | busy wait after start    | busy wait after advance (1)   |
// | +11000 |                                    | read data 0x0009         | busy wait after advance (2)   |
// | +12000 |                                    | read data 0x000A         | rewrite control register      |
// clang-format on
//
// Register exchange sub-codes: 1 / 2 missing report ID (layout 1 / 2), 3 first
// output report refused, 4 second output report or the input report failed.
// Busy-wait sub-codes: 1 status read failed, -1 time-out, 2 ten reads.
#include <algorithm>
#include <cstdio>
#include <string>

#include "ChipRegisters.h"
#include "ReportProtocol.h"
#include "Trace.h"
#include "platform/HidPlatform.h"

namespace USB42XX_MGR::protocol {
namespace {

size_t ReportLength(uint8_t btLayout) {
  switch (btLayout) {
    case 1:
      return 4;
    case 2:
      return 8;
    default:
      return 5;
  }
}

void TraceReport(const char* pszPrefix, const uint8_t* pReport, size_t nLength) {
  std::string szLine = pszPrefix;
  char szByte[4];
  for (size_t i = 0; i < nLength; ++i) {
    std::snprintf(szByte, sizeof(szByte), "%.2X ", pReport[i]);
    szLine += szByte;
  }
  szLine += '\n';
  qrt::diag::Trace(szLine);
}

// The trace comes before the send, also when the platform then refuses it.
bool SendReport(IHidDevice& device, const uint8_t* pReport, size_t nLength) {
  TraceReport("Set output report = ", pReport, nLength);
  return device.SetOutputReport(pReport, nLength);
}

bool FetchReport(IHidDevice& device, uint8_t* pReport, size_t nLength) {
  if (!device.GetInputReport(pReport, nLength)) return false;
  TraceReport("Get input report = ", pReport, nLength);
  return true;
}

int CheckReportId(uint8_t btLayout, uint8_t btReportId) {
  if (btLayout == 1 && btReportId == 0) return 1;
  if (btLayout == 2 && btReportId == 0) return 2;
  return 0;
}

// Bits 2..0 of the control register for a unit at the low address byte.
uint8_t ControlBits(uint8_t btMode, uint8_t btLow) {
  return btMode == 1 ? static_cast<uint8_t>(0x04 | (btLow >> 6)) : static_cast<uint8_t>(btLow >> 7);
}

// Bits 5..0 of the command register for a unit at the low address byte.
uint8_t CommandBits(uint8_t btMode, uint8_t btLow) {
  return btMode == 1 ? static_cast<uint8_t>(btLow & 0x3F)
                     : static_cast<uint8_t>((btLow & 0x7F) >> 1);
}

int ReadByte(IHidDevice& device, uint16_t wAddress, uint8_t& btValue, uint8_t btLayout,
             uint8_t btReportId) {
  return ReadRegister(device, wAddress, &btValue, 1, btLayout, btReportId);
}

int WriteByte(IHidDevice& device, uint16_t wAddress, uint8_t btValue, uint8_t btLayout,
              uint8_t btReportId) {
  return WriteRegister(device, wAddress, &btValue, 1, btLayout, btReportId);
}

void DelayMs(ITimeSource& clock, uint32_t dwMilliseconds) {
  if (dwMilliseconds != 0) clock.Sleep(dwMilliseconds);
}

// The checks before a transfer touches the device: 0, or the code.
int CheckTransfer(uint8_t btMode, uint16_t wAddress, const void* pData, uint16_t wLength) {
  if (btMode != 1 && btMode != 2) return 1;
  if (btMode == 2 && ((wAddress & 1) != 0 || (wLength & 1) != 0)) return 1000;
  if (wLength > 0 && pData == nullptr) return 1;
  return 0;
}

bool Usable(const REPORT_CHANNEL& channel) {
  return channel.pDevice != nullptr && !channel.pDevice->IsGone();
}

// The opening of WriteI2C and ReadI2C: the first busy wait, then bit 0 of the
// enable register set. 0 with the value that clears it again, or the code of
// the failing step (nothing to restore yet).
int BeginI2CTransfer(const REPORT_CHANNEL& channel, uint32_t dwTimeOutMs, uint8_t btReportId,
                     uint8_t& btRestore) {
  IHidDevice& device = *channel.pDevice;
  const uint8_t btLayout = channel.btLayout;
  if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) return r + 2000;
  uint8_t btEnable = 0;
  if (int r = ReadByte(device, kRegEnable, btEnable, btLayout, btReportId)) return r + 3000;
  if (int r = WriteByte(device, kRegEnable, btEnable | 1, btLayout, btReportId)) return r + 4000;
  btRestore = btEnable & 0xFE;
  return 0;
}

// Block select of WriteI2C and ReadI2C: bits 2..0 of the slave address
// register take the low three bits of the page; bits 7..3 are kept. 0, or
// the code of the failing read (+5000) or write (+6000).
int SelectBlock(IHidDevice& device, uint16_t wPage, uint8_t btLayout, uint8_t btReportId) {
  uint8_t btSlave = 0;
  if (int r = ReadByte(device, kRegSlave, btSlave, btLayout, btReportId)) return r + 5000;
  btSlave = static_cast<uint8_t>((btSlave & 0xF8) | (wPage & 0x07));
  if (int r = WriteByte(device, kRegSlave, btSlave, btLayout, btReportId)) return r + 6000;
  return 0;
}

}  // namespace

int WriteRegister(IHidDevice& device, uint16_t wAddress, const uint8_t* pData,
                              uint8_t btLength, uint8_t btLayout, uint8_t btReportId) {
  if (int r = CheckReportId(btLayout, btReportId)) return r;
  uint8_t btLow = static_cast<uint8_t>(wAddress);
  uint8_t btHigh = static_cast<uint8_t>(wAddress >> 8);
  uint8_t btFirst = pData != nullptr ? pData[0] : 0;
  uint8_t report[8] = {};
  size_t nLength = ReportLength(btLayout);
  if (btLayout == 1) {
    report[0] = btReportId;
    report[1] = btLow;
    report[2] = btHigh;
    report[3] = 0x90;
  } else if (btLayout == 2) {
    report[0] = btReportId;
    report[1] = btLow;
    report[2] = btHigh;
    if (pData != nullptr) std::copy(pData, pData + std::min<size_t>(btLength, 4), report + 3);
    report[7] = static_cast<uint8_t>(0x80 | btLength);
  } else {
    report[1] = 0x60;
    report[2] = btLow;
    report[3] = btHigh;
    report[4] = 0x10;
  }
  if (!SendReport(device, report, nLength)) return 3;
  if (btLayout == 2) return 0;
  std::fill(report, report + sizeof(report), 0);
  if (btLayout == 1) {
    report[0] = btReportId;
    report[1] = btFirst;
    report[2] = 0x01;
    report[3] = 0xA0;
  } else {
    report[1] = 0x60;
    report[2] = btFirst;
    report[3] = 0x01;
    report[4] = 0x20;
  }
  if (!SendReport(device, report, nLength)) return 4;
  return 0;
}

int ReadRegister(IHidDevice& device, uint16_t wAddress, uint8_t* pData,
                             uint8_t btLength, uint8_t btLayout, uint8_t btReportId) {
  if (int r = CheckReportId(btLayout, btReportId)) return r;
  uint8_t report[8] = {};
  size_t nLength = ReportLength(btLayout);
  if (btLayout == 2) {
    report[0] = btReportId;
    report[1] = static_cast<uint8_t>(wAddress);
    report[2] = static_cast<uint8_t>(wAddress >> 8);
    report[7] = 0x80;
  } else if (btLayout == 1) {
    report[0] = btReportId;
    report[1] = static_cast<uint8_t>(wAddress);
    report[2] = static_cast<uint8_t>(wAddress >> 8);
    report[3] = 0x90;
  } else {
    report[1] = 0x60;
    report[2] = static_cast<uint8_t>(wAddress);
    report[3] = static_cast<uint8_t>(wAddress >> 8);
    report[4] = 0x10;
  }
  if (!SendReport(device, report, nLength)) return 3;
  // The reply is untrusted: the platform hands over exactly nLength bytes or
  // fails, and only the fixed positions of this buffer are looked at.
  std::fill(report, report + sizeof(report), 0);
  if (btLayout == 1 || btLayout == 2) report[0] = btReportId;
  if (!FetchReport(device, report, nLength)) return 4;
  if (pData == nullptr) return 0;
  if (btLayout == 1) {
    pData[0] = report[1];
  } else if (btLayout == 2) {
    std::copy(report + 3, report + 3 + std::min<size_t>(btLength, 4), pData);
  } else {
    pData[0] = report[2];
  }
  return 0;
}

int ReadChipId(IHidDevice& device, uint16_t& wChipId, uint8_t btLayout,
                           uint8_t btReportId) {
  wChipId = 0;
  if (btLayout == 2) {
    uint8_t id[2] = {};
    if (int r = ReadRegister(device, kRegChipIdHigh, id, 2, btLayout, btReportId)) return r + 1000;
    wChipId = static_cast<uint16_t>((id[0] << 8) | id[1]);
    return 0;
  }
  uint8_t btHigh = 0, btLow = 0;
  if (int r = ReadByte(device, kRegChipIdHigh, btHigh, btLayout, btReportId)) return r + 1000;
  if (int r = ReadByte(device, kRegChipIdLow, btLow, btLayout, btReportId)) return r + 2000;
  wChipId = static_cast<uint16_t>((btHigh << 8) | btLow);
  return 0;
}

int WaitI2CReady(const REPORT_CHANNEL& channel, uint32_t dwTimeOutMs, uint8_t btReportId) {
  uint8_t btStatus = 0x80;
  int nCount = 0;
  uint32_t dwStart = channel.Clock.GetTickCount();
  while (btStatus & 0x80) {
    if (ReadByte(*channel.pDevice, kRegCommand, btStatus, channel.btLayout, btReportId) != 0) {
      return 1;
    }
    if (dwTimeOutMs != kI2CNoTimeOut &&
        static_cast<uint32_t>(channel.Clock.GetTickCount() - dwStart) > dwTimeOutMs) {
      return -1;
    }
    if (++nCount == 10) return 2;
  }
  return 0;
}

namespace {

struct SProbeAttempt {
  uint8_t btLayout;
  uint8_t btReportId;
  uint32_t dwOutputLength;
  uint8_t btFlag;
};
constexpr SProbeAttempt kProbeOrder[] = {{0, 0, 5, 0}, {2, 1, 8, 1}, {1, 1, 4, 1}};

}  // namespace

int ProbeChip(const PROBE_ATTEMPT& fnAttempt, CHIP_PROBE& probe, std::string* pszWhyNot) {
  std::string szWhyNot;
  for (const auto& attempt : kProbeOrder) {
    uint16_t wId = 0;
    const int r = fnAttempt(attempt.btLayout, attempt.btReportId, wId);
    if (r == kProbeNotOpened) continue;
    if (r != 0) {
      szWhyNot = "chip id not read (layout " + std::to_string(attempt.btLayout) + ", code " +
                 std::to_string(r) + ")";
      continue;
    }
    // Only the maker's chips: high byte exactly 0x80.
    if ((wId & 0xFF00) != 0x8000) {
      char sz[64];
      std::snprintf(sz, sizeof(sz), "chip id 0x%.4X is not the maker's (layout %u)", wId,
                    static_cast<unsigned>(attempt.btLayout));
      szWhyNot = sz;
      continue;
    }
    probe.wChipId = wId;
    probe.btLayout = attempt.btLayout;
    probe.btReportIdFlag = attempt.btFlag;
    probe.dwOutputReportLength = attempt.dwOutputLength;
    return 0;
  }
  if (pszWhyNot != nullptr) *pszWhyNot = szWhyNot;
  return 1;
}

uint32_t OutputReportLengthOfLayout(uint8_t btLayout) {
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

namespace {

// One unit's command: the mode's bits into the control register, then the
// command register (0xC0 writes the data registers to the EEPROM, 0x80 reads
// them from it). 0, or the failing step's code: reading the control register
// nBase, writing it nBase + 1000, the command nBase + 2000.
int IssueUnitCommand(IHidDevice& device, uint8_t btMode, uint8_t btLow, uint8_t btCommandTop,
                     int nBase, uint8_t btLayout, uint8_t btReportId) {
  uint8_t btControl = 0;
  if (int r = ReadByte(device, kRegControl, btControl, btLayout, btReportId)) return r + nBase;
  btControl = static_cast<uint8_t>((btControl & 0xF8) | ControlBits(btMode, btLow));
  if (int r = WriteByte(device, kRegControl, btControl, btLayout, btReportId)) {
    return r + nBase + 1000;
  }
  const uint8_t btCommand = static_cast<uint8_t>(btCommandTop | CommandBits(btMode, btLow));
  if (int r = WriteByte(device, kRegCommand, btCommand, btLayout, btReportId)) {
    return r + nBase + 2000;
  }
  return 0;
}

// A unit's bytes (one in mode 1, two in mode 2) into the data registers
// from pWrite, or out of them into pRead. 0, or the failing exchange's code
// plus nBase (first register) or nBase + 1000 (second).
int ExchangeData(IHidDevice& device, uint8_t btMode, const uint8_t* pWrite, uint8_t* pRead,
                 int nBase, uint8_t btLayout, uint8_t btReportId) {
  const uint16_t wRegisters[2] = {kRegData0, kRegData1};
  for (int i = 0; i < btMode && i < 2; ++i) {
    const int r = pWrite != nullptr
                      ? WriteByte(device, wRegisters[i], pWrite[i], btLayout, btReportId)
                      : ReadByte(device, wRegisters[i], pRead[i], btLayout, btReportId);
    if (r != 0) return r + nBase + 1000 * i;
  }
  return 0;
}

// The frame both directions share: the checks, the enable bit set, the
// block selected at each new 256-byte page, the delay and progress after each
// unit, and the enable bit cleared again on every exit (that last write's
// outcome does not change the result). fnUnit(wDone, btLow) moves one unit
// and returns 0 or its code.
template <class UNIT>
int RunUnits(const REPORT_CHANNEL& channel, uint8_t btMode, uint16_t wAddress, const void* pData,
             uint16_t wLength, uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress,
             uint32_t dwDelayMs, uint8_t btReportId, UNIT&& fnUnit) {
  if (int r = CheckTransfer(btMode, wAddress, pData, wLength)) return r;
  if (!Usable(channel)) return -1;
  IHidDevice& device = *channel.pDevice;
  const uint8_t btLayout = channel.btLayout;

  uint8_t btRestore = 0;
  if (int r = BeginI2CTransfer(channel, dwTimeOutMs, btReportId, btRestore)) return r;
  auto fail = [&](int nCode) {
    WriteByte(device, kRegEnable, btRestore, btLayout, btReportId);
    return nCode;
  };

  const uint16_t wStep = btMode == 1 ? 1 : 2;
  uint16_t wDone = 0;
  uint16_t wLastPage = 0xFFFF;
  while (wDone < wLength) {
    const uint16_t wPage = static_cast<uint16_t>(wAddress >> 8);
    if (wPage != wLastPage) {
      if (int r = SelectBlock(device, wPage, btLayout, btReportId)) return fail(r);
      wLastPage = wPage;
    }
    if (int r = fnUnit(wDone, static_cast<uint8_t>(wAddress))) return fail(r);
    wAddress = static_cast<uint16_t>(wAddress + wStep);
    DelayMs(channel.Clock, dwDelayMs);
    if (fnProgress) fnProgress(wLength, wDone);
    wDone = static_cast<uint16_t>(wDone + wStep);
  }
  WriteByte(device, kRegEnable, btRestore, btLayout, btReportId);
  return 0;
}

}  // namespace

int WriteI2C(const REPORT_CHANNEL& channel, uint8_t btMode, uint16_t wAddress,
             const uint8_t* pData, uint16_t wLength, uint32_t dwTimeOutMs,
             const I2C_PROGRESS_CALLBACK& fnProgress, uint32_t dwDelayMs, uint8_t btReportId) {
  return RunUnits(
      channel, btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress, dwDelayMs, btReportId,
      [&](uint16_t wDone, uint8_t btLow) {
        IHidDevice& device = *channel.pDevice;
        const uint8_t btLayout = channel.btLayout;
        // A write waits for the previous unit's EEPROM cycle before it
        // touches the data registers.
        if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) return r + 7000;
        if (int r = ExchangeData(device, btMode, pData + wDone, nullptr, 8000, btLayout,
                                 btReportId)) {
          return r;
        }
        if (int r = IssueUnitCommand(device, btMode, btLow, 0xC0, 5000, btLayout, btReportId)) {
          return r;
        }
        if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) return r + 8000;
        return 0;
      });
}

int ReadI2C(const REPORT_CHANNEL& channel, uint8_t btMode, uint16_t wAddress, uint8_t* pData,
            uint16_t wLength, uint32_t dwTimeOutMs, const I2C_PROGRESS_CALLBACK& fnProgress,
            uint32_t dwDelayMs, uint8_t btReportId) {
  return RunUnits(
      channel, btMode, wAddress, pData, wLength, dwTimeOutMs, fnProgress, dwDelayMs, btReportId,
      [&](uint16_t wDone, uint8_t btLow) {
        IHidDevice& device = *channel.pDevice;
        const uint8_t btLayout = channel.btLayout;
        if (int r = IssueUnitCommand(device, btMode, btLow, 0x80, 7000, btLayout, btReportId)) {
          return r;
        }
        if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) return r + 10000;
        return ExchangeData(device, btMode, nullptr, pData + wDone, 11000, btLayout, btReportId);
      });
}

int ReadI2C_ByMode(const REPORT_CHANNEL& channel, uint8_t btSlaveAddress, uint8_t btWordAddress,
                   int nAutoIncrement, uint8_t btMode, uint8_t* pData, int nLength,
                   uint32_t dwTimeOutMs, uint32_t dwDelayMs, uint8_t btReportId) {
  if (btMode != 1 && btMode != 2) return 1;
  if (btMode == 2 && (btWordAddress & 1) != 0) return 2;
  if (btMode == 2 && (nLength & 1) != 0) return 3;
  int nUnits = nLength <= 0 ? 0 : (btMode == 1 ? nLength : nLength / 2);
  if (nUnits > 0 && pData == nullptr) return 1;
  if (!Usable(channel)) return -1;
  IHidDevice& device = *channel.pDevice;
  const uint8_t btLayout = channel.btLayout;

  if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) return r + 1000;
  const bool bSlave = btSlaveAddress != 0;
  uint8_t btRestore = 0;
  if (bSlave) {
    uint8_t btEnable = 0;
    if (int r = ReadByte(device, kRegEnable, btEnable, btLayout, btReportId)) return r + 2000;
    if (int r = WriteByte(device, kRegEnable, btEnable | 1, btLayout, btReportId)) {
      return r + 3000;
    }
    btRestore = btEnable & 0xFE;
  }
  auto fail = [&](int nCode) {
    if (bSlave) WriteByte(device, kRegEnable, btRestore, btLayout, btReportId);
    return nCode;
  };
  if (bSlave) {
    if (int r = WriteByte(device, kRegSlave, btSlaveAddress, btLayout, btReportId)) {
      return fail(r + 4000);
    }
  }
  auto control = [&] {
    return btMode == 2 ? static_cast<uint8_t>(btWordAddress >> 7)
                       : static_cast<uint8_t>(0x04 | (btWordAddress >> 6));
  };
  if (int r = WriteByte(device, kRegControl, control(), btLayout, btReportId)) {
    return fail(r + 5000);
  }
  int nPos = 0;
  for (int nUnit = 0; nUnit < nUnits; ++nUnit) {
    uint8_t btCommand = static_cast<uint8_t>(0x80 | CommandBits(btMode, btWordAddress));
    if (int r = WriteByte(device, kRegCommand, btCommand, btLayout, btReportId)) {
      return fail(r + 6000);
    }
    if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) return fail(r + 7000);
    if (int r = ReadByte(device, kRegData0, pData[nPos], btLayout, btReportId)) {
      return fail(r + 8000);
    }
    if (btMode == 2) {
      if (int r = ReadByte(device, kRegData1, pData[nPos + 1], btLayout, btReportId)) {
        return fail(r + 9000);
      }
    }
    bool bMarked = false;
    if (btMode == 1 && nLength >= 2) {
      if (nAutoIncrement == 1) {
        btWordAddress = static_cast<uint8_t>(btWordAddress + 1);
        bMarked = true;
      }
      DelayMs(channel.Clock, dwDelayMs);
      if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) {
        return fail(r + 10000);
      }
    }
    if (btMode == 2 && nLength >= 4) {
      if (nAutoIncrement == 1) {
        btWordAddress = static_cast<uint8_t>(btWordAddress + 2);
        bMarked = true;
      }
      DelayMs(channel.Clock, dwDelayMs);
      if (int r = WaitI2CReady(channel, dwTimeOutMs, btReportId)) {
        return fail(r + 11000);
      }
    }
    if (bMarked) {
      if (int r = WriteByte(device, kRegControl, control(), btLayout, btReportId)) {
        return fail(r + 12000);
      }
    }
    nPos += btMode == 1 ? 1 : 2;
  }
  if (bSlave) WriteByte(device, kRegEnable, btRestore, btLayout, btReportId);
  return 0;
}

}  // namespace USB42XX_MGR::protocol
