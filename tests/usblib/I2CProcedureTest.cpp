// WriteI2C, ReadI2C and ReadI2C_ByMode on the simulated chip: data placement,
// block select, argument checks, and every stage's failure code reached by
// fault injection with the enable bit restored.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "SimTestSupport.h"
#include "UsbHidMgr.h"

using namespace USB42XX_MGR;
using qrt::sim::CSimChip;
using qrt::sim::CSimPlatform;
using qrt::sim::SIM_FAULTS;
using qrt::test::SimDevice;

namespace {

constexpr uint16_t kVid = 0x3A7C;
constexpr uint16_t kPid = 0x4250;

uint8_t ReportIdOf(uint8_t nLayout) {
  return nLayout == 0 ? 0 : 1;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t btSeed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(btSeed + i * 7);
  return v;
}

}  // namespace

TEST(WriteI2C, ThreeHundredBytesFrom0x00F0SwitchBlocksAtTheBoundaries) {
  CSimPlatform platform;
  platform.AddDevice(SimDevice(kVid, kPid, 0, 2048));
  CUsbHidMgr hid(platform);
  auto data = Pattern(300, 3);
  std::vector<uint16_t> progress;
  I2C_PROGRESS_CALLBACK fn = [&](uint16_t wTotal, uint16_t wDone) {
    EXPECT_EQ(wTotal, 300);
    progress.push_back(wDone);
    return 0;
  };
  ASSERT_EQ(hid.WriteI2C(kVid, kPid, 1, 0x00F0, data.data(), 300, kI2CNoTimeOut, fn, 5, 0, 0), 0);
  const CSimChip& chip = platform.Chip(0);
  // Block 0 before the first byte, block 1 before the 17th (0x0100), block 2
  // before the 273rd (0x0200); bits 7..3 of the slave address kept.
  EXPECT_EQ(chip.SlaveWrites(), (std::vector<uint8_t>{0x50, 0x51, 0x52}));
  for (size_t i = 0; i < 300; ++i) ASSERT_EQ(chip.Eeprom()[0xF0 + i], data[i]) << i;
  EXPECT_EQ(chip.Eeprom()[0xEF], 0xFF);
  EXPECT_EQ(chip.Eeprom()[0xF0 + 300], 0xFF);
  ASSERT_EQ(progress.size(), 300u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 299);
  EXPECT_EQ(chip.PeekRegister(0x0100) & 1, 0);
  EXPECT_TRUE(chip.Violations().empty());

  std::vector<uint8_t> back(300, 0);
  ASSERT_EQ(hid.ReadI2C(kVid, kPid, 1, 0x00F0, back.data(), 300, kI2CNoTimeOut, nullptr, 0, 0, 0),
            0);
  EXPECT_EQ(back, data);
}

TEST(WriteI2C, WordModeWritesPairsAndReadsThemBack) {
  for (uint8_t nLayout : {0, 1, 2}) {
    CSimPlatform platform;
    platform.AddDevice(SimDevice(kVid, kPid, nLayout, 512));
    CUsbHidMgr hid(platform);
    auto data = Pattern(40, 9);
    uint8_t id = ReportIdOf(nLayout);
    ASSERT_EQ(hid.WriteI2C(kVid, kPid, 2, 0x00F0, data.data(), 40, 128, nullptr, 5, nLayout, id),
              0);
    for (size_t i = 0; i < 40; ++i) ASSERT_EQ(platform.Chip(0).Eeprom()[0xF0 + i], data[i]);
    std::vector<uint8_t> back(40, 0);
    ASSERT_EQ(hid.ReadI2C(kVid, kPid, 2, 0x00F0, back.data(), 40, 128, nullptr, 0, nLayout, id), 0);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(platform.Chip(0).Violations().empty());
  }
}

TEST(I2CProcedures, LengthZeroOnlySetsAndClearsTheEnableBit) {
  for (bool bWrite : {true, false}) {
    CSimPlatform platform;
    auto config = SimDevice(kVid, kPid, 0);
    config.Chip.btEnablePowerOn = 0xA4;  // other bits must survive
    platform.AddDevice(config);
    CUsbHidMgr hid(platform);
    uint8_t btDummy = 0;
    int r = bWrite ? hid.WriteI2C(kVid, kPid, 1, 0, &btDummy, 0, 128, nullptr, 5, 0, 0)
                   : hid.ReadI2C(kVid, kPid, 1, 0, &btDummy, 0, 128, nullptr, 5, 0, 0);
    EXPECT_EQ(r, 0);
    const CSimChip& chip = platform.Chip(0);
    EXPECT_EQ(chip.RegisterReads(0x000B), 1u);
    EXPECT_EQ(chip.RegisterWrites(0x0100), 2u);
    EXPECT_EQ(chip.PeekRegister(0x0100), 0xA4);
    for (uint16_t wReg : {0x0008, 0x0009, 0x000A, 0x000B, 0x0110}) {
      EXPECT_EQ(chip.RegisterWrites(wReg), 0u) << wReg;
    }
  }
}

TEST(I2CProcedures, ArgumentChecksComeBeforeAnyReport) {
  CSimPlatform platform;
  platform.AddDevice(SimDevice(kVid, kPid, 0));
  CUsbHidMgr hid(platform);
  uint8_t buffer[8] = {};
  EXPECT_EQ(hid.WriteI2C(kVid, kPid, 2, 3, buffer, 4, 128, nullptr, 0, 0, 0), 1000);
  EXPECT_EQ(hid.ReadI2C(kVid, kPid, 2, 3, buffer, 4, 128, nullptr, 0, 0, 0), 1000);
  EXPECT_EQ(hid.WriteI2C(kVid, kPid, 2, 2, buffer, 3, 128, nullptr, 0, 0, 0), 1000);
  EXPECT_EQ(hid.WriteI2C(kVid, kPid, 3, 0, buffer, 4, 128, nullptr, 0, 0, 0), 1);
  EXPECT_EQ(hid.ReadI2C(kVid, kPid, 0, 0, buffer, 4, 128, nullptr, 0, 0, 0), 1);
  EXPECT_EQ(hid.ReadI2C_ByMode(kVid, kPid, 0x50, 3, 1, 2, buffer, 4, 128, 0, 0, 0), 2);
  EXPECT_EQ(hid.ReadI2C_ByMode(kVid, kPid, 0x50, 2, 1, 2, buffer, 3, 128, 0, 0, 0), 3);
  EXPECT_EQ(hid.ReadI2C_ByMode(kVid, kPid, 0x50, 2, 1, 7, buffer, 2, 128, 0, 0, 0), 1);
  EXPECT_EQ(platform.Chip(0).OutputReportCount(), 0u);
  // A device that is not there: -1, nothing sent.
  EXPECT_EQ(hid.ReadI2C(kVid, 0x1111, 1, 0, buffer, 4, 128, nullptr, 0, 0, 0), -1);
  EXPECT_EQ(hid.WriteI2C(kVid, kPid, 1, 0, buffer, 4, 128, nullptr, 0, 1, 1), -1);
}

TEST(ReadI2C_ByMode, ReadsBytesAndWordsAtTheWordAddress) {
  CSimPlatform platform;
  platform.AddDevice(SimDevice(kVid, kPid, 0, 1024));
  auto image = Pattern(1024, 1);
  platform.Chip(0).SetEepromContents(image.data(), image.size());
  CUsbHidMgr hid(platform);
  uint8_t buffer[4] = {};
  // Byte at EEPROM address 0x2FE: block 2, word 0xFE; auto-increment wraps in the block.
  ASSERT_EQ(hid.ReadI2C_ByMode(kVid, kPid, 0x52, 0xFE, 1, 1, buffer, 3, 128, 0, 0, 0), 0);
  EXPECT_EQ(buffer[0], image[0x2FE]);
  EXPECT_EQ(buffer[1], image[0x2FF]);
  EXPECT_EQ(buffer[2], image[0x200]);
  ASSERT_EQ(hid.ReadI2C_ByMode(kVid, kPid, 0x51, 0x10, 1, 2, buffer, 4, 128, 0, 0, 0), 0);
  EXPECT_EQ((std::vector<uint8_t>(buffer, buffer + 4)),
            (std::vector<uint8_t>(image.begin() + 0x110, image.begin() + 0x114)));
  EXPECT_EQ(platform.Chip(0).PeekRegister(0x0100) & 1, 0);
  EXPECT_TRUE(platform.Chip(0).Violations().empty());
}

TEST(ReadI2C_ByMode, SlaveAddressZeroLeavesEnableAndSlaveRegistersAlone) {
  CSimPlatform platform;
  platform.AddDevice(SimDevice(kVid, kPid, 0, 256));
  CUsbHidMgr hid(platform);
  uint8_t buffer[2] = {};
  ASSERT_EQ(hid.ReadI2C_ByMode(kVid, kPid, 0, 0x10, 1, 1, buffer, 2, 128, 0, 0, 0), 0);
  EXPECT_EQ(platform.Chip(0).RegisterReads(0x0100), 0u);
  EXPECT_EQ(platform.Chip(0).RegisterWrites(0x0100), 0u);
  EXPECT_EQ(platform.Chip(0).RegisterWrites(0x0110), 0u);
}

// ---- every stage base, by fault injection ----

namespace {

using Procedure = std::function<int(CUsbHidMgr&, uint8_t nLayout)>;

struct StageCase {
  const char* pszName;
  Procedure fn;
  std::set<int> expectedBases;
};

// Runs the procedure once cleanly to count its reports, then once per report
// with that output report refused or that input report failed. Returns the
// stage bases of the failures seen; checks each failure left enable bit 0
// clear and broke no rule of the chip.
std::set<int> SweepFaults(const Procedure& fn, uint8_t nLayout, uint32_t dwEepromSize) {
  auto setUp = [&](CSimPlatform& platform) {
    auto config = SimDevice(kVid, kPid, nLayout, dwEepromSize);
    config.Chip.dwBusyReads = 1;
    config.Chip.btEnablePowerOn = 0x40;
    platform.AddDevice(config);
  };
  uint64_t qwOutputs = 0, qwInputs = 0;
  {
    CSimPlatform platform;
    setUp(platform);
    CUsbHidMgr hid(platform);
    EXPECT_EQ(fn(hid, nLayout), 0);
    qwOutputs = platform.Chip(0).OutputReportCount();
    qwInputs = platform.Chip(0).InputReportCount();
  }
  std::set<int> bases;
  for (int nKind = 0; nKind < 2; ++nKind) {
    uint64_t qwCount = nKind == 0 ? qwOutputs : qwInputs;
    for (uint64_t n = 1; n <= qwCount; ++n) {
      CSimPlatform platform;
      setUp(platform);
      CUsbHidMgr hid(platform);
      SIM_FAULTS faults;
      (nKind == 0 ? faults.dwRefuseOutput : faults.dwFailInput) = static_cast<uint32_t>(n);
      platform.Chip(0).SetFaults(faults);
      int r = fn(hid, nLayout);
      const CSimChip& chip = platform.Chip(0);
      if (r == 0) continue;  // the refused report was the final restore
      int nSub = r % 1000;
      EXPECT_TRUE(nSub >= 1 && nSub <= 4) << r;
      bases.insert(r - nSub);
      EXPECT_EQ(chip.PeekRegister(0x0100), 0x40) << "code " << r;
      EXPECT_TRUE(chip.Violations().empty()) << "code " << r << ": " << chip.Violations()[0];
    }
  }
  return bases;
}

}  // namespace

TEST(StageCodes, EveryStageBaseIsReachedAndRestoresTheEnableBit) {
  // Three bytes across a block boundary, so the page select runs twice.
  const std::vector<uint8_t> data = {0x11, 0x22, 0x33, 0x44};
  auto write = [data](uint8_t btMode) {
    return [data, btMode](CUsbHidMgr& hid, uint8_t nLayout) {
      uint16_t wLength = btMode == 1 ? 3 : 4;
      return hid.WriteI2C(kVid, kPid, btMode, 0x00FE, data.data(), wLength, kI2CNoTimeOut, nullptr,
                          5, nLayout, ReportIdOf(nLayout));
    };
  };
  auto read = [](uint8_t btMode) {
    return [btMode](CUsbHidMgr& hid, uint8_t nLayout) {
      uint8_t buffer[4] = {};
      uint16_t wLength = btMode == 1 ? 3 : 4;
      return hid.ReadI2C(kVid, kPid, btMode, 0x00FE, buffer, wLength, kI2CNoTimeOut, nullptr, 0,
                         nLayout, ReportIdOf(nLayout));
    };
  };
  auto byMode = [](uint8_t btMode) {
    return [btMode](CUsbHidMgr& hid, uint8_t nLayout) {
      uint8_t buffer[4] = {};
      int nLength = btMode == 1 ? 3 : 4;
      return hid.ReadI2C_ByMode(kVid, kPid, 0x51, 0x10, 1, btMode, buffer, nLength, kI2CNoTimeOut,
                                0, nLayout, ReportIdOf(nLayout));
    };
  };
  const StageCase cases[] = {
      {"WriteI2C", nullptr, {2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000}},
      {"ReadI2C", nullptr, {2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000}},
      {"ReadI2C_ByMode",
       nullptr,
       {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000}},
  };
  const std::function<Procedure(uint8_t)> makers[] = {write, read, byMode};
  for (uint8_t nLayout : {0, 1, 2}) {
    for (size_t i = 0; i < 3; ++i) {
      std::set<int> seen;
      for (uint8_t btMode : {1, 2}) {
        auto bases = SweepFaults(makers[i](btMode), nLayout, 512);
        seen.insert(bases.begin(), bases.end());
      }
      EXPECT_EQ(seen, cases[i].expectedBases) << cases[i].pszName << " layout " << int(nLayout);
    }
  }
}

TEST(StageCodes, BusyMasterTimesOutOrGivesUpAfterTenReads) {
  CSimPlatform platform;
  auto config = SimDevice(kVid, kPid, 0);
  config.Chip.dwLatencyUs = 1000;
  platform.AddDevice(config);
  CUsbHidMgr hid(platform);
  SIM_FAULTS faults;
  faults.bStayBusy = true;
  platform.Chip(0).SetFaults(faults);
  uint8_t buffer[4] = {};
  EXPECT_EQ(hid.ReadI2C(kVid, kPid, 1, 0, buffer, 4, 3, nullptr, 0, 0, 0), 2000 - 1);
  EXPECT_EQ(hid.ReadI2C(kVid, kPid, 1, 0, buffer, 4, kI2CNoTimeOut, nullptr, 0, 0, 0), 2002);
  EXPECT_EQ(platform.Chip(0).PeekRegister(0x0100) & 1, 0);
}

// The exact code of each failing report, layout 0, one unit, busy bit clear
// at the first status read: pins every step to its stage.
TEST(StageCodes, EachReportOfOneUnitFailsWithItsOwnCode) {
  struct Case {
    const char* pszName;
    std::vector<int> outputs;  // code when the Nth output report is refused
    std::vector<int> inputs;   // code when the Nth input report fails
  };
  const Case cases[] = {
      {"WriteI2C",
       {2001, 3003, 4003, 4004, 5003, 6003, 6004, 7001, 8003, 8004, 5003, 6003, 6004, 7003, 7004,
        8001},
       {2001, 3004, 5004, 7001, 5004, 8001}},
      {"ReadI2C",
       {2001, 3003, 4003, 4004, 5003, 6003, 6004, 7003, 8003, 8004, 9003, 9004, 10001, 11003},
       {2001, 3004, 5004, 7004, 10001, 11004}},
      {"ReadI2C_ByMode",
       // two units: command, wait, data, wait after the advance, control rewrite
       {1001, 2003,  3003,  3004,  4003, 4004, 5003, 5004, 6003,  6004,  7001,
        8003, 10001, 12003, 12004, 6003, 6004, 7001, 8003, 10001, 12003, 12004},
       {1001, 2004, 7001, 8004, 10001, 7001, 8004, 10001}},
  };
  auto run = [](const char* pszName, CUsbHidMgr& hid) {
    uint8_t data[2] = {0x12, 0x34};
    std::string szName = pszName;
    if (szName == "WriteI2C") {
      return hid.WriteI2C(kVid, kPid, 1, 0x10, data, 1, kI2CNoTimeOut, nullptr, 5, 0, 0);
    }
    if (szName == "ReadI2C") {
      return hid.ReadI2C(kVid, kPid, 1, 0x10, data, 1, kI2CNoTimeOut, nullptr, 0, 0, 0);
    }
    return hid.ReadI2C_ByMode(kVid, kPid, 0x50, 0x10, 1, 1, data, 2, kI2CNoTimeOut, 0, 0, 0);
  };
  for (const auto& c : cases) {
    for (int nKind = 0; nKind < 2; ++nKind) {
      const auto& codes = nKind == 0 ? c.outputs : c.inputs;
      for (size_t n = 1; n <= codes.size(); ++n) {
        CSimPlatform platform;
        platform.AddDevice(SimDevice(kVid, kPid, 0));
        CUsbHidMgr hid(platform);
        SIM_FAULTS faults;
        (nKind == 0 ? faults.dwRefuseOutput : faults.dwFailInput) = static_cast<uint32_t>(n);
        platform.Chip(0).SetFaults(faults);
        EXPECT_EQ(run(c.pszName, hid), codes[n - 1])
            << c.pszName << (nKind == 0 ? " output " : " input ") << n;
      }
    }
  }
}
