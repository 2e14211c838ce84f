// The read and write procedures on the simulated chip: whole transfers for
// every EEPROM size and layout, progress, messages, log steps, and the
// failures (bit flip, unplug, too short a write delay, no device).
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "BoardHandle.h"
#include "EepromProcedure.h"
#include "FaultMatrix.h"
#include "SimTestSupport.h"

using namespace USB42XX_MGR;
using qrt::sim::CSimPlatform;
using qrt::sim::SIM_FAULTS;
using qrt::test::SimDevice;

namespace {

constexpr uint16_t kVid = 0x3A7C;
constexpr uint16_t kPid = 0x4250;

class CRecordingObserver : public IEepromObserver {
 public:
  void OnPlainMessage(const std::string& szText) override { vMessages.push_back(szText); }
  void OnProgress(EEepromProgress eKind, int nPercent) override {
    vProgress.push_back({eKind, nPercent});
  }
  void OnLogOpen() override { vLog.push_back("open"); }
  void OnLogLine(int nCode, int nValue) override {
    vLog.push_back(std::to_string(nCode) + "=" + std::to_string(nValue));
  }
  void OnLogText(const std::string& szText) override { vLog.push_back(szText); }
  void OnLogClose() override { vLog.push_back("close"); }
  void OnDumpReadData(const uint8_t*, size_t nSize) override {
    vLog.push_back("dumpread " + std::to_string(nSize));
  }
  void OnDumpCompareData(const uint8_t* pRead, const uint8_t* pWritten, size_t nSize) override {
    vLog.push_back("dumpcompare " + std::to_string(nSize) +
                   (std::equal(pRead, pRead + nSize, pWritten) ? " equal" : " differ"));
  }
  int Count(EEepromProgress eKind) const {
    int n = 0;
    for (const auto& p : vProgress) n += p.first == eKind;
    return n;
  }
  int Last(EEepromProgress eKind) const {
    int nLast = -1;
    for (const auto& p : vProgress) {
      if (p.first == eKind) nLast = p.second;
    }
    return nLast;
  }

  std::vector<std::string> vMessages;
  std::vector<std::pair<EEepromProgress, int>> vProgress;
  std::vector<std::string> vLog;
};

std::vector<uint8_t> Image(size_t n, uint8_t btSeed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(btSeed ^ (i * 13 + (i >> 8)));
  return v;
}

// One board, opened, and a procedure on it as the window sets it up.
struct Rig {
  Rig(uint8_t nLayout, uint32_t dwSize, const qrt::sim::SIM_CHIP_CONFIG* pChip = nullptr) {
    auto config = SimDevice(kVid, kPid, nLayout, dwSize);
    if (pChip != nullptr) {
      config.Chip = *pChip;
      config.Chip.nLayout = nLayout;
      config.Chip.dwEepromSize = dwSize;
    }
    platform.AddDevice(config);
    pBoard = qrt::test::OpenSimBoard(platform);
    pProcedure = std::make_unique<CEepromProcedure>(*pBoard, observer);
    auto& s = pProcedure->Settings();
    s.m_dwRomSize = dwSize;
    s.m_bReportId = nLayout == 0 ? 0 : 1;
  }
  qrt::sim::CSimChip& Chip() { return platform.Chip(0); }

  CSimPlatform platform;
  CRecordingObserver observer;
  std::unique_ptr<CBoardHandle> pBoard;
  std::unique_ptr<CEepromProcedure> pProcedure;
  std::vector<uint8_t> loadBuffer = std::vector<uint8_t>(4096, 0xAA);
};

}  // namespace

TEST(EepromTransfers, ReadAndVerifiedWriteForEverySizeAndLayout) {
  for (uint8_t nLayout : {0, 1, 2}) {
    for (uint32_t dwSize : {256u, 512u, 1024u, 2048u}) {
      SCOPED_TRACE("layout " + std::to_string(nLayout) + " size " + std::to_string(dwSize));
      Rig rig(nLayout, dwSize);
      auto original = Image(dwSize, 0x5C);
      rig.Chip().SetEepromContents(original.data(), original.size());

      ASSERT_EQ(rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size()),
                0);
      EXPECT_TRUE(std::equal(original.begin(), original.end(), rig.loadBuffer.begin()));
      EXPECT_TRUE(std::all_of(rig.loadBuffer.begin() + dwSize, rig.loadBuffer.end(), [](uint8_t b) {
        return b == 0xFF;
      })) << "no stale bytes after the image";

      auto written = Image(dwSize, 0xA3);
      ASSERT_EQ(rig.pProcedure->WriteDataToEEPROM(written.data(), written.size(),
                                                  rig.loadBuffer.data(), rig.loadBuffer.size()),
                0);
      EXPECT_EQ(rig.Chip().Eeprom(), written);
      EXPECT_TRUE(std::equal(written.begin(), written.end(), rig.loadBuffer.begin()));
      EXPECT_EQ(rig.Chip().PeekRegister(0x0100), 0x00) << "enable bit 0 restored";
      EXPECT_EQ(rig.Chip().PeekRegister(0x0111), 0x20);
      EXPECT_TRUE(rig.Chip().Violations().empty()) << rig.Chip().Violations()[0];
    }
  }
}

TEST(EepromTransfers, ProgressMessagesAndLogOfAGoodReadAndWrite) {
  Rig rig(0, 256);
  auto& s = rig.pProcedure->Settings();
  s.m_bLogEnabled = true;
  s.m_dwReadTimeOut = 300;  // shown in the log, not used: RW time is off
  ASSERT_EQ(rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size()), 0);
  EXPECT_EQ(rig.observer.Count(EEepromProgress::Read), 256);
  EXPECT_EQ(rig.observer.vProgress.front().second, 0);  // (0 + 1) * 100 / 256
  EXPECT_EQ(rig.observer.Last(EEepromProgress::Read), 100);
  EXPECT_EQ(rig.observer.vMessages, (std::vector<std::string>{"Load data from EEPROM OK!"}));
  EXPECT_EQ(rig.observer.vLog,
            (std::vector<std::string>{"open", "5=0", "1=300", "2=5", "dumpread 256", "close"}));

  rig.observer = CRecordingObserver{};
  auto image = Image(256, 1);
  ASSERT_EQ(rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), rig.loadBuffer.data(),
                                              rig.loadBuffer.size()),
            0);
  EXPECT_EQ(rig.observer.Count(EEepromProgress::Probe), 1);
  EXPECT_EQ(rig.observer.Count(EEepromProgress::Write), 256);
  EXPECT_EQ(rig.observer.Last(EEepromProgress::Write), 70);
  EXPECT_EQ(rig.observer.Count(EEepromProgress::Verify), 256);
  EXPECT_EQ(rig.observer.Last(EEepromProgress::Verify), 100);
  EXPECT_TRUE(rig.observer.vMessages.empty());
  EXPECT_EQ(rig.observer.vLog,
            (std::vector<std::string>{"open", "6=0", "1=300", "2=5", "3=128", "4=5",
                                      "dumpcompare 256 equal", "9=0", "close"}));
}

TEST(EepromTransfers, SpeedRegisterGets0x20UnlessI2CIsEnabled) {
  Rig rig(2, 256);
  auto& s = rig.pProcedure->Settings();
  s.m_dwI2CSpeed = 0x44;
  rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size());
  EXPECT_EQ(rig.Chip().PeekRegister(0x0111), 0x20);
  s.m_dwI2CSpeed = 0x44;
  s.m_bI2CEnabled = true;
  rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size());
  EXPECT_EQ(rig.Chip().PeekRegister(0x0111), 0x44);
  // One data byte per register call, also in the 8-byte layout.
  EXPECT_EQ(rig.Chip().RegisterWrites(0x0112), 0u);
  EXPECT_EQ(rig.Chip().RegisterWrites(0x0101), 0u);
}

TEST(EepromTransfers, BitFlipFailsTheComparison) {
  Rig rig(1, 512);
  SIM_FAULTS faults;
  faults.nFlipAddress = 0x1F3;
  faults.btFlipMask = 0x10;
  rig.Chip().SetFaults(faults);
  rig.pProcedure->Settings().m_bLogEnabled = true;
  auto image = Image(512, 7);
  EXPECT_EQ(rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), rig.loadBuffer.data(),
                                              rig.loadBuffer.size()),
            2);
  EXPECT_EQ(rig.pProcedure->GetLastCode(), 0);
  EXPECT_EQ(rig.pProcedure->GetFirstMismatch(), 0x1F3);
  EXPECT_EQ(rig.loadBuffer[0x1F3], image[0x1F3] ^ 0x10);
  EXPECT_TRUE(rig.observer.vMessages.empty()) << "a difference shows no message";
  ASSERT_GE(rig.observer.vLog.size(), 4u);
  EXPECT_EQ(rig.observer.vLog[rig.observer.vLog.size() - 3], "10=0");
  EXPECT_EQ(rig.observer.vLog[rig.observer.vLog.size() - 2],
            "the EEPROM holds the new image except where the comparison failed");
}

TEST(EepromTransfers, WriteDelayShorterThanTheWriteCycleFailsVerification) {
  for (uint32_t dwDelay : {2u, 5u}) {
    Rig rig(0, 256);
    auto& s = rig.pProcedure->Settings();
    s.m_bRWTimeEnabled = true;
    s.m_dwWriteSleepTime = dwDelay;
    auto image = Image(256, 3);
    int r = rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), rig.loadBuffer.data(),
                                              rig.loadBuffer.size());
    EXPECT_EQ(r, dwDelay < 3 ? 2 : 0) << "delay " << dwDelay;
  }
}

// The fast profile against the default on a part with the data-sheet write
// cycle, a busy master and a real board's 1 ms per report: the same EEPROM
// bytes and read-backs, no rule of the chip broken, word mode really used,
// and at most half the device time.
TEST(EepromTransfers, FastProfileGivesTheSameBytesInAtMostHalfTheTime) {
  qrt::sim::SIM_CHIP_CONFIG chip;
  chip.dwWriteCycleUs = 5000;
  chip.dwBusyReads = 1;
  chip.dwLatencyUs = 1000;
  for (uint8_t nLayout : {0, 1, 2}) {
    for (uint32_t dwSize : {256u, 512u, 1024u, 2048u}) {
      SCOPED_TRACE("layout " + std::to_string(nLayout) + " size " + std::to_string(dwSize));
      auto before = Image(dwSize, 0x11);
      auto image = Image(dwSize, 0xEE);  // differs from before in every byte
      std::vector<uint8_t> eeprom[2], readBack[2];
      uint64_t qwDeviceUs[2] = {};
      for (int nFast = 0; nFast < 2; ++nFast) {
        Rig rig(nLayout, dwSize, &chip);
        rig.Chip().SetEepromContents(before.data(), before.size());
        if (nFast) rig.pProcedure->Settings().m_Profile.eKind = ETransferProfile::Fast;
        uint64_t qwStart = rig.platform.Clock().NowUs();
        ASSERT_EQ(rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(),
                                                    rig.loadBuffer.data(), rig.loadBuffer.size()),
                  0);
        qwDeviceUs[nFast] = rig.platform.Clock().NowUs() - qwStart;
        eeprom[nFast] = rig.Chip().Eeprom();
        ASSERT_EQ(rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size()),
                  0);
        readBack[nFast].assign(rig.loadBuffer.begin(), rig.loadBuffer.end());
        EXPECT_TRUE(rig.Chip().Violations().empty()) << rig.Chip().Violations()[0];
        EXPECT_EQ(rig.Chip().RegisterWrites(0x000A) > 0, nFast == 1) << "word mode only when fast";
        EXPECT_EQ(rig.observer.Last(EEepromProgress::Read), 100);
        EXPECT_EQ(rig.observer.Last(EEepromProgress::Verify), 100);
      }
      EXPECT_EQ(eeprom[0], image);
      EXPECT_EQ(eeprom[1], eeprom[0]);
      EXPECT_EQ(readBack[1], readBack[0]);
      EXPECT_LE(qwDeviceUs[1] * 2, qwDeviceUs[0]);
    }
  }
}

// A write-cycle wait shorter than the part's loses units: the verify must
// fail (never pass on stale bytes) and the chip records the broken rule.
TEST(EepromTransfers, FastWriteCycleShorterThanThePartsFailsTheVerify) {
  const struct {
    uint32_t dwPartUs, dwWaitMs;
    int nExpected;
  } cases[] = {{5000, 4, 2}, {5000, 5, 0}, {3000, 2, 2}, {3000, 3, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("part " + std::to_string(c.dwPartUs) + " us, wait " + std::to_string(c.dwWaitMs));
    qrt::sim::SIM_CHIP_CONFIG chip;
    chip.dwWriteCycleUs = c.dwPartUs;
    Rig rig(0, 512, &chip);
    auto before = Image(512, 0x11);
    rig.Chip().SetEepromContents(before.data(), before.size());
    auto& profile = rig.pProcedure->Settings().m_Profile;
    profile.eKind = ETransferProfile::Fast;
    profile.dwWriteCycleMs = c.dwWaitMs;
    auto image = Image(512, 0xEE);
    EXPECT_EQ(rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), rig.loadBuffer.data(),
                                                rig.loadBuffer.size()),
              c.nExpected);
    EXPECT_EQ(rig.Chip().Violations().empty(), c.nExpected == 0);
  }
}

TEST(EepromTransfers, UnplugMidTransferFailsWithACode) {
  for (bool bWrite : {false, true}) {
    Rig rig(0, 1024);
    auto original = Image(1024, 9);
    rig.Chip().SetEepromContents(original.data(), original.size());
    SIM_FAULTS faults;
    faults.dwUnplugAtReport = 3000;  // well inside the data units
    rig.Chip().SetFaults(faults);
    int r = 0;
    if (bWrite) {
      auto image = Image(1024, 4);
      r = rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), rig.loadBuffer.data(),
                                            rig.loadBuffer.size());
      EXPECT_EQ(r, 1);
      EXPECT_EQ(
          rig.observer.vMessages.back().rfind("Write data to EEPROM failed!\nbytes 0x0000-", 0),
          0u);
    } else {
      r = rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size());
      EXPECT_EQ(rig.observer.vMessages.back(), "Load data from EEPROM failed!");
      // Bytes read before the unplug, then 0xFF.
      size_t nRead = 0;
      while (nRead < 1024 && rig.loadBuffer[nRead] == original[nRead]) ++nRead;
      EXPECT_GT(nRead, 100u);
      EXPECT_LT(nRead, 1024u);
      EXPECT_TRUE(std::all_of(rig.loadBuffer.begin() + static_cast<std::ptrdiff_t>(nRead) + 1,
                              rig.loadBuffer.end(), [](uint8_t b) { return b == 0xFF; }));
      EXPECT_EQ(r, rig.pProcedure->GetLastCode());
    }
    EXPECT_GT(rig.pProcedure->GetLastCode(), 1000);
    EXPECT_TRUE(rig.platform.IsPlugged(0) == false);
  }
}

TEST(EepromTransfers, ReadBackFailureIsReportedWithItsCode) {
  Rig rig(0, 256);
  auto image = Image(256, 4);
  // The write takes three input reports per byte plus set-up (about 800);
  // fail an input report of the read-back.
  rig.pProcedure->Settings().m_bLogEnabled = true;
  SIM_FAULTS faults;
  faults.dwFailInput = 1200;
  rig.Chip().SetFaults(faults);
  EXPECT_EQ(rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), rig.loadBuffer.data(),
                                              rig.loadBuffer.size()),
            2);
  int nCode = rig.pProcedure->GetLastCode();
  EXPECT_GT(nCode, 5000);
  EXPECT_EQ(rig.observer.vMessages.back(), "[WriteDataToEEPROM] Read fail. ret = " +
                                               std::to_string(nCode) +
                                               "\nthe EEPROM is in an unknown state");
  ASSERT_GE(rig.observer.vLog.size(), 3u);
  EXPECT_EQ(rig.observer.vLog[rig.observer.vLog.size() - 3], "8=" + std::to_string(nCode));
  EXPECT_EQ(rig.observer.vLog[rig.observer.vLog.size() - 2], "the EEPROM is in an unknown state");
  EXPECT_EQ(rig.Chip().PeekRegister(0x0100) & 1, 0);
}

// The board left after it was opened: every step fails and says so.
TEST(EepromTransfers, NoDeviceShowsEveryFailureAndFails) {
  Rig rig(0, 256);
  rig.platform.Unplug(0);
  EXPECT_EQ(rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size()), -1);
  EXPECT_EQ(rig.observer.vMessages, (std::vector<std::string>{
                                        "GetChipInformation Fail!",
                                        "SetRegisterData(Address1=0100,btData1[0]=0x01) Fail!",
                                        "SetRegisterData(Address2=0111,btData2[0]=0x20) Fail!",
                                        "GetChipInformation Fail!",
                                        "GetRegisterData(Address1=0100,Enable=00) Fail!",
                                        "GetRegisterData(Address2=0111,Speed=00) Fail!",
                                        "Load data from EEPROM failed!",
                                    }));
  EXPECT_TRUE(std::all_of(rig.loadBuffer.begin(), rig.loadBuffer.end(),
                          [](uint8_t b) { return b == 0xFF; }));
}

TEST(EepromTransfers, ReportIdOffOnALayout2DeviceFailsInTheFirstBusyWait) {
  Rig rig(2, 256);
  rig.pProcedure->Settings().m_bReportId = 0;
  // The status read is refused before anything is sent; the wait reports a
  // failed read (1) in the first busy-wait stage.
  EXPECT_EQ(rig.pProcedure->ReadDataFromEEPROM(rig.loadBuffer.data(), rig.loadBuffer.size()), 2001);
  EXPECT_EQ(rig.Chip().RegisterReads(0x000B), 0u);
}

// The transfer length is the image size, not the room the caller gives for
// the read-back: a verified write never reports success for bytes it did not
// write, and a short load buffer only receives what fits.
TEST(EepromTransfers, ShortOrMissingLoadBufferStillWritesAndVerifiesTheWholeImage) {
  for (size_t nLoadBuffer : {size_t{0}, size_t{16}}) {
    SCOPED_TRACE(nLoadBuffer);
    Rig rig(0, 256);
    auto image = Image(256, 0x3C);
    std::vector<uint8_t> load(nLoadBuffer + 1, 0xAA);  // one guard byte
    uint8_t* pLoad = nLoadBuffer == 0 ? nullptr : load.data();
    ASSERT_EQ(rig.pProcedure->WriteDataToEEPROM(image.data(), image.size(), pLoad, nLoadBuffer), 0);
    EXPECT_EQ(rig.Chip().Eeprom(), image);
    EXPECT_EQ(rig.pProcedure->GetTransferLength(), 256u);
    EXPECT_TRUE(std::equal(load.begin(), load.begin() + nLoadBuffer, image.begin()));
    EXPECT_EQ(load[nLoadBuffer], 0xAA);

    // A read into the short buffer reads the whole EEPROM and keeps what fits.
    std::fill(load.begin(), load.end(), 0xAA);
    ASSERT_EQ(rig.pProcedure->ReadDataFromEEPROM(pLoad, nLoadBuffer), 0);
    EXPECT_EQ(rig.pProcedure->GetTransferLength(), 256u);
    EXPECT_TRUE(std::equal(load.begin(), load.begin() + nLoadBuffer, image.begin()));
    EXPECT_EQ(load[nLoadBuffer], 0xAA);
  }
}

// A failed write says what the EEPROM now holds, and the claim holds byte for
// byte whichever output or input report fails: the bytes called new are new,
// every byte after the one in doubt is the old one.
TEST(EepromTransfers, AFailedWriteSaysWhatTheEepromHolds) {
  constexpr size_t kLength = 4;
  const auto original = Image(256, 0x11);
  const auto image = Image(kLength, 0xEE);
  int nSure = 0, nInDoubt = 0;
  for (int nCase = 0; nCase < 6; ++nCase) {
    const uint8_t nLayout = static_cast<uint8_t>(nCase % 3);
    // The fast profile writes two bytes per unit (word mode).
    const ETransferProfile eProfile =
        nCase < 3 ? ETransferProfile::Default : ETransferProfile::Fast;
    const size_t nUnit = nCase < 3 ? 1 : 2;
    uint64_t qwOutputs = 0, qwInputs = 0;
    {
      Rig clean(nLayout, 256);
      clean.pProcedure->Settings().m_Profile.eKind = eProfile;
      clean.pProcedure->Settings().m_dwRomSize = kLength;
      ASSERT_EQ(clean.pProcedure->WriteDataToEEPROM(image.data(), kLength, nullptr, 0), 0);
      qwOutputs = clean.Chip().OutputReportCount();
      qwInputs = clean.Chip().InputReportCount();
    }
    // One rig for the case; the fault counters start again with each
    // SetFaults, and every write programs the chip afresh.
    Rig rig(nLayout, 256);
    rig.Chip().SetReportLogEnabled(false);
    rig.pProcedure->Settings().m_dwRomSize = kLength;
    rig.pProcedure->Settings().m_Profile.eKind = eProfile;
    for (bool bInput : {false, true}) {
      for (uint32_t n = 1; n <= (bInput ? qwInputs : qwOutputs); ++n) {
        SCOPED_TRACE(std::to_string(nCase) + (bInput ? " input " : " output ") +
                     std::to_string(n));
        rig.platform.Sleep(10);  // a write cycle the last run started ends
        rig.Chip().SetEepromContents(original.data(), original.size());
        SIM_FAULTS faults;
        (bInput ? faults.dwFailInput : faults.dwRefuseOutput) = n;
        rig.Chip().SetFaults(faults);
        const int r = rig.pProcedure->WriteDataToEEPROM(image.data(), kLength, nullptr, 0);
        const EEPROM_WRITE_STATE& state = rig.pProcedure->GetWriteState();
        const auto& eeprom = rig.Chip().Eeprom();
        if (r == 0) {
          EXPECT_EQ(state.eKind, EEPROM_WRITE_STATE::EKind::kVerified);
          continue;
        }
        if (r == 2) {
          EXPECT_EQ(state.eKind, EEPROM_WRITE_STATE::EKind::kUnknown);
          continue;
        }
        ASSERT_EQ(state.eKind, EEPROM_WRITE_STATE::EKind::kPartial);
        ASSERT_LE(state.nNew + state.nUnknown, kLength);
        ASSERT_LE(state.nUnknown, nUnit);
        // Only a unit whose command write failed is in doubt (it may have
        // arrived); one that started is read back, any other step left the
        // unit untouched (a failed second data byte in word mode, 9000+,
        // included).
        const int nCode = rig.pProcedure->GetLastCode();
        EXPECT_EQ(state.nUnknown > 0, nCode == 7003 || nCode == 7004) << nCode;
        for (size_t i = 0; i < state.nNew; ++i) EXPECT_EQ(eeprom[i], image[i]) << i;
        for (size_t i = state.nNew + state.nUnknown; i < eeprom.size(); ++i)
          ASSERT_EQ(eeprom[i], original[i]) << i;
        ++(state.nUnknown == 0 ? nSure : nInDoubt);
        EXPECT_EQ(rig.observer.vMessages.back(),
                  "Write data to EEPROM failed!\n" + EepromStateText(state));
      }
    }
  }
  // Both kinds of claim were made: most failing steps leave no doubt.
  EXPECT_GT(nSure, nInDoubt);
  EXPECT_GT(nInDoubt, 0);
}

// The protected write under report faults, in both profiles and every
// layout: a refused output or a failed input report at sampled positions of
// the backup read, the write and the verify, alone and with seeded random
// faults on top. Every claim about the EEPROM holds, no transfer starts in
// the part's write cycle, and no rollback fails where the backup could be
// written back. bench_fault_matrix sweeps every position.
TEST(EepromTransfers, ClaimsAndRollbacksHoldUnderReportFaults) {
  qrt::test::FAULT_MATRIX_FIGURES total;
  for (uint8_t nLayout : {0, 1, 2}) {
    for (ETransferProfile eProfile : {ETransferProfile::Default, ETransferProfile::Fast}) {
      qrt::test::CFaultMatrix matrix(nLayout, eProfile, 32);
      uint64_t qwOutputs = 0, qwInputs = 0;
      matrix.CleanCounts(qwOutputs, qwInputs);
      for (bool bInput : {false, true}) {
        for (uint32_t n = 1; n <= (bInput ? qwInputs : qwOutputs); n += 5) {
          SIM_FAULTS faults;
          (bInput ? faults.dwFailInput : faults.dwRefuseOutput) = n;
          const std::string szCase = std::to_string(nLayout) +
                                     (eProfile == ETransferProfile::Fast ? " fast" : " default") +
                                     (bInput ? " input " : " output ") + std::to_string(n);
          matrix.Run(faults, total, szCase);
          faults.dwRandomSeed = n;
          faults.dRandomProbability = 0.004;
          matrix.Run(faults, total, szCase + " + random");
        }
      }
    }
  }
  for (const auto& sz : total.vBroken) ADD_FAILURE() << sz;
  EXPECT_EQ(total.nBroken, 0u);
  // Both ends of a rollback were seen and checked.
  EXPECT_GT(total.nRolledBack, 100u);
  EXPECT_GT(total.nRollbackFailed, 0u);
}

TEST(EepromTransfers, StateTexts) {
  using EKind = EEPROM_WRITE_STATE::EKind;
  const struct {
    EEPROM_WRITE_STATE state;
    const char* pszText;
  } cases[] = {
      {{EKind::kPartial, 256, 0xD8, 0}, "bytes 0x0000-0x00D7 are new, the rest is unchanged"},
      {{EKind::kPartial, 256, 0, 0}, "the EEPROM is unchanged"},
      {{EKind::kPartial, 256, 1, 1},
       "byte 0x0000 is new, byte 0x0001 is unknown, the rest is unchanged"},
      {{EKind::kPartial, 2048, 0x7FF, 1}, "bytes 0x0000-0x07FE are new, byte 0x07FF is unknown"},
      {{EKind::kCompareFailed, 256, 0, 0},
       "the EEPROM holds the new image except where the comparison failed"},
      {{EKind::kUnknown, 256, 0, 0}, "the EEPROM is in an unknown state"},
      {{EKind::kVerified, 256, 0, 0}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EepromStateText(c.state), c.pszText);
}

// A board whose lock another task holds is not opened: the open waits as
// told (on the caller's clock), names the holder from one second on, and
// nothing reaches the chip. Once the lock is free the board opens.
TEST(BoardHandle, ALockHeldElsewhereOpensNothingAndSaysWhy) {
  CSimPlatform platform;
  platform.AddDevice(SimDevice(kVid, kPid, 0));
  std::promise<void> held, done;
  std::thread holder([&] {
    auto pBoard = qrt::test::OpenSimBoard(platform);
    held.set_value();
    done.get_future().wait();
  });
  held.get_future().wait();
  const uint64_t qwReports = platform.Chip(0).OutputReportCount();
  uint32_t dwSlept = 0;
  std::string szHolder;
  BOARD_LOCK_WAIT wait;
  wait.dwTimeOutMs = 3000;
  wait.fnSleep = [&](uint32_t dwMs) { dwSlept += dwMs; };
  wait.fnWaiting = [&](uint32_t dwWaited, const std::string& szNamed) {
    if (szHolder.empty() && !szNamed.empty()) szHolder = std::to_string(dwWaited) + " " + szNamed;
  };
  BOARD_OPEN_RESULT result;
  EXPECT_EQ(OpenBoard(platform, platform.BoardOf(0), wait, result), nullptr);
  EXPECT_EQ(result.eResult, EBoardOpen::kInUse);
  EXPECT_EQ(dwSlept, 3000u);
  EXPECT_EQ(szHolder, "1000 another task of this program");
  EXPECT_EQ(result.szWhy,
            "The device is in use: its lock sim:1 is held by another task of this program; gave "
            "up after 3 s.");
  EXPECT_EQ(platform.Chip(0).OutputReportCount(), qwReports);
  done.set_value();
  holder.join();
  EXPECT_NE(OpenBoard(platform, platform.BoardOf(0), wait, result), nullptr);
}
