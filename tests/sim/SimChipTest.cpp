// The simulated chip itself: the rules it checks, the EEPROM model (blocks,
// write cycle), faults (also seeded-random), files, and the fault spec text.
#include <gtest/gtest.h>

#include <fstream>

#include "SimTestSupport.h"
#include "SimChip.h"
#include "SimFaultOptions.h"
#include "SimReportLog.h"

using namespace qrt::sim;
using Bytes = std::vector<uint8_t>;

namespace {

// Layout-0 register access straight on the chip.
void Write(CSimChip& chip, uint16_t wAddress, uint8_t btValue) {
  uint8_t a[5] = {0x00, 0x60, static_cast<uint8_t>(wAddress), static_cast<uint8_t>(wAddress >> 8),
                  0x10};
  uint8_t d[5] = {0x00, 0x60, btValue, 0x01, 0x20};
  ASSERT_TRUE(chip.HandleOutputReport(a, 5));
  ASSERT_TRUE(chip.HandleOutputReport(d, 5));
}

uint8_t Read(CSimChip& chip, uint16_t wAddress) {
  uint8_t a[5] = {0x00, 0x60, static_cast<uint8_t>(wAddress), static_cast<uint8_t>(wAddress >> 8),
                  0x10};
  uint8_t r[5] = {};
  EXPECT_TRUE(chip.HandleOutputReport(a, 5));
  EXPECT_TRUE(chip.HandleInputReport(r, 5));
  return r[2];
}

// One byte-mode I2C transfer at EEPROM word address btWord of the selected block.
void Start(CSimChip& chip, uint8_t btWord, bool bWrite) {
  Write(chip, 0x0008, static_cast<uint8_t>(0x04 | (btWord >> 6)));
  Write(chip, 0x000B, static_cast<uint8_t>((bWrite ? 0xC0 : 0x80) | (btWord & 0x3F)));
}

}  // namespace

TEST(SimChip, RecordsRuleViolations) {
  auto pClock = std::make_shared<CSimClock>();
  CSimChip chip(SIM_CHIP_CONFIG{}, pClock);
  Write(chip, 0x0009, 0x12);  // enable bit 0 clear
  EXPECT_EQ(chip.Violations().size(), 1u);
  uint8_t shortReport[4] = {0x00, 0x60, 0x00, 0x01};
  EXPECT_FALSE(chip.HandleOutputReport(shortReport, 4));
  EXPECT_EQ(chip.Violations().size(), 2u);
  // A start while the master is busy.
  SIM_CHIP_CONFIG config;
  config.dwBusyReads = 3;
  config.btEnablePowerOn = 1;
  CSimChip busy(config, pClock);
  Start(busy, 0, false);
  EXPECT_TRUE(busy.Violations().empty());
  Write(busy, 0x000B, 0x80);
  EXPECT_EQ(busy.Violations().size(), 1u);
  // Status reads: busy for the configured reads, then idle.
  CSimChip counted(config, pClock);
  Start(counted, 0, false);
  EXPECT_EQ(Read(counted, 0x000B) & 0x80, 0x80);
  EXPECT_EQ(Read(counted, 0x000B) & 0x80, 0x80);
  EXPECT_EQ(Read(counted, 0x000B) & 0x80, 0x80);
  EXPECT_EQ(Read(counted, 0x000B) & 0x80, 0x00);
  EXPECT_TRUE(counted.Violations().empty());
}

TEST(SimChip, BlocksTheEepromDoesNotHaveDoNotAnswer) {
  auto pClock = std::make_shared<CSimClock>();
  SIM_CHIP_CONFIG config;
  config.dwEepromSize = 512;  // 24C04: blocks 0 and 1
  config.btEnablePowerOn = 1;
  CSimChip chip(config, pClock);
  Bytes image(512);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 3 + 1);
  chip.SetEepromContents(image.data(), image.size());
  Write(chip, 0x0110, 0x51);
  Start(chip, 0x22, false);
  EXPECT_EQ(Read(chip, 0x0009), image[0x122]);
  Write(chip, 0x0110, 0x52);  // no block 2
  Start(chip, 0x22, false);
  EXPECT_EQ(Read(chip, 0x0009), 0xFF);
  Write(chip, 0x0009, 0x00);
  Start(chip, 0x22, true);
  EXPECT_EQ(chip.Eeprom(), image) << "a write to a missing block is lost";
  Write(chip, 0x0110, 0x48);  // another slave address altogether
  Start(chip, 0x22, false);
  EXPECT_EQ(Read(chip, 0x0009), 0xFF);
}

TEST(SimChip, NoAnswerDuringTheWriteCycle) {
  auto pClock = std::make_shared<CSimClock>();
  SIM_CHIP_CONFIG config;
  config.btEnablePowerOn = 1;
  config.dwWriteCycleUs = 3000;
  CSimChip chip(config, pClock);
  Write(chip, 0x0009, 0x5A);
  Start(chip, 0x10, true);
  EXPECT_EQ(chip.Eeprom()[0x10], 0x5A);
  pClock->Advance(2999);
  Write(chip, 0x0009, 0x66);
  Start(chip, 0x11, true);
  EXPECT_EQ(chip.Eeprom()[0x11], 0xFF) << "lost: the part is still busy";
  Start(chip, 0x10, false);
  EXPECT_EQ(Read(chip, 0x0009), 0xFF);
  EXPECT_EQ(chip.Violations(),
            (std::vector<std::string>{"write of the EEPROM during its write cycle",
                                      "read of the EEPROM during its write cycle"}));
  pClock->Advance(1);
  Start(chip, 0x10, false);
  EXPECT_EQ(Read(chip, 0x0009), 0x5A);
  EXPECT_EQ(chip.Violations().size(), 2u);
}

// "write-protect": every write is ignored, and without a write there is no
// write cycle either (the next read answers at once).
TEST(SimChip, WriteProtectIgnoresWrites) {
  auto pClock = std::make_shared<CSimClock>();
  SIM_CHIP_CONFIG config;
  config.btEnablePowerOn = 1;
  CSimChip chip(config, pClock);
  SIM_FAULTS faults;
  std::string szError;
  ASSERT_TRUE(ParseSimFaultSpec("write-protect", faults, config, szError)) << szError;
  chip.SetFaults(faults);
  const Bytes before(256, 0x11);
  chip.SetEepromContents(before.data(), before.size());
  Write(chip, 0x0009, 0x5A);
  Start(chip, 0x10, true);
  EXPECT_EQ(chip.Eeprom(), before);
  Start(chip, 0x10, false);
  EXPECT_EQ(Read(chip, 0x0009), 0x11);
  EXPECT_TRUE(chip.Violations().empty()) << chip.Violations()[0];
}

TEST(SimChip, SeededRandomFaultsReplayExactly) {
  auto run = [](uint32_t dwSeed) {
    auto pClock = std::make_shared<CSimClock>();
    CSimChip chip(SIM_CHIP_CONFIG{}, pClock);
    SIM_FAULTS faults;
    faults.dwRandomSeed = dwSeed;
    faults.dRandomProbability = 0.2;
    chip.SetFaults(faults);
    std::vector<int> failed;
    uint8_t a[5] = {0x00, 0x60, 0x11, 0x01, 0x10};
    for (int i = 0; i < 200; ++i) {
      if (!chip.HandleOutputReport(a, 5)) failed.push_back(i);
    }
    return failed;
  };
  auto first = run(42);
  EXPECT_EQ(first, run(42));
  EXPECT_NE(first, run(43));
  EXPECT_GT(first.size(), 10u);
  EXPECT_LT(first.size(), 80u);
}

TEST(SimChip, UnplugFaultCallsTheHookAndRefusesEverythingAfter) {
  auto pClock = std::make_shared<CSimClock>();
  CSimChip chip(SIM_CHIP_CONFIG{}, pClock);
  int nHooks = 0;
  chip.SetUnplugHook([&] { ++nHooks; });
  SIM_FAULTS faults;
  faults.dwUnplugAtReport = 3;
  chip.SetFaults(faults);
  uint8_t a[5] = {0x00, 0x60, 0x11, 0x01, 0x10};
  uint8_t r[5] = {};
  EXPECT_TRUE(chip.HandleOutputReport(a, 5));
  EXPECT_TRUE(chip.HandleInputReport(r, 5));
  EXPECT_FALSE(chip.HandleOutputReport(a, 5));
  EXPECT_FALSE(chip.HandleInputReport(r, 5));
  EXPECT_EQ(nHooks, 1);
  EXPECT_TRUE(chip.IsUnplugged());
}

TEST(SimChip, EepromFileRoundTripAndShortFile) {
  qrt::test::CTempDir dir;
  std::string szPath = dir.Path() + "/eeprom.bin";
  auto pClock = std::make_shared<CSimClock>();
  SIM_CHIP_CONFIG config;
  config.dwEepromSize = 1024;
  CSimChip chip(config, pClock);
  for (size_t i = 0; i < 1024; ++i) chip.Eeprom()[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(chip.SaveEeprom(szPath));
  CSimChip other(config, pClock);
  ASSERT_TRUE(other.LoadEeprom(szPath));
  EXPECT_EQ(other.Eeprom(), chip.Eeprom());
  {
    std::ofstream small(szPath, std::ios::binary | std::ios::trunc);
    small.write("\x01\x02\x03", 3);
  }
  ASSERT_TRUE(other.LoadEeprom(szPath));
  EXPECT_EQ(other.Eeprom()[2], 3);
  EXPECT_EQ(other.Eeprom()[3], 0xFF);
  EXPECT_FALSE(other.LoadEeprom(dir.Path() + "/missing.bin"));
  EXPECT_FALSE(chip.SaveEeprom(dir.Path() + "/no/such/dir/x.bin"));
}

TEST(SimFaultSpec, AcceptsTheGrammarAndRefusesTheRest) {
  SIM_FAULTS faults;
  SIM_CHIP_CONFIG config;
  std::string szError;
  ASSERT_TRUE(ParseSimFaultSpec(
      "refuse-output:12,fail-input:0x10,unplug:900,stay-busy,busy-reads:2,flip:0x1F3:0x10,"
      "write-protect,write-cycle-us:5000,latency-us:100,random:7:0.25",
      faults, config, szError))
      << szError;
  EXPECT_EQ(faults.dwRefuseOutput, 12u);
  EXPECT_EQ(faults.dwFailInput, 16u);
  EXPECT_EQ(faults.dwUnplugAtReport, 900u);
  EXPECT_TRUE(faults.bStayBusy);
  EXPECT_EQ(config.dwBusyReads, 2u);
  EXPECT_EQ(faults.nFlipAddress, 0x1F3);
  EXPECT_EQ(faults.btFlipMask, 0x10);
  EXPECT_TRUE(faults.bWriteProtect);
  EXPECT_EQ(config.dwWriteCycleUs, 5000u);
  EXPECT_EQ(config.dwLatencyUs, 100u);
  EXPECT_EQ(faults.dwRandomSeed, 7u);
  EXPECT_DOUBLE_EQ(faults.dRandomProbability, 0.25);

  ASSERT_TRUE(ParseSimFaultSpec("flip:5", faults, config, szError));
  EXPECT_EQ(faults.nFlipAddress, 5);
  EXPECT_EQ(faults.btFlipMask, 0x01);
  EXPECT_FALSE(faults.bFlipOnce);
  ASSERT_TRUE(ParseSimFaultSpec("flip-once:6:0x80", faults, config, szError));
  EXPECT_TRUE(faults.bFlipOnce);
  EXPECT_EQ(faults.btFlipMask, 0x80);

  const char* bad[] = {"",           "refuse-output", "refuse-output:0", "refuse-output:-1",
                       "unplug:x",   "stay-busy:1",   "flip:4096",       "flip:1:0",
                       "random:1",   "random:1:0",    "random:1:1.5",    "bogus",
                       "flip:1:2:3", "latency-us:1,,"};
  for (const char* pszSpec : bad) {
    SIM_FAULTS before;
    before.dwRefuseOutput = 99;
    SIM_FAULTS f = before;
    SIM_CHIP_CONFIG c;
    EXPECT_FALSE(ParseSimFaultSpec(pszSpec, f, c, szError)) << pszSpec;
    EXPECT_EQ(f.dwRefuseOutput, 99u) << "unchanged on refusal: " << pszSpec;
  }
}

// The log text is what the virtual board and qrt4250-cli --sim-log both
// write, and what the rig compares byte for byte: a refused report must not
// read like a delivered one.
TEST(SimChip, ReportLogLinesTellKindAndOutcome) {
  auto pClock = std::make_shared<CSimClock>();
  CSimChip chip(SIM_CHIP_CONFIG{}, pClock);
  SIM_FAULTS faults;
  faults.dwFailInput = 2;
  chip.SetFaults(faults);
  const Bytes select = {0x00, 0x60, 0xF2, 0x7F, 0x10};
  ASSERT_TRUE(chip.HandleOutputReport(select.data(), select.size()));
  Bytes in(5, 0);
  ASSERT_TRUE(chip.HandleInputReport(in.data(), in.size()));
  EXPECT_FALSE(chip.HandleInputReport(in.data(), in.size()));
  EXPECT_FALSE(chip.HandleOutputReport(select.data(), 4));  // wrong length
  const std::vector<std::string> vExpected = {"out 00 60 F2 7F 10", "in 00 60 80 00 00",
                                              "in-failed", "out-refused 00 60 F2 7F"};
  ASSERT_EQ(chip.ReportLog().size(), vExpected.size());
  for (size_t i = 0; i < vExpected.size(); ++i)
    EXPECT_EQ(FormatReportLogLine(chip.ReportLog()[i]), vExpected[i]) << i;
}
