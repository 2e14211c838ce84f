#pragma once
// The protected write under injected report faults, as write, restore and
// program run it: backup read, write and verify, and after a failure the
// backup written back. What the procedure says about the EEPROM is checked
// against the simulated part: the backup is what it holds; a verified write
// left the image; after a failed write the bytes called new hold the image
// and those after the unknown ones what was there before; a read-back that
// differed is what the part holds (so counts made from it are right); no
// transfer starts in the part's write cycle; and, no bit being corrupted, no
// comparison fails (only a lost unit could fail it). One rig per layout and
// profile serves every case.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BoardHandle.h"
#include "EepromProcedure.h"
#include "SimPlatform.h"
#include "SimTestSupport.h"

namespace qrt::test {

struct FAULT_MATRIX_FIGURES {
  uint64_t nCases = 0, nBackupFailed = 0, nClaims = 0, nBroken = 0;
  uint64_t nWriteFailed = 0;     // a rollback ran ...
  uint64_t nRolledBack = 0;      // ... and wrote the backup back, verified
  uint64_t nRollbackFailed = 0;  // ... and failed (a fault in its own transfer)
  std::vector<std::string> vBroken;  // the first 20 claims that did not hold
};

class CFaultMatrix {
 public:
  CFaultMatrix(uint8_t nLayout, USB42XX_MGR::ETransferProfile eProfile, size_t nLength)
      : m_nLength(static_cast<std::ptrdiff_t>(nLength)) {
    sim::SIM_DEVICE_CONFIG config = SimDevice(0x3A7C, 0x4250, nLayout, 2048);
    m_Platform.AddDevice(config);
    Chip().SetReportLogEnabled(false);
    m_pBoard = OpenSimBoard(m_Platform);
    m_pProcedure = std::make_unique<USB42XX_MGR::CEepromProcedure>(*m_pBoard, m_Observer);
    auto& s = m_pProcedure->Settings();
    s.m_dwRomSize = static_cast<uint32_t>(nLength);
    s.m_bReportId = nLayout == 0 ? 0 : 1;
    s.m_Profile.eKind = eProfile;
    for (size_t i = 0; i < 2048; ++i) {
      m_vBefore.push_back(static_cast<uint8_t>(i * 37 + 11));
      m_vImage.push_back(static_cast<uint8_t>(i * 53 + 200));  // differs in every byte
    }
  }

  sim::CSimChip& Chip() { return m_Platform.Chip(0); }

  // Output and input reports of a fault-free case.
  void CleanCounts(uint64_t& qwOutputs, uint64_t& qwInputs) {
    FAULT_MATRIX_FIGURES ignored;
    Run(sim::SIM_FAULTS{}, ignored, "clean");
    qwOutputs = Chip().OutputReportCount();
    qwInputs = Chip().InputReportCount();
  }

  // One case; report numbers of the faults count from the backup read on.
  void Run(const sim::SIM_FAULTS& faults, FAULT_MATRIX_FIGURES& figures,
           const std::string& szCase) {
    m_Platform.Sleep(10);  // a write cycle the last case started ends
    Chip().SetEepromContents(m_vBefore.data(), m_vBefore.size());
    Chip().ClearInspection();
    Chip().SetFaults(faults);
    m_szBroken.clear();
    ++figures.nCases;
    std::vector<uint8_t> vLoad(USB42XX_MGR::CEepromProcedure::kBufferSize);
    if (m_pProcedure->ReadDataFromEEPROM(vLoad.data(), vLoad.size()) != 0) {
      ++figures.nBackupFailed;
      Check(Chip().Eeprom() == m_vBefore, "a failed backup read changed the EEPROM", figures);
    } else {
      Check(std::equal(m_vBefore.begin(), m_vBefore.begin() + m_nLength, vLoad.begin()),
            "the backup is not what the EEPROM holds", figures);
      const std::vector<uint8_t> vBackup(vLoad.begin(), vLoad.begin() + m_nLength);
      if (Write(m_vImage.data(), m_vBefore, "write", figures) != 0) {
        ++figures.nWriteFailed;
        const int r = Write(vBackup.data(), Chip().Eeprom(), "rollback", figures);
        ++(r == 0 ? figures.nRolledBack : figures.nRollbackFailed);
      }
    }
    for (const auto& szViolation : Chip().Violations()) Check(false, szViolation, figures);
    if (m_szBroken.empty()) return;
    ++figures.nBroken;
    if (figures.vBroken.size() < 20) figures.vBroken.push_back(szCase + ": " + m_szBroken);
  }

 private:
  void Check(bool bHolds, const std::string& szWhat, FAULT_MATRIX_FIGURES& figures) {
    ++figures.nClaims;
    if (!bHolds && m_szBroken.empty()) m_szBroken = szWhat;
  }

  // Writes pImage over what the part held (vPrevious, a copy) and checks
  // what the procedure then says. Returns its result.
  int Write(const uint8_t* pImage, std::vector<uint8_t> vPrevious, const std::string& szWhich,
            FAULT_MATRIX_FIGURES& figures) {
    using EKind = USB42XX_MGR::EEPROM_WRITE_STATE::EKind;
    std::vector<uint8_t> vLoad(USB42XX_MGR::CEepromProcedure::kBufferSize);
    const int r = m_pProcedure->WriteDataToEEPROM(pImage, static_cast<size_t>(m_nLength),
                                                  vLoad.data(), vLoad.size());
    const auto& state = m_pProcedure->GetWriteState();
    const std::string szSays = szWhich + " \"" + USB42XX_MGR::EepromStateText(state) + "\": ";
    const auto eeprom = Chip().Eeprom().begin();
    if (r == 0) {
      Check(std::equal(eeprom, eeprom + m_nLength, pImage), szWhich + " verified, not there",
            figures);
    } else if (state.eKind == EKind::kPartial) {
      const auto nNew = static_cast<std::ptrdiff_t>(state.nNew);
      const auto nRest = static_cast<std::ptrdiff_t>(state.nNew + state.nUnknown);
      Check(nRest <= m_nLength && std::equal(eeprom, eeprom + nNew, pImage),
            szSays + "not all new", figures);
      Check(std::equal(eeprom + nRest, eeprom + m_nLength, vPrevious.begin() + nRest),
            szSays + "the rest changed", figures);
    } else if (state.eKind == EKind::kCompareFailed) {
      Check(std::equal(eeprom, eeprom + m_nLength, vLoad.begin()),
            szWhich + ": the read-back that differed is not what the EEPROM holds", figures);
      Check(false, szWhich + ": the comparison failed (a unit was lost)", figures);
    }
    return r;
  }

  std::ptrdiff_t m_nLength;
  sim::CSimPlatform m_Platform;
  CQuietObserver m_Observer;
  std::unique_ptr<USB42XX_MGR::CBoardHandle> m_pBoard;
  std::unique_ptr<USB42XX_MGR::CEepromProcedure> m_pProcedure;
  std::vector<uint8_t> m_vBefore, m_vImage;
  std::string m_szBroken;  // the first claim of this case that did not hold
};

}  // namespace qrt::test
