#include "SimChip.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace qrt::sim {
namespace {

std::string Hex4(uint32_t value) {
  char sz[16];
  std::snprintf(sz, sizeof(sz), "0x%04X", value & 0xFFFF);
  return sz;
}

bool IsI2CRegister(uint16_t wAddress) {
  return wAddress == CSimChip::kRegControl || wAddress == CSimChip::kRegData0 ||
         wAddress == CSimChip::kRegData1 || wAddress == CSimChip::kRegCommand;
}

}  // namespace

CSimChip::CSimChip(const SIM_CHIP_CONFIG& config, std::shared_ptr<CSimClock> pClock)
    : m_Config(config),
      m_pClock(pClock ? std::move(pClock) : std::make_shared<CSimClock>()),
      m_Registers(0x10000, 0),
      m_ReadCounts(0x10000, 0),
      m_WriteCounts(0x10000, 0) {
  if (m_Config.dwEepromSize == 0 || m_Config.dwEepromSize > 2048 ||
      m_Config.dwEepromSize % 256 != 0) {
    m_Config.dwEepromSize = 256;
  }
  m_vEeprom.assign(m_Config.dwEepromSize, 0xFF);
  m_Registers[kRegChipIdHigh] = static_cast<uint8_t>(m_Config.wChipId >> 8);
  m_Registers[kRegChipIdLow] = static_cast<uint8_t>(m_Config.wChipId);
  m_Registers[kRegEnable] = m_Config.btEnablePowerOn;
  m_Registers[kRegSlave] = 0x50;
  m_Registers[kRegSpeed] = 0x20;
}

size_t CSimChip::ReportLength() const {
  // Layout 0 (and any unknown one) uses the 5-byte report.
  static constexpr size_t kLengthOfLayout[] = {5, 4, 8};
  const bool bKnown = m_Config.nLayout <= 2;
  return kLengthOfLayout[bKnown ? m_Config.nLayout : 0];
}

void CSimChip::SetFaults(const SIM_FAULTS& faults) {
  m_Faults = faults;
  m_qwFaultOutputs = 0;
  m_qwFaultInputs = 0;
  m_qwFaultReports = 0;
  m_Random.seed(faults.dwRandomSeed);
}

void CSimChip::ClearInspection() {
  m_vReportLog.clear();
  m_vViolations.clear();
  m_vSlaveWrites.clear();
  std::fill(m_ReadCounts.begin(), m_ReadCounts.end(), 0);
  std::fill(m_WriteCounts.begin(), m_WriteCounts.end(), 0);
  m_qwOutputReports = 0;
  m_qwInputReports = 0;
}

void CSimChip::SetEepromContents(const uint8_t* pData, size_t nLength) {
  std::fill(m_vEeprom.begin(), m_vEeprom.end(), 0xFF);
  if (pData == nullptr) return;
  size_t n = std::min(nLength, m_vEeprom.size());
  std::copy(pData, pData + n, m_vEeprom.begin());
}

bool CSimChip::LoadEeprom(const std::string& szPath) {
  std::ifstream file(szPath, std::ios::binary);
  if (!file) return false;
  std::vector<uint8_t> data(m_vEeprom.size());
  file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (file.bad()) return false;
  SetEepromContents(data.data(), static_cast<size_t>(file.gcount()));
  return true;
}

bool CSimChip::SaveEeprom(const std::string& szPath) const {
  std::string szTemp = szPath + ".tmp";
  {
    std::ofstream file(szTemp, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(reinterpret_cast<const char*>(m_vEeprom.data()),
               static_cast<std::streamsize>(m_vEeprom.size()));
    if (!file.flush()) {
      std::remove(szTemp.c_str());
      return false;
    }
  }
  if (std::rename(szTemp.c_str(), szPath.c_str()) != 0) {
    std::remove(szTemp.c_str());
    return false;
  }
  return true;
}

void CSimChip::Violation(std::string szText) {
  m_vViolations.push_back(std::move(szText));
}

void CSimChip::Log(bool bOutput, bool bDelivered, const uint8_t* pBytes, size_t nLength) {
  if (!m_bLogEnabled) return;
  SIM_REPORT_LOG_ENTRY entry;
  entry.bOutput = bOutput;
  entry.bDelivered = bDelivered;
  entry.qwTimeUs = m_pClock->NowUs();
  if (pBytes != nullptr) entry.vBytes.assign(pBytes, pBytes + nLength);
  m_vReportLog.push_back(std::move(entry));
}

CSimChip::EFault CSimChip::NextReportFault(bool bOutput) {
  uint64_t qwKind = bOutput ? ++m_qwFaultOutputs : ++m_qwFaultInputs;
  ++m_qwFaultReports;
  if (m_Faults.dwUnplugAtReport != 0 && m_qwFaultReports == m_Faults.dwUnplugAtReport) {
    return EFault::Unplug;
  }
  if (bOutput && m_Faults.dwRefuseOutput != 0 && qwKind == m_Faults.dwRefuseOutput) {
    return EFault::Refuse;
  }
  if (!bOutput && m_Faults.dwFailInput != 0 && qwKind == m_Faults.dwFailInput) {
    return EFault::Refuse;
  }
  if (m_Faults.dRandomProbability > 0) {
    // One draw per report, so a seed replays the same failures.
    double dDraw = std::uniform_real_distribution<double>(0.0, 1.0)(m_Random);
    if (dDraw < m_Faults.dRandomProbability) return EFault::Refuse;
  }
  return EFault::None;
}

bool CSimChip::HandleOutputReport(const uint8_t* pReport, size_t nLength) {
  if (m_bUnplugged) return false;
  ++m_qwOutputReports;
  m_pClock->Advance(m_Config.dwLatencyUs);
  EFault eFault = NextReportFault(true);
  if (eFault == EFault::Unplug) {
    m_bUnplugged = true;
    Log(true, false, pReport, pReport ? nLength : 0);
    if (m_fnUnplugHook) m_fnUnplugHook();
    return false;
  }
  if (eFault == EFault::Refuse) {
    Log(true, false, pReport, pReport ? nLength : 0);
    return false;
  }
  if (pReport == nullptr || nLength != ReportLength()) {
    Violation("output report of " + std::to_string(nLength) + " bytes in layout " +
              std::to_string(m_Config.nLayout));
    Log(true, false, pReport, pReport ? nLength : 0);
    return false;
  }
  bool bOk = true;
  switch (m_Config.nLayout) {
    case 1:
      if (pReport[0] == 0) {
        Violation("layout 1 output report with report ID 0");
        bOk = false;
      } else if (pReport[3] == 0x90) {
        m_wPointer = static_cast<uint16_t>(pReport[1] | (pReport[2] << 8));
        m_bHavePointer = true;
      } else if (pReport[3] == 0xA0 && pReport[2] == 0x01 && m_bHavePointer) {
        WriteRegister(m_wPointer, pReport[1]);
      } else {
        bOk = false;
      }
      break;
    case 2:
      if (pReport[0] == 0) {
        Violation("layout 2 output report with report ID 0");
        bOk = false;
      } else if ((pReport[7] & 0x80) == 0) {
        bOk = false;
      } else {
        m_wPointer = static_cast<uint16_t>(pReport[1] | (pReport[2] << 8));
        m_bHavePointer = true;
        unsigned nCount = std::min<unsigned>(pReport[7] & 0x7F, 4);
        for (unsigned i = 0; i < nCount; ++i) {
          WriteRegister(static_cast<uint16_t>(m_wPointer + i), pReport[3 + i]);
        }
      }
      break;
    default:
      if (pReport[0] != 0x00 || pReport[1] != 0x60) {
        bOk = false;
      } else if (pReport[4] == 0x10) {
        m_wPointer = static_cast<uint16_t>(pReport[2] | (pReport[3] << 8));
        m_bHavePointer = true;
      } else if (pReport[4] == 0x20 && pReport[3] == 0x01 && m_bHavePointer) {
        WriteRegister(m_wPointer, pReport[2]);
      } else {
        bOk = false;
      }
      break;
  }
  if (!bOk) Violation("malformed output report in layout " + std::to_string(m_Config.nLayout));
  Log(true, bOk, pReport, nLength);
  return bOk;
}

bool CSimChip::HandleInputReport(uint8_t* pReport, size_t nLength) {
  if (m_bUnplugged) return false;
  ++m_qwInputReports;
  m_pClock->Advance(m_Config.dwLatencyUs);
  EFault eFault = NextReportFault(false);
  if (eFault == EFault::Unplug) {
    m_bUnplugged = true;
    Log(false, false, nullptr, 0);
    if (m_fnUnplugHook) m_fnUnplugHook();
    return false;
  }
  if (eFault == EFault::Refuse) {
    Log(false, false, nullptr, 0);
    return false;
  }
  if (pReport == nullptr || nLength != ReportLength()) {
    Violation("input report of " + std::to_string(nLength) + " bytes in layout " +
              std::to_string(m_Config.nLayout));
    Log(false, false, nullptr, 0);
    return false;
  }
  if (!m_bHavePointer) {
    Violation("input report before any register address");
    Log(false, false, nullptr, 0);
    return false;
  }
  uint8_t btReportId = pReport[0];
  uint8_t btReply[8] = {};
  switch (m_Config.nLayout) {
    case 1:
      btReply[0] = btReportId;
      btReply[1] = ReadRegister(m_wPointer, true);
      break;
    case 2:
      btReply[0] = btReportId;
      // The pointed register is the one read; the next three come along.
      btReply[3] = ReadRegister(m_wPointer, true);
      for (unsigned i = 1; i < 4; ++i) {
        btReply[3 + i] = ReadRegister(static_cast<uint16_t>(m_wPointer + i), false);
      }
      break;
    default:
      btReply[1] = 0x60;
      btReply[2] = ReadRegister(m_wPointer, true);
      break;
  }
  std::copy(btReply, btReply + nLength, pReport);
  Log(false, true, pReport, nLength);
  return true;
}

uint8_t CSimChip::ReadRegister(uint16_t wAddress, bool bSideEffects) {
  if (!bSideEffects) return m_Registers[wAddress];
  ++m_ReadCounts[wAddress];
  if ((wAddress == kRegData0 || wAddress == kRegData1) && (m_Registers[kRegEnable] & 1) == 0) {
    Violation("read of " + Hex4(wAddress) + " while I2C enable bit 0 is clear");
  }
  if (wAddress == kRegCommand) {
    uint8_t btCommand = m_Registers[kRegCommand] & 0x7F;
    if (m_Faults.bStayBusy) return btCommand | 0x80;
    if (m_dwBusyLeft > 0) {
      --m_dwBusyLeft;
      return btCommand | 0x80;
    }
    return btCommand;
  }
  return m_Registers[wAddress];
}

void CSimChip::WriteRegister(uint16_t wAddress, uint8_t btValue) {
  ++m_WriteCounts[wAddress];
  if (wAddress == kRegChipIdHigh || wAddress == kRegChipIdLow) return;  // read-only
  if (IsI2CRegister(wAddress) && (m_Registers[kRegEnable] & 1) == 0) {
    Violation("write of " + Hex4(wAddress) + " while I2C enable bit 0 is clear");
  }
  if (wAddress == kRegSlave) m_vSlaveWrites.push_back(btValue);
  if (wAddress == kRegCommand && (btValue & 0x80) != 0) {
    if (IsBusy()) Violation("command started while the I2C master is busy");
    m_Registers[kRegCommand] = btValue;
    StartTransfer(btValue);
    m_dwBusyLeft = m_Config.dwBusyReads;
    return;
  }
  m_Registers[wAddress] = btValue;
}

bool CSimChip::EepromAddressed(uint32_t& dwBase) const {
  uint8_t btSlave = m_Registers[kRegSlave] & 0x7F;
  if ((btSlave & 0x78) != 0x50) return false;
  uint32_t dwBlock = btSlave & 0x07;
  if (dwBlock >= m_vEeprom.size() / 256) return false;  // block the part does not have
  dwBase = dwBlock * 256;
  return true;
}

bool CSimChip::InWriteCycle() const {
  return m_pClock->NowUs() < m_qwEepromBusyUntilUs;
}

void CSimChip::StartTransfer(uint8_t btCommand) {
  uint8_t btControl = m_Registers[kRegControl];
  bool bByteMode = (btControl & 0x04) != 0;
  uint32_t dwWord = bByteMode ? (((btControl & 0x03u) << 6) | (btCommand & 0x3Fu))
                              : (((btControl & 0x01u) << 7) | ((btCommand & 0x3Fu) << 1));
  unsigned nBytes = bByteMode ? 1 : 2;
  bool bWrite = (btCommand & 0x40) != 0;
  uint32_t dwBase = 0;
  bool bAnswers = EepromAddressed(dwBase);
  // The part does not acknowledge during its write cycle: a unit written
  // then is lost and a unit read gives 0xFF. The host has to wait it out.
  if (bAnswers && InWriteCycle()) {
    Violation(std::string(bWrite ? "write" : "read") + " of the EEPROM during its write cycle");
    bAnswers = false;
  }
  for (unsigned i = 0; i < nBytes; ++i) {
    uint16_t wDataRegister = i == 0 ? kRegData0 : kRegData1;
    // The word address wraps within the block, as the part's counter does.
    uint32_t dwAddress = dwBase + ((dwWord + i) & 0xFF);
    if (bWrite) {
      if (!bAnswers || m_Faults.bWriteProtect) continue;
      uint8_t btValue = m_Registers[wDataRegister];
      if (m_Faults.nFlipAddress >= 0 && static_cast<uint32_t>(m_Faults.nFlipAddress) == dwAddress) {
        btValue ^= m_Faults.btFlipMask;
        if (m_Faults.bFlipOnce) m_Faults.nFlipAddress = -1;
      }
      m_vEeprom[dwAddress] = btValue;
    } else {
      m_Registers[wDataRegister] = bAnswers ? m_vEeprom[dwAddress] : 0xFF;
    }
  }
  if (bWrite && bAnswers && !m_Faults.bWriteProtect) {
    m_qwEepromBusyUntilUs = m_pClock->NowUs() + m_Config.dwWriteCycleUs;
  }
}

}  // namespace qrt::sim
