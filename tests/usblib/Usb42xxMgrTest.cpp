// The facade on the simulated platform: active-device selection, the
// keep-or-restore rules of the device-change handler, AUDIO-group filtering,
// the 128-device cap, and the device lock.
#include <gtest/gtest.h>

#include <filesystem>

#include "DeviceIdMgr.h"
#include "SimTestSupport.h"
#include "Trace.h"
#include "Usb42xxMgr.h"

using namespace USB42XX_MGR;
using qrt::sim::CSimPlatform;
using qrt::test::CMemoryDeviceIdStore;
using qrt::test::CTempDir;
using qrt::test::SimDevice;

namespace {

constexpr uint16_t kVid = 0x3A7C;

struct Active {
  uint16_t vid, pid;
  uint8_t type;
  bool operator==(const Active&) const = default;
};

Active ActiveOf(CUsb42xxMgr& mgr) {
  Active a{};
  mgr.GetActiveDevice(a.vid, a.pid);
  a.type = mgr.GetReportType();
  return a;
}

std::string Entry(const std::string& szPattern) {
  std::string szCipher;
  EXPECT_EQ(QRT_Encrypt(szPattern, szCipher), 0);
  return szPattern + "," + szCipher;
}

struct Call {
  uint16_t vid, pid;
  uintptr_t wParam;
};

// Two chips (layouts 0 and 2) and a USB device without the chip.
class FacadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_nFirst = platform.AddDevice(SimDevice(kVid, 0x4250, 0));
    m_nSecond = platform.AddDevice(SimDevice(kVid, 0x4251, 2));
    auto other = SimDevice(0x1111, 0x2222, 0);
    other.Chip.wChipId = 0x1234;
    m_nOther = platform.AddDevice(other);
  }
  std::unique_ptr<CUsb42xxMgr> Make() {
    return std::make_unique<CUsb42xxMgr>(platform, store, lockDir.Path());
  }
  void Record(CUsb42xxMgr& mgr, int nAnswer) {
    mgr.SetDeviceChange(
        [this, nAnswer](uint16_t v, uint16_t p, WINDOW_HANDLE, uint32_t, uintptr_t w, intptr_t) {
          calls.push_back({v, p, w});
          return nAnswer;
        });
  }

  CSimPlatform platform{false, true};  // the facade's mutexes in lockDir, as on real boards
  CMemoryDeviceIdStore store;
  CTempDir lockDir;
  std::vector<Call> calls;
  size_t m_nFirst = 0, m_nSecond = 0, m_nOther = 0;
};

}  // namespace

TEST(FacadeNoDevice, SelectionSucceedsAndLeavesNoActiveDevice) {
  CSimPlatform platform;
  CMemoryDeviceIdStore store;
  CTempDir lockDir;
  qrt::diag::CTraceCapture trace;
  CUsb42xxMgr mgr(platform, store, lockDir.Path());
  EXPECT_EQ(mgr.GetConstructionCode(), 0);
  EXPECT_TRUE(trace.Contains("***** hAudio = 0x")) << trace.Text();
  EXPECT_FALSE(trace.Contains("0x0x")) << trace.Text();
  EXPECT_EQ(mgr.SetCheckDeviceId(0), 0);
  EXPECT_EQ(mgr.SetActiveDevice(kVid, 0x4250), 0);
  EXPECT_EQ(ActiveOf(mgr), (Active{0, 0, 0}));
  DEVICE_LIST list;
  list.Number = 5;
  EXPECT_EQ(mgr.Search_Present_Device(list), 0);
  EXPECT_EQ(list.Number, 0);
}

TEST_F(FacadeTest, CheckOnWithAnEmptyGroupSelectsNothing) {
  auto mgr = Make();
  EXPECT_EQ(mgr->GetCheckDeviceId(), 1);
  EXPECT_EQ(ActiveOf(*mgr), (Active{0, 0, 0}));
  DEVICE_LIST list;
  EXPECT_EQ(mgr->Search_Present_Device(list), 0);
  EXPECT_EQ(list.Number, 0);
}

TEST_F(FacadeTest, ConstructionSelectsTheFirstAudioGroupDevice) {
  store.SetGroup(kAudioDeviceIdGroupName, {Entry("VID_3A7C&PID_4251")});
  auto mgr = Make();
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4251, 2}));
  DEVICE_LIST list;
  EXPECT_EQ(mgr->Search_Present_Device(list), 0);
  ASSERT_EQ(list.Number, 1);
  EXPECT_EQ(list.PID[0], 0x4251);
}

TEST_F(FacadeTest, SelectionByPairFirstOrUnchanged) {
  auto mgr = Make();
  EXPECT_EQ(mgr->SetCheckDeviceId(0), 0);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4250, 0})) << "0/0 selects the first listed";
  EXPECT_EQ(mgr->SetActiveDevice(kVid, 0x4251), 0);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4251, 2}));
  EXPECT_EQ(mgr->SetActiveDevice(kVid, 0x9999), 0);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4251, 2})) << "a pair not present changes nothing";
  EXPECT_EQ(mgr->SetActiveDevice(0x1111, 0x2222), 0) << "not a chip, so not listed";
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4251, 2}));
  EXPECT_EQ(mgr->SetActiveDevice(0, 0), 0);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4250, 0}));

  DEVICE_LIST list;
  EXPECT_EQ(mgr->Search_Present_Device(list), 0);
  ASSERT_EQ(list.Number, 2);
  EXPECT_EQ(list.PID[1], 0x4251);

  platform.SetEnumerationFails(true);
  EXPECT_EQ(mgr->Search_Present_Device(list), 1);
  EXPECT_EQ(mgr->SetActiveDevice(kVid, 0x4251), 1);
  EXPECT_EQ(mgr->SetCheckDeviceId(0), 1);
}

TEST_F(FacadeTest, Layout1DeviceGetsReportType1) {
  platform.AddDevice(SimDevice(kVid, 0x4252, 1));
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  EXPECT_EQ(mgr->SetActiveDevice(kVid, 0x4252), 0);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4252, 1}));
}

TEST_F(FacadeTest, DeviceOperationsUseTheActiveLayout) {
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  mgr->SetActiveDevice(kVid, 0x4251);  // layout 2
  uint8_t btValue = 0x33;
  EXPECT_EQ(mgr->SetRegisterData(kVid, 0x4251, 0x0111, &btValue, 1, 1), 0);
  EXPECT_EQ(platform.Chip(m_nSecond).PeekRegister(0x0111), 0x33);
  // The pair is the caller's: layout 2 on a layout-0 device does not open.
  EXPECT_EQ(mgr->SetRegisterData(kVid, 0x4250, 0x0111, &btValue, 1, 1), -1);
  uint32_t dwLength = 0;
  EXPECT_EQ(mgr->GetInputReportLength(kVid, 0x4251, dwLength), 0);
  EXPECT_EQ(dwLength, 8u);
}

TEST_F(FacadeTest, ArrivalAnsweredZeroRestoresTheActiveDevice) {
  platform.Unplug(m_nSecond);
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  platform.DispatchEvents();
  Record(*mgr, 0);
  Active before = ActiveOf(*mgr);
  ASSERT_EQ(before, (Active{kVid, 0x4250, 0}));
  platform.Plug(m_nSecond);
  mgr->DispatchDeviceEvents();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].pid, 0x4251);
  EXPECT_EQ(calls[0].wParam, kDbtDeviceArrival);
  EXPECT_EQ(ActiveOf(*mgr), before);
  // The handler's own answer.
  EXPECT_EQ(mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, kDbtDeviceArrival, 0),
            0);
  EXPECT_EQ(ActiveOf(*mgr), before);
}

TEST_F(FacadeTest, ArrivalAcceptedByTheCallbackStaysActive) {
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  Record(*mgr, 1);
  EXPECT_EQ(mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, kDbtDeviceArrival, 0),
            1);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4251, 2}));
}

TEST_F(FacadeTest, RestoreAlsoUndoesTheCallbacksOwnSelection) {
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  Active before = ActiveOf(*mgr);
  mgr->SetDeviceChange([&](uint16_t, uint16_t, WINDOW_HANDLE, uint32_t, uintptr_t, intptr_t) {
    mgr->SetActiveDevice(kVid, 0x4251);
    return 0;
  });
  EXPECT_EQ(mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, kDbtDeviceArrival, 0),
            0);
  EXPECT_EQ(ActiveOf(*mgr), before);
}

TEST_F(FacadeTest, ArrivalOfADeviceWithoutTheChipIsNotReported) {
  platform.Unplug(m_nOther);
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  platform.DispatchEvents();
  Record(*mgr, 1);
  platform.Plug(m_nOther);
  mgr->DispatchDeviceEvents();
  EXPECT_TRUE(calls.empty());
}

TEST_F(FacadeTest, RemovalWithoutCallbackClearsOnlyTheActiveDevice) {
  auto mgr = Make();
  mgr->SetCheckDeviceId(0);
  ASSERT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4250, 0}));
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(
      mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, kDbtDeviceRemoveComplete, 0),
      0);
  EXPECT_TRUE(trace.Contains("***** Removing device is not QR device! *****\n"));
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4250, 0}));
  platform.Unplug(m_nFirst);
  mgr->DispatchDeviceEvents();
  EXPECT_EQ(ActiveOf(*mgr), (Active{0, 0, 0}));
  EXPECT_TRUE(trace.Contains("##### Device VID = 0x3A7C, PID = 0x4250 #####\n"));
}

TEST_F(FacadeTest, RemovalWithCallbackClearsOnlyWhenAccepted) {
  for (int nAnswer : {0, 1}) {
    calls.clear();
    auto mgr = Make();
    mgr->SetCheckDeviceId(0);
    mgr->SetActiveDevice(kVid, 0x4251);
    Record(*mgr, nAnswer);
    EXPECT_EQ(
        mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, kDbtDeviceRemoveComplete, 0),
        nAnswer);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].wParam, kDbtDeviceRemoveComplete);
    EXPECT_EQ(ActiveOf(*mgr), nAnswer ? (Active{0, 0, 0}) : (Active{kVid, 0x4251, 2}));
    EXPECT_EQ(mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, 0x0007, 0), 0);
  }
}

TEST_F(FacadeTest, CheckOnIgnoresPairsOutsideTheAudioGroup) {
  store.SetGroup(kAudioDeviceIdGroupName, {Entry("vid_3a7c&pid_42xx")});
  store.SetGroup(kHidDeviceIdGroupName, {Entry("VID_1111&PID_2222")});
  auto mgr = Make();
  Record(*mgr, 1);
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(mgr->OnHidDeviceChange(0x1111, 0x2222, nullptr, kWmDeviceChange, kDbtDeviceArrival, 0),
            0);
  EXPECT_EQ(
      mgr->OnHidDeviceChange(kVid, 0x4350, nullptr, kWmDeviceChange, kDbtDeviceRemoveComplete, 0),
      0);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(
      trace.Contains("***** m_pSearchDeviceIdMgr->IsDeviceIdContainGroupEx = FALSE *****\n"));
  EXPECT_EQ(mgr->OnHidDeviceChange(kVid, 0x4251, nullptr, kWmDeviceChange, kDbtDeviceArrival, 0),
            1);
  EXPECT_EQ(calls.size(), 1u);
}

TEST(FacadeCap, PresentListNeverGrowsPast128) {
  CSimPlatform platform;
  for (uint16_t i = 0; i < 140; ++i) {
    auto config = SimDevice(kVid, static_cast<uint16_t>(0x5000 + i), 0);
    config.nUsbNames = i == 0 ? 3 : 1;  // a composite device is listed once
    platform.AddDevice(config);
  }
  CMemoryDeviceIdStore store;
  store.SetGroup(kAudioDeviceIdGroupName, {Entry("VID_3A7C&PID_XXXX")});
  CTempDir lockDir;
  CUsb42xxMgr mgr(platform, store, lockDir.Path());
  DEVICE_LIST list;
  EXPECT_EQ(mgr.Search_Present_Device(list), 0);
  EXPECT_EQ(list.Number, kMaxDeviceListEntries);
  mgr.SetCheckDeviceId(0);
  EXPECT_EQ(mgr.Search_Present_Device(list), 0);
  EXPECT_EQ(list.Number, kMaxDeviceListEntries);
  EXPECT_EQ(list.PID[0], 0x5000);
  EXPECT_EQ(list.PID[1], 0x5001);
  EXPECT_EQ(list.PID[127], 0x5000 + 127);
}

TEST_F(FacadeTest, LockFilesAndReentrantLockDuringATransfer) {
  platform.Unplug(m_nSecond);
  platform.DispatchEvents();
  auto mgr = Make();
  ASSERT_TRUE(mgr->HasDeviceLock());
#ifndef _WIN32  // Windows mutexes are kernel objects: no files
  EXPECT_FALSE(std::filesystem::is_empty(lockDir.Path()));
#endif
  mgr->SetCheckDeviceId(0);
  Record(*mgr, 0);
  // A notification handled from the progress callback, inside the locked
  // transfer, takes the lock again without blocking.
  uint8_t buffer[16] = {};
  bool bPlugged = false;
  int r = mgr->ReadI2C(
      kVid, 0x4250, 1, 0, buffer, 16, 128,
      [&](uint16_t, uint16_t wDone) {
        if (wDone == 3 && !bPlugged) {
          bPlugged = true;
          platform.Plug(m_nSecond);
          mgr->DispatchDeviceEvents();
        }
        return 0;
      },
      0, 0);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].wParam, kDbtDeviceArrival);
  EXPECT_EQ(ActiveOf(*mgr), (Active{kVid, 0x4250, 0}));
}

#ifndef _WIN32  // a lock folder is the Linux side of the named mutex
TEST_F(FacadeTest, WithoutLockDirectoryTheFacadeRunsUnlocked) {
  CUsb42xxMgr mgr(platform, store, lockDir.Path() + "/missing/dir");
  EXPECT_EQ(mgr.GetConstructionCode(), 1);
  EXPECT_FALSE(mgr.HasDeviceLock());
  EXPECT_EQ(mgr.SetCheckDeviceId(0), 0);
  EXPECT_EQ(ActiveOf(mgr), (Active{kVid, 0x4250, 0}));
}
#endif
