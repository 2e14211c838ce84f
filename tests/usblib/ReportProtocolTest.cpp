// The report protocol and the transport on the simulated chip: literal report
// bytes per layout, chip identification, the busy wait, the I2C procedures
// and their failure codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "SimTestSupport.h"
#include "Trace.h"
#include "UsbHidMgr.h"
#include "platform/EventObject.h"

using namespace USB42XX_MGR;
using qrt::sim::CSimChip;
using qrt::sim::CSimPlatform;
using qrt::sim::SIM_FAULTS;
using qrt::test::SimDevice;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint16_t kVid = 0x3A7C;
constexpr uint16_t kPid = 0x4250;

uint8_t ReportIdOf(uint8_t nLayout) {
  return nLayout == 0 ? 0 : 1;
}

std::vector<Bytes> Outputs(const CSimChip& chip) {
  std::vector<Bytes> v;
  for (const auto& e : chip.ReportLog()) {
    if (e.bOutput) v.push_back(e.vBytes);
  }
  return v;
}

std::vector<Bytes> Inputs(const CSimChip& chip) {
  std::vector<Bytes> v;
  for (const auto& e : chip.ReportLog()) {
    if (!e.bOutput) v.push_back(e.vBytes);
  }
  return v;
}

struct Rig {
  explicit Rig(uint8_t nLayout, uint32_t dwSize = 256) : hid(platform) {
    platform.AddDevice(SimDevice(kVid, kPid, nLayout, dwSize));
  }
  CSimChip& Chip() { return platform.Chip(0); }
  std::unique_ptr<IHidDevice> Open(uint8_t nLayout) { return hid.OpenDevice(kVid, kPid, nLayout); }
  CSimPlatform platform;
  CUsbHidMgr hid;
};

}  // namespace

struct LayoutBytes {
  uint8_t nLayout;
  std::vector<Bytes> write;  // register write of 0x2A to 0x0111
  Bytes readOut;             // register read of 0x0110
  Bytes readIn;
  const char* pszTrace;  // the first write report's trace line
};

TEST(ReportBytes, RegisterWriteAndReadPerLayout) {
  const LayoutBytes cases[] = {
      {0,
       {{0x00, 0x60, 0x11, 0x01, 0x10}, {0x00, 0x60, 0x2A, 0x01, 0x20}},
       {0x00, 0x60, 0x10, 0x01, 0x10},
       {0x00, 0x60, 0x50, 0x00, 0x00},
       "Set output report = 00 60 11 01 10 \n"},
      {1,
       {{0x01, 0x11, 0x01, 0x90}, {0x01, 0x2A, 0x01, 0xA0}},
       {0x01, 0x10, 0x01, 0x90},
       {0x01, 0x50, 0x00, 0x00},
       "Set output report = 01 11 01 90 \n"},
      {2,
       {{0x01, 0x11, 0x01, 0x2A, 0x00, 0x00, 0x00, 0x81}},
       {0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80},
       // bytes 3..6: 0x0110 (0x50), 0x0111 (just written 0x2A), 0x0112, 0x0113
       {0x01, 0x00, 0x00, 0x50, 0x2A, 0x00, 0x00, 0x00},
       "Set output report = 01 11 01 2A 00 00 00 81 \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.nLayout));
    Rig rig(c.nLayout);
    auto pDevice = rig.Open(c.nLayout);
    ASSERT_TRUE(pDevice);
    qrt::diag::CTraceCapture trace;
    uint8_t btValue = 0x2A;
    EXPECT_EQ(
        CUsbHidMgr::WriteRegister(*pDevice, 0x0111, &btValue, 1, c.nLayout, ReportIdOf(c.nLayout)),
        0);
    EXPECT_EQ(Outputs(rig.Chip()), c.write);
    EXPECT_EQ(rig.Chip().PeekRegister(0x0111), 0x2A);
    EXPECT_TRUE(trace.Contains(c.pszTrace)) << trace.Text();

    rig.Chip().ClearInspection();
    uint8_t btRead = 0;
    EXPECT_EQ(
        CUsbHidMgr::ReadRegister(*pDevice, 0x0110, &btRead, 1, c.nLayout, ReportIdOf(c.nLayout)),
        0);
    EXPECT_EQ(btRead, 0x50);
    ASSERT_EQ(Outputs(rig.Chip()).size(), 1u);
    EXPECT_EQ(Outputs(rig.Chip())[0], c.readOut);
    ASSERT_EQ(Inputs(rig.Chip()).size(), 1u);
    EXPECT_EQ(Inputs(rig.Chip())[0], c.readIn);
    EXPECT_TRUE(trace.Contains("Get input report = ")) << trace.Text();
    EXPECT_TRUE(rig.Chip().Violations().empty());
  }
}

TEST(ReportBytes, ReportIdZeroIsRefusedBeforeAnythingIsSent) {
  for (uint8_t nLayout : {1, 2}) {
    Rig rig(nLayout);
    auto pDevice = rig.Open(nLayout);
    ASSERT_TRUE(pDevice);
    uint8_t btValue = 1;
    EXPECT_EQ(CUsbHidMgr::WriteRegister(*pDevice, 0x0100, &btValue, 1, nLayout, 0), nLayout);
    EXPECT_EQ(CUsbHidMgr::ReadRegister(*pDevice, 0x0100, &btValue, 1, nLayout, 0), nLayout);
    EXPECT_EQ(rig.Chip().OutputReportCount(), 0u);
    EXPECT_EQ(rig.Chip().InputReportCount(), 0u);
  }
}

TEST(ReportBytes, LengthFourSendsOneByteInLayouts0And1AndFourInLayout2) {
  const uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
  for (uint8_t nLayout : {0, 1, 2}) {
    SCOPED_TRACE(static_cast<int>(nLayout));
    Rig rig(nLayout);
    auto pDevice = rig.Open(nLayout);
    ASSERT_EQ(CUsbHidMgr::WriteRegister(*pDevice, 0x0200, data, 4, nLayout, ReportIdOf(nLayout)),
              0);
    auto outputs = Outputs(rig.Chip());
    if (nLayout == 2) {
      ASSERT_EQ(outputs.size(), 1u);
      EXPECT_EQ(outputs[0], (Bytes{0x01, 0x00, 0x02, 0x11, 0x22, 0x33, 0x44, 0x84}));
      EXPECT_EQ(rig.Chip().PeekRegister(0x0203), 0x44);
    } else {
      ASSERT_EQ(outputs.size(), 2u);
      EXPECT_EQ(outputs[1][nLayout == 0 ? 2 : 1], 0x11);
      EXPECT_EQ(rig.Chip().PeekRegister(0x0201), 0x00);
    }
    EXPECT_EQ(rig.Chip().PeekRegister(0x0200), 0x11);
  }
}

TEST(ReportBytes, Layout2ChipIdComesFromReportBytes3And4) {
  Rig rig(2);
  auto pDevice = rig.Open(2);
  uint8_t id[2] = {};
  ASSERT_EQ(CUsbHidMgr::ReadRegister(*pDevice, 0x7FF2, id, 2, 2, 1), 0);
  auto inputs = Inputs(rig.Chip());
  ASSERT_EQ(inputs.size(), 1u);
  EXPECT_EQ(id[0], inputs[0][3]);
  EXPECT_EQ(id[1], inputs[0][4]);
  EXPECT_EQ(id[0], 0x80);
  EXPECT_EQ(id[1], 0x42);
}

TEST(ReportBytes, RefusedAndFailedReportsGiveSubCodes3And4) {
  struct Case {
    uint8_t nLayout;
    SIM_FAULTS faults;
    bool bWrite;
    int nExpected;
  };
  SIM_FAULTS refuseFirst;
  refuseFirst.dwRefuseOutput = 1;
  SIM_FAULTS refuseSecond;
  refuseSecond.dwRefuseOutput = 2;
  SIM_FAULTS failInput;
  failInput.dwFailInput = 1;
  const Case cases[] = {
      {0, refuseFirst, true, 3},  {0, refuseSecond, true, 4}, {1, refuseSecond, true, 4},
      {2, refuseFirst, true, 3},  {0, failInput, false, 4},   {2, failInput, false, 4},
      {1, refuseFirst, false, 3},
  };
  for (const auto& c : cases) {
    Rig rig(c.nLayout);
    auto pDevice = rig.Open(c.nLayout);
    rig.Chip().SetFaults(c.faults);
    uint8_t btValue = 0x5A;
    int r = c.bWrite ? CUsbHidMgr::WriteRegister(*pDevice, 0x0111, &btValue, 1, c.nLayout,
                                                 ReportIdOf(c.nLayout))
                     : CUsbHidMgr::ReadRegister(*pDevice, 0x0111, &btValue, 1, c.nLayout,
                                                ReportIdOf(c.nLayout));
    EXPECT_EQ(r, c.nExpected) << "layout " << int(c.nLayout) << (c.bWrite ? " write" : " read");
    if (!c.bWrite) {
      EXPECT_EQ(btValue, 0x5A) << "a failed read leaves the output alone";
    }
  }
}

TEST(Probe, FindsTheLayoutInProbeOrder) {
  struct Case {
    uint8_t nLayout;
    uint8_t btFlag;
    uint32_t dwLength;
  };
  for (const Case& c : {Case{0, 0, 5}, Case{2, 1, 8}, Case{1, 1, 4}}) {
    CSimPlatform platform;
    auto config = SimDevice(kVid, kPid, c.nLayout);
    // Collections of the other lengths exist but do not answer.
    for (uint32_t dwLength : {5u, 8u, 4u}) {
      if (dwLength != CUsbHidMgr::OutputReportLengthOfLayout(c.nLayout)) {
        config.vExtraCollections.push_back({dwLength, dwLength});
      }
    }
    platform.AddDevice(config);
    CUsbHidMgr hid(platform);
    uint16_t wChipId = 0;
    uint8_t btFlag = 0xEE;
    uint32_t dwLength = 0;
    qrt::diag::CTraceCapture trace;
    EXPECT_EQ(hid.GetChipInformation(kVid, kPid, wChipId, btFlag, dwLength), 0);
    EXPECT_EQ(wChipId, 0x8042);
    EXPECT_EQ(btFlag, c.btFlag);
    EXPECT_EQ(dwLength, c.dwLength);
    // The attempts before the answering one were made, in probe order: the
    // first chip-id request of each (traced before it is sent, also when the
    // collection refuses it), and none after the answer.
    const char* kFirstRequest[] = {"Set output report = 00 60 F2 7F 10 \n",
                                   "Set output report = 01 F2 7F 00 00 00 00 80 \n",
                                   "Set output report = 01 F2 7F 90 \n"};
    const size_t nAttempts = c.nLayout == 0 ? 1 : (c.nLayout == 2 ? 2 : 3);
    size_t nAt = 0;
    for (size_t i = 0; i < 3; ++i) {
      const size_t nFound = trace.Text().find(kFirstRequest[i]);
      if (i < nAttempts) {
        ASSERT_NE(nFound, std::string::npos) << i << "\n" << trace.Text();
        EXPECT_GE(nFound, nAt) << "attempt " << i << " out of order\n" << trace.Text();
        nAt = nFound;
      } else {
        EXPECT_EQ(nFound, std::string::npos) << "attempt " << i << " after the answer";
      }
    }
    EXPECT_EQ(hid.ProbeDevice(kVid, kPid), 1);
  }
}

// A pair whose chip answers both in 8-byte and in 4-byte reports (two chips
// behind one VID/PID) is reported with the layout probed first: 8 bytes.
TEST(Probe, TheEightByteAttemptComesBeforeTheFourByteOne) {
  CSimPlatform platform;
  platform.AddDevice(SimDevice(kVid, kPid, 1));
  platform.AddDevice(SimDevice(kVid, kPid, 2));
  CUsbHidMgr hid(platform);
  uint16_t wChipId = 0;
  uint8_t btFlag = 0;
  uint32_t dwLength = 0;
  ASSERT_EQ(hid.GetChipInformation(kVid, kPid, wChipId, btFlag, dwLength), 0);
  EXPECT_EQ(dwLength, 8u);
  EXPECT_EQ(btFlag, 1);
  EXPECT_EQ(platform.Chip(0).OutputReportCount(), 0u) << "the 4-byte chip was asked";
}

// Only high byte 0x80 is the maker's; any other id leaves the outputs alone
// and says which id answered.
TEST(Probe, OnlyTheMakersChipIdsAnswerAndOtherOutputsStay) {
  const struct {
    uint16_t wChipId;
    bool bMakers;
  } cases[] = {{0x8000, true},  {0x8042, true},  {0x80FF, true},  {0x8100, false},
               {0x8142, false}, {0x8F42, false}, {0x7F42, false}, {0x9080, false},
               {0x0080, false}, {0x1234, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wChipId);
    CSimPlatform platform;
    auto config = SimDevice(kVid, kPid, 0);
    config.Chip.wChipId = c.wChipId;
    platform.AddDevice(config);
    CUsbHidMgr hid(platform);
    uint16_t wChipId = 0x7777;
    uint8_t btFlag = 9;
    uint32_t dwLength = 99;
    std::string szWhyNot = "stale";
    EXPECT_EQ(hid.GetChipInformation(kVid, kPid, wChipId, btFlag, dwLength, &szWhyNot),
              c.bMakers ? 0 : 1);
    EXPECT_EQ(wChipId, c.bMakers ? c.wChipId : 0x7777);
    EXPECT_EQ(btFlag, c.bMakers ? 0 : 9);
    EXPECT_EQ(dwLength, c.bMakers ? 5u : 99u);
    char sz[64];
    std::snprintf(sz, sizeof(sz), "chip id 0x%.4X is not the maker's (layout 0)", c.wChipId);
    EXPECT_EQ(szWhyNot, c.bMakers ? "stale" : sz);
    EXPECT_EQ(hid.ProbeDevice(kVid, kPid), c.bMakers ? 1 : 0);
    // No collection of the pair at all: nothing to say why.
    EXPECT_EQ(hid.GetChipInformation(kVid, 0x9999, wChipId, btFlag, dwLength, &szWhyNot), 1);
    EXPECT_EQ(szWhyNot, "");
  }
}

TEST(Transport, OpenDeviceChoosesTheCollectionByOutputLength) {
  CSimPlatform platform;
  auto config = SimDevice(kVid, kPid, 0);
  config.vExtraCollections.push_back({8, 8});  // listed first, wrong length for layout 0
  config.vExtraCollections.push_back({2, 0});
  platform.AddDevice(config);
  CUsbHidMgr hid(platform);
  auto pDevice = hid.OpenDevice(kVid, kPid, 0);
  ASSERT_TRUE(pDevice);
  uint8_t btValue = 0;
  EXPECT_EQ(CUsbHidMgr::ReadRegister(*pDevice, 0x0110, &btValue, 1, 0, 0), 0);
  EXPECT_EQ(btValue, 0x50);
  EXPECT_FALSE(hid.OpenDevice(kVid, kPid, 1));
  // The first collection of the pair, whatever its lengths.
  uint32_t dwLength = 0;
  EXPECT_EQ(hid.GetInputReportLength(kVid, kPid, dwLength), 0);
  EXPECT_EQ(dwLength, 8u);
  EXPECT_EQ(hid.GetInputReportLength(kVid, 0x1111, dwLength), -1);
  EXPECT_EQ(hid.SetRegisterData(kVid, 0x1111, 0x0111, &btValue, 1, 0, 0), -1);
}

TEST(Transport, DelayRunsOnThePlatformClock) {
  CSimPlatform platform;
  CUsbHidMgr hid(platform);
  uint32_t dwStart = platform.GetTickCount();
  hid.DelayMs(0);
  EXPECT_EQ(platform.GetTickCount(), dwStart);
  hid.DelayMs(5);
  EXPECT_EQ(platform.GetTickCount(), dwStart + 5);
}

TEST(Transport, ArrivalProbesRemovalDoesNot) {
  CSimPlatform platform;
  size_t nChip = platform.AddDevice(SimDevice(kVid, kPid, 2));
  auto other = SimDevice(0x1111, 0x2222, 0);
  other.Chip.wChipId = 0x1234;
  size_t nOther = platform.AddDevice(other);
  platform.Unplug(nChip);
  platform.Unplug(nOther);
  CUsbHidMgr hid(platform);
  struct Call {
    uint16_t vid, pid;
    uint32_t msg;
    uintptr_t wParam;
  };
  std::vector<Call> calls;
  hid.SetDeviceChangeHandler([&](uint16_t v, uint16_t p, WINDOW_HANDLE, uint32_t m, uintptr_t w, intptr_t) {
    calls.push_back({v, p, m, w});
    return 0;
  });
  platform.DispatchEvents();  // the two removals of the set-up
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(platform.Chip(nChip).OutputReportCount(), 0u) << "no probe on removal";
  calls.clear();

  qrt::diag::CTraceCapture trace;
  platform.Plug(nOther);
  platform.Plug(nChip);
  ASSERT_TRUE(WaitNativeEvent(hid.GetEventHandle(), 0));
  hid.DispatchEvents();
  EXPECT_FALSE(WaitNativeEvent(hid.GetEventHandle(), 0));
  ASSERT_EQ(calls.size(), 1u) << "only the chip that answers the probe is reported";
  EXPECT_EQ(calls[0].vid, kVid);
  EXPECT_EQ(calls[0].pid, kPid);
  EXPECT_EQ(calls[0].msg, kWmDeviceChange);
  EXPECT_EQ(calls[0].wParam, kDbtDeviceArrival);
  EXPECT_TRUE(trace.Contains("##### Device VID = 0x1111, PID = 0x2222 #####\n"));
  EXPECT_TRUE(trace.Contains("***** Inserting device is not QR device! *****\n"));
}

// ---- the busy wait ----

struct BusyCase {
  uint32_t dwBusyReads;
  bool bStayBusy;
  int nExpected;
  uint32_t dwStatusReads;
};

TEST(WaitI2CReady, TenReadsAtMostOnlyNineCanSucceed) {
  const BusyCase cases[] = {
      {0, false, 0, 1},
      {8, false, 0, 9},
      {9, false, 2, 10},
      {0, true, 2, 10},
  };
  for (const auto& c : cases) {
    CSimPlatform platform;
    auto config = SimDevice(kVid, kPid, 0);
    config.Chip.dwBusyReads = c.dwBusyReads;
    config.Chip.btEnablePowerOn = 1;
    platform.AddDevice(config);
    CUsbHidMgr hid(platform);
    auto pDevice = hid.OpenDevice(kVid, kPid, 0);
    SIM_FAULTS faults;
    faults.bStayBusy = c.bStayBusy;
    platform.Chip(0).SetFaults(faults);
    uint8_t btStart = 0x80;
    ASSERT_EQ(CUsbHidMgr::WriteRegister(*pDevice, 0x000B, &btStart, 1, 0, 0), 0);
    EXPECT_EQ(hid.WaitI2CReady(*pDevice, kI2CNoTimeOut, 0, 0), c.nExpected)
        << c.dwBusyReads << (c.bStayBusy ? " stay busy" : "");
    EXPECT_EQ(platform.Chip(0).RegisterReads(0x000B), c.dwStatusReads);
  }
}

TEST(WaitI2CReady, TimeOutZeroEndsAtTheFirstReadAfterTheTickMoved) {
  CSimPlatform platform;
  auto config = SimDevice(kVid, kPid, 0);
  config.Chip.dwLatencyUs = 250;  // a status read (two reports) takes 0.5 ms
  platform.AddDevice(config);
  CUsbHidMgr hid(platform);
  auto pDevice = hid.OpenDevice(kVid, kPid, 0);
  SIM_FAULTS faults;
  faults.bStayBusy = true;
  platform.Chip(0).SetFaults(faults);
  EXPECT_EQ(hid.WaitI2CReady(*pDevice, 0, 0, 0), -1);
  EXPECT_EQ(platform.Chip(0).RegisterReads(0x000B), 2u);
  // A failed status read ends the wait with 1.
  faults = SIM_FAULTS{};
  faults.dwFailInput = 1;
  platform.Chip(0).SetFaults(faults);
  EXPECT_EQ(hid.WaitI2CReady(*pDevice, kI2CNoTimeOut, 0, 0), 1);
}
