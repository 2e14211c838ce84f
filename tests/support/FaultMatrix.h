#pragma once
// The protected write under injected report faults, the way write, restore
// and program run it: read the backup, write the image and verify it, and
// after a failure write the backup back. Every claim the procedure makes
// about the EEPROM is checked against what the simulated part holds:
//
//   - a backup read gives the bytes the part holds;
//   - a verified write leaves exactly the image;
//   - after a failed write, the bytes called new hold the image and the
//     bytes after the unknown ones hold what was there before;
//   - a read-back that differed is what the part holds (so every count of
//     differing bytes made from it is right);
//   - no transfer starts while the part is in its write cycle;
//   - on a part within the data sheet, a rollback whose own transfer went
//     through never fails (a comparison can only fail on a lost unit).
//
// One rig per layout and profile serves many cases (the bench sweeps every
// report position, the test a sample).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EepromProcedure.h"
#include "SimPlatform.h"
#include "SimTestSupport.h"
#include "Usb42xxMgr.h"

namespace qrt::test {

struct FAULT_MATRIX_FIGURES {
  uint64_t nCases = 0;
  uint64_t nBackupFailed = 0;    // nothing written
  uint64_t nWriteFailed = 0;     // the write or its verify failed: a rollback ran
  uint64_t nRolledBack = 0;      // ... and wrote the backup back, verified
  uint64_t nRollbackFailed = 0;  // ... and failed (a fault in its own transfer)
  uint64_t nClaims = 0;          // claims checked against the part
  uint64_t nBroken = 0;          // cases where one did not hold
  std::vector<std::string> vBroken;  // what did not hold, one line per case (the first 20)

  void Add(const FAULT_MATRIX_FIGURES& o) {
    nCases += o.nCases;
    nBackupFailed += o.nBackupFailed;
    nWriteFailed += o.nWriteFailed;
    nRolledBack += o.nRolledBack;
    nRollbackFailed += o.nRollbackFailed;
    nClaims += o.nClaims;
    nBroken += o.nBroken;
    for (const auto& sz : o.vBroken) {
      if (vBroken.size() < 20) vBroken.push_back(sz);
    }
  }
};

class CFaultMatrix {
 public:
  CFaultMatrix(uint8_t nLayout, USB42XX_MGR::ETransferProfile eProfile, size_t nLength,
               const sim::SIM_CHIP_CONFIG& chip = {})
      : m_nLength(nLength), m_dwWriteCycleUs(chip.dwWriteCycleUs) {
    sim::SIM_DEVICE_CONFIG config;
    config.Chip = chip;
    config.Chip.nLayout = nLayout;
    if (config.Chip.dwEepromSize < nLength) config.Chip.dwEepromSize = 2048;
    m_Platform.AddDevice(config);
    m_Platform.Chip(0).SetReportLogEnabled(false);
    m_pMgr = std::make_unique<USB42XX_MGR::CUsb42xxMgr>(m_Platform, m_Store, m_LockDir.Path());
    m_pMgr->SetCheckDeviceId(0);
    m_pProcedure = std::make_unique<USB42XX_MGR::CEepromProcedure>(*m_pMgr, m_Observer);
    auto& s = m_pProcedure->Settings();
    s.m_SelectedVid = config.wVID;
    s.m_SelectedPid = config.wPID;
    s.m_dwRomSize = static_cast<uint32_t>(nLength);
    s.m_bReportId = nLayout == 0 ? 0 : 1;
    s.m_Profile.eKind = eProfile;
    const size_t nSize = config.Chip.dwEepromSize;
    m_vBefore.resize(nSize);
    m_vImage.resize(nSize);
    for (size_t i = 0; i < nSize; ++i) {
      m_vBefore[i] = static_cast<uint8_t>(i * 37 + 11);
      m_vImage[i] = static_cast<uint8_t>(i * 53 + 200);  // differs from before in every byte
    }
  }

  sim::CSimChip& Chip() { return m_Platform.Chip(0); }

  // Reports of a fault-free case (backup read, write, verify).
  void CleanCounts(uint64_t& qwOutputs, uint64_t& qwInputs) {
    FAULT_MATRIX_FIGURES ignored;
    Run(sim::SIM_FAULTS{}, ignored, "clean");
    qwOutputs = Chip().OutputReportCount() - m_qwOutputsAtStart;
    qwInputs = Chip().InputReportCount() - m_qwInputsAtStart;
  }

  // One case: the faults are set afresh (their report numbers count from the
  // backup read on); what did not hold goes to figures.vBroken, prefixed
  // with szCase.
  void Run(const sim::SIM_FAULTS& faults, FAULT_MATRIX_FIGURES& figures,
           const std::string& szCase) {
    using USB42XX_MGR::EEPROM_WRITE_STATE;
    // A write cycle left by the last case ends; the part is reset.
    m_Platform.Sleep(1 + m_dwWriteCycleUs / 1000);
    Chip().SetEepromContents(m_vBefore.data(), m_vBefore.size());
    Chip().ClearInspection();
    m_qwOutputsAtStart = Chip().OutputReportCount();
    m_qwInputsAtStart = Chip().InputReportCount();
    Chip().SetFaults(faults);
    std::string szBroken;
    auto check = [&](bool bHolds, const std::string& szWhat) {
      ++figures.nClaims;
      if (!bHolds && szBroken.empty()) szBroken = szCase + ": " + szWhat;
    };
    ++figures.nCases;
    std::vector<uint8_t> vLoad(USB42XX_MGR::CEepromProcedure::kBufferSize, 0xAA);
    if (m_pProcedure->ReadDataFromEEPROM(vLoad.data(), vLoad.size()) != 0) {
      ++figures.nBackupFailed;
      check(Chip().Eeprom() == m_vBefore, "a failed backup read changed the EEPROM");
    } else {
      check(std::equal(m_vBefore.begin(), m_vBefore.begin() + Length(), vLoad.begin()),
            "the backup differs from the EEPROM");
      const std::vector<uint8_t> vBackup(vLoad.begin(), vLoad.begin() + Length());
      if (Write(m_vImage.data(), m_vBefore, check, "write") != 0) {
        ++figures.nWriteFailed;
        const std::vector<uint8_t> vLeft = Chip().Eeprom();
        const int r = Write(vBackup.data(), vLeft, check, "rollback");
        ++(r == 0 ? figures.nRolledBack : figures.nRollbackFailed);
      }
    }
    // A part beyond the data sheet is written and read during its write
    // cycle by design; the claims must hold all the same.
    if (m_dwWriteCycleUs <= 5000) {
      for (const auto& szViolation : Chip().Violations()) check(false, szViolation);
    }
    if (!szBroken.empty()) figures.Add(FAULT_MATRIX_FIGURES{0, 0, 0, 0, 0, 0, 1, {szBroken}});
  }

 private:
  class CQuietObserver : public USB42XX_MGR::IEepromObserver {
   public:
    void OnSelectDeviceFailed() override {}
    void OnPlainMessage(const std::string&) override {}
    void OnProgress(USB42XX_MGR::EEepromProgress, int) override {}
  };

  std::ptrdiff_t Length() const { return static_cast<std::ptrdiff_t>(m_nLength); }

  // Writes pImage and checks what the procedure then says against the part;
  // vPrevious: what the part held before. Returns the procedure's result.
  template <typename FCheck>
  int Write(const uint8_t* pImage, const std::vector<uint8_t>& vPrevious, FCheck& check,
            const std::string& szWhich) {
    using EKind = USB42XX_MGR::EEPROM_WRITE_STATE::EKind;
    std::vector<uint8_t> vLoad(USB42XX_MGR::CEepromProcedure::kBufferSize, 0xAA);
    const int r = m_pProcedure->WriteDataToEEPROM(pImage, m_nLength, vLoad.data(), vLoad.size());
    const auto& state = m_pProcedure->GetWriteState();
    const std::vector<uint8_t>& eeprom = Chip().Eeprom();
    const auto begin = eeprom.begin();
    if (r == 0) {
      check(std::equal(begin, begin + Length(), pImage), szWhich + " verified, image not there");
    } else if (state.eKind == EKind::kPartial) {
      const auto nNew = static_cast<std::ptrdiff_t>(state.nNew);
      const auto nRest = static_cast<std::ptrdiff_t>(state.nNew + state.nUnknown);
      check(nRest <= Length(), szWhich + ": more new and unknown bytes than written");
      check(std::equal(begin, begin + nNew, pImage),
            szWhich + ": \"" + USB42XX_MGR::EepromStateText(state) + "\" but not all are new");
      check(std::equal(begin + nRest, begin + Length(), vPrevious.begin() + nRest),
            szWhich + ": \"" + USB42XX_MGR::EepromStateText(state) + "\" but the rest changed");
    } else if (state.eKind == EKind::kCompareFailed) {
      check(std::equal(begin, begin + Length(), vLoad.begin()),
            szWhich + ": the read-back that differed is not what the EEPROM holds");
      // Only a lost unit fails the comparison on a part within the data
      // sheet (no bit is corrupted here).
      check(m_dwWriteCycleUs > 5000, szWhich + ": the comparison failed (a unit was lost)");
    }
    return r;
  }

  size_t m_nLength;
  uint32_t m_dwWriteCycleUs;
  sim::CSimPlatform m_Platform;
  CMemoryDeviceIdStore m_Store;  // empty: the search goes by the chip probe
  CTempDir m_LockDir;
  CQuietObserver m_Observer;
  std::unique_ptr<USB42XX_MGR::CUsb42xxMgr> m_pMgr;
  std::unique_ptr<USB42XX_MGR::CEepromProcedure> m_pProcedure;
  std::vector<uint8_t> m_vBefore, m_vImage;
  uint64_t m_qwOutputsAtStart = 0, m_qwInputsAtStart = 0;
};

}  // namespace qrt::test
