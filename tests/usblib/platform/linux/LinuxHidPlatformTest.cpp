// The hidraw + libudev platform against a umockdev test bed: enumeration,
// report lengths, exchanges through the hidraw ioctls, USB device names and
// hot-plug through the udev monitor.
#include "LinuxHidPlatform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "HidTestDescriptors.h"
#include "Trace.h"
#include "UmockdevBed.h"
#include "UsbDeviceNames.h"

namespace USB42XX_MGR {
namespace {

using namespace test;

class LinuxHidPlatformTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!InsideUmockdev()) GTEST_SKIP() << "needs umockdev-wrapper";
    m_pBed = std::make_unique<CUmockdevBed>();
  }

  // Options without a hot-plug monitor unless a test asks for one.
  static LINUX_HID_OPTIONS Quiet() {
    LINUX_HID_OPTIONS options;
    options.eEventSource = EUdevEventSource::None;
    return options;
  }

  static const HID_COLLECTION_INFO* Find(const std::vector<HID_COLLECTION_INFO>& v, uint16_t wPID,
                                         uint32_t dwOutputLength) {
    for (const HID_COLLECTION_INFO& info : v)
      if (info.wPID == wPID && info.dwOutputReportByteLength == dwOutputLength) return &info;
    return nullptr;
  }

  std::unique_ptr<CUmockdevBed> m_pBed;
};

TEST_F(LinuxHidPlatformTest, ListsEveryCollectionOfEveryNodeWithItsLengths) {
  m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kChipTwoLayouts);
  m_pBed->AddBoard(2, 1, 0x3A7C, 0x4251, kVendorNoIds);
  m_pBed->AddBoard(3, 2, 0x046D, 0xC31C, kBootKeyboard);
  CLinuxHidPlatform platform(Quiet());
  std::vector<HID_COLLECTION_INFO> v;
  ASSERT_TRUE(platform.EnumerateHidCollections(v));

  struct SExpected {
    const char* pszPath;
    uint32_t nCollection;
    uint16_t wVID, wPID;
    uint32_t dwIn, dwOut;
  };
  const SExpected expected[] = {
      {"/dev/hidraw0", 0, 0x3A7C, 0x4250, 3, 0}, {"/dev/hidraw0", 1, 0x3A7C, 0x4250, 4, 4},
      {"/dev/hidraw0", 2, 0x3A7C, 0x4250, 8, 8}, {"/dev/hidraw1", 0, 0x3A7C, 0x4251, 5, 5},
      {"/dev/hidraw2", 0, 0x046D, 0xC31C, 9, 2},
  };
  ASSERT_EQ(v.size(), std::size(expected));
  for (size_t i = 0; i < v.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(v[i].szPath, expected[i].pszPath);
    EXPECT_EQ(v[i].nCollection, expected[i].nCollection);
    EXPECT_EQ(v[i].wVID, expected[i].wVID);
    EXPECT_EQ(v[i].wPID, expected[i].wPID);
    EXPECT_EQ(v[i].dwInputReportByteLength, expected[i].dwIn);
    EXPECT_EQ(v[i].dwOutputReportByteLength, expected[i].dwOut);
  }
}

TEST_F(LinuxHidPlatformTest, DescriptorFallsBackToSysfsWhenTheNodeDoesNotAnswer) {
  // One node refuses the descriptor requests, one has no ioctl support at all.
  m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kVendorId7).pResponder->RefuseDescriptorRequests();
  m_pBed->AddBoard(2, 1, 0x3A7C, 0x4251, kVendorId3, /*bResponder=*/false);
  CLinuxHidPlatform platform(Quiet());
  std::vector<HID_COLLECTION_INFO> v;
  ASSERT_TRUE(platform.EnumerateHidCollections(v));
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].dwOutputReportByteLength, 8u);
  EXPECT_EQ(v[1].dwOutputReportByteLength, 4u);
}

TEST_F(LinuxHidPlatformTest, NodesThatDoNotOpenOrParseAreSkipped) {
  m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kVendorNoIds);
  m_pBed->AddBoard(2, 1, 0x3A7C, 0x4251, kVendorNoIds);
  const Bytes malformed = {0xA1, 0x01, 0x85, 0x00, 0xC0};  // report ID 0
  m_pBed->AddBoard(3, 2, 0x3A7C, 0x4252, malformed);

  LINUX_HID_OPTIONS options = Quiet();
  // Root ignores file modes, so the permission error comes through the open
  // seam there; otherwise the node itself is made unreadable.
  if (geteuid() == 0) {
    options.fnOpen = [](const char* pszPath, int nFlags) {
      if (std::strcmp(pszPath, "/dev/hidraw1") == 0) {
        errno = EACCES;
        return -1;
      }
      return ::open(pszPath, nFlags);
    };
  } else {
    ASSERT_EQ(::chmod(m_pBed->BedPath("/dev/hidraw1").c_str(), 0), 0);
  }
  qrt::diag::CTraceCapture trace;
  CLinuxHidPlatform platform(options);
  std::vector<HID_COLLECTION_INFO> v;
  ASSERT_TRUE(platform.EnumerateHidCollections(v));
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].wPID, 0x4250);
  EXPECT_TRUE(trace.Contains("/dev/hidraw1 skipped: Permission denied")) << trace.Text();
  EXPECT_TRUE(trace.Contains("/dev/hidraw2 skipped: report descriptor fault")) << trace.Text();
  // The unopenable collection cannot be opened directly either.
  HID_COLLECTION_INFO denied{"/dev/hidraw1", 0, 0x3A7C, 0x4251, 5, 5, "", "", "", ""};
  EXPECT_EQ(platform.OpenCollection(denied), nullptr);
}

TEST_F(LinuxHidPlatformTest, ReportsTravelWithTheReportIdInFront) {
  SBoard& board = m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kChipTwoLayouts);
  std::vector<uint8_t> vSeen;
  board.pResponder->SetOutputFn([&](const uint8_t* p, size_t n) {
    vSeen.assign(p, p + n);
    return static_cast<int>(n);
  });
  uint8_t btRequestedId = 0xEE;
  board.pResponder->SetInputFn([&](uint8_t* p, size_t n) {
    btRequestedId = p[0];
    for (size_t i = 1; i < n; ++i) p[i] = static_cast<uint8_t>(0xA0 + i);
    return static_cast<int>(n);
  });
  CLinuxHidPlatform platform(Quiet());
  std::vector<HID_COLLECTION_INFO> v;
  ASSERT_TRUE(platform.EnumerateHidCollections(v));
  // The 8-byte layout is chosen by its output length among the node's collections.
  const HID_COLLECTION_INFO* pInfo = Find(v, 0x4250, 8);
  ASSERT_NE(pInfo, nullptr);
  EXPECT_EQ(pInfo->nCollection, 2u);
  std::unique_ptr<IHidDevice> pDevice = platform.OpenCollection(*pInfo);
  ASSERT_NE(pDevice, nullptr);

  const uint8_t out[8] = {0x03, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  ASSERT_TRUE(pDevice->SetOutputReport(out, sizeof out));
  EXPECT_EQ(vSeen, std::vector<uint8_t>(out, out + 8));

  uint8_t in[9] = {0x03, 0, 0, 0, 0, 0, 0, 0, 0x5A};
  ASSERT_TRUE(pDevice->GetInputReport(in, 8));
  EXPECT_EQ(btRequestedId, 0x03);
  EXPECT_EQ(in[1], 0xA1);
  EXPECT_EQ(in[7], 0xA7);
  EXPECT_EQ(in[8], 0x5A) << "wrote past the report";
}

TEST_F(LinuxHidPlatformTest, StallShortTransferAndVanishedDeviceFailTheExchange) {
  struct SCase {
    const char* pszName;
    int nResult;  // what the node answers: byte count or -errno
  };
  const SCase cases[] = {
      {"stall", -EPIPE}, {"I/O error", -EIO}, {"timeout", -ETIMEDOUT},
      {"short", 4},      {"gone", -ENODEV},
  };
  SBoard& board = m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kVendorNoIds);
  CLinuxHidPlatform platform(Quiet());
  std::vector<HID_COLLECTION_INFO> v;
  ASSERT_TRUE(platform.EnumerateHidCollections(v));
  ASSERT_EQ(v.size(), 1u);
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    board.pResponder->SetOutputFn([&](const uint8_t*, size_t) { return c.nResult; });
    board.pResponder->SetInputFn([&](uint8_t*, size_t) { return c.nResult; });
    std::unique_ptr<IHidDevice> pDevice = platform.OpenCollection(v[0]);
    ASSERT_NE(pDevice, nullptr);
    uint8_t report[5] = {0, 1, 2, 3, 4};
    EXPECT_FALSE(pDevice->SetOutputReport(report, sizeof report));
    EXPECT_FALSE(pDevice->GetInputReport(report, sizeof report));
  }
  // After ENODEV the open device does not touch the node again.
  board.pResponder->SetOutputFn([](const uint8_t*, size_t) { return -ENODEV; });
  std::unique_ptr<IHidDevice> pDevice = platform.OpenCollection(v[0]);
  ASSERT_NE(pDevice, nullptr);
  uint8_t report[5] = {};
  const int nBefore = board.pResponder->OutputCount();
  EXPECT_FALSE(pDevice->SetOutputReport(report, sizeof report));
  EXPECT_FALSE(pDevice->SetOutputReport(report, sizeof report));
  EXPECT_FALSE(pDevice->GetInputReport(report, sizeof report));
  EXPECT_EQ(board.pResponder->OutputCount(), nBefore + 1);
  // Lengths the ioctl cannot carry never reach the node.
  board.pResponder->SetOutputFn([](const uint8_t*, size_t n) { return static_cast<int>(n); });
  pDevice = platform.OpenCollection(v[0]);
  std::vector<uint8_t> vHuge(1u << 14);
  EXPECT_FALSE(pDevice->SetOutputReport(vHuge.data(), vHuge.size()));
  EXPECT_FALSE(pDevice->SetOutputReport(report, 0));
  EXPECT_FALSE(pDevice->GetInputReport(nullptr, 5));
}

TEST_F(LinuxHidPlatformTest, OpenRefusesANodeNowHeldByAnotherDevice) {
  SBoard& board = m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kVendorNoIds);
  CLinuxHidPlatform platform(Quiet());
  std::vector<HID_COLLECTION_INFO> v;
  ASSERT_TRUE(platform.EnumerateHidCollections(v));
  ASSERT_EQ(v.size(), 1u);
  EXPECT_NE(platform.OpenCollection(v[0]), nullptr);
  board.pResponder->SetRawInfoIds(0x046D, 0xC31C);
  EXPECT_EQ(platform.OpenCollection(v[0]), nullptr);
}

TEST_F(LinuxHidPlatformTest, UsbDevicesAreNamedLikeWindowsInstancePaths) {
  m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kVendorNoIds);
  m_pBed->AddBoard(4, 1, 0x046d, 0xc31c, kBootKeyboard);
  CLinuxHidPlatform platform(Quiet());
  std::vector<std::string> vNames;
  ASSERT_TRUE(platform.EnumerateUsbDeviceNames(vNames));
  // The interfaces (devtype usb_interface) are not devices.
  EXPECT_EQ(vNames,
            (std::vector<std::string>{"USB#VID_3A7C&PID_4250#1-1", "USB#VID_046D&PID_C31C#1-4"}));
  std::vector<std::string> vDos;
  ASSERT_TRUE(EnumerateUsbDosDevices(platform, vDos));
  uint16_t wVID = 0;
  uint16_t wPID = 0;
  ASSERT_EQ(ParseVidPid(vDos.at(1), wVID, wPID), 0);
  EXPECT_EQ(wVID, 0x046D);
  EXPECT_EQ(wPID, 0xC31C);
}

class HotPlugTest : public LinuxHidPlatformTest,
                    public testing::WithParamInterface<EUdevEventSource> {
 protected:
  std::vector<DEVICE_EVENT> m_vEvents;

  void Attach(CLinuxHidPlatform& platform) {
    platform.SetEventSink([this](const DEVICE_EVENT& e) { m_vEvents.push_back(e); });
  }

  // Waits until the monitor has something, then dispatches it.
  void Pump(CLinuxHidPlatform& platform) {
    ASSERT_GE(platform.GetEventHandle(), 0);
    ASSERT_TRUE(WaitReadable(platform.GetEventHandle()));
    platform.DispatchEvents();
  }
};

TEST_P(HotPlugTest, ArrivalAndRemovalCarryVidAndPid) {
  SBoard& present = m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kVendorNoIds);
  LINUX_HID_OPTIONS options;
  options.eEventSource = GetParam();
  options.fnRetrySleep = [](uint32_t) {};
  CLinuxHidPlatform platform(options);
  ASSERT_EQ(platform.GetEventSource(), GetParam());
  Attach(platform);

  // Adding a board to the bed sends its "add" uevents.
  SBoard& arriving = m_pBed->AddBoard(2, 1, 0x3A7C, 0x4251, kVendorId3);
  Pump(platform);
  ASSERT_EQ(m_vEvents.size(), 1u);
  EXPECT_EQ(m_vEvents[0].eKind, EDeviceEvent::Arrival);
  EXPECT_EQ(m_vEvents[0].Board.wPID, 0x4251);
  EXPECT_EQ(m_vEvents[0].Board.szPath, "/dev/hidraw1");  // the path enumeration gives

  // Removals resolve from what was remembered: the board present at start
  // (never enumerated by the caller) and the one that arrived.
  m_pBed->Unplug(arriving);
  m_pBed->Unplug(present);
  Pump(platform);
  if (m_vEvents.size() < 3) Pump(platform);
  ASSERT_EQ(m_vEvents.size(), 3u);
  EXPECT_EQ(m_vEvents[1].eKind, EDeviceEvent::Removal);
  EXPECT_EQ(m_vEvents[1].Board.wPID, 0x4251);
  EXPECT_EQ(m_vEvents[1].Board.szPath, "/dev/hidraw1");
  EXPECT_EQ(m_vEvents[2].eKind, EDeviceEvent::Removal);
  EXPECT_EQ(m_vEvents[2].Board.wVID, 0x3A7C);
  EXPECT_EQ(m_vEvents[2].Board.wPID, 0x4250);

  // Nothing pending: dispatching again delivers nothing and does not block.
  platform.DispatchEvents();
  EXPECT_EQ(m_vEvents.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Sources, HotPlugTest,
                         testing::Values(EUdevEventSource::Udev, EUdevEventSource::Kernel),
                         [](const testing::TestParamInfo<EUdevEventSource>& info) {
                           return info.param == EUdevEventSource::Udev ? "Udev" : "Kernel";
                         });

TEST_F(LinuxHidPlatformTest, KernelArrivalWaitsBrieflyForTheNode) {
  struct SCase {
    int nRefusals;        // opens of the new node that fail before it is ready
    int nSleepsExpected;  // retry pauses taken
  };
  // Ready at once; ready after two pauses; never ready (passed on after the
  // last of the 4 attempts, the probe then decides).
  for (const SCase c : {SCase{0, 0}, SCase{2, 2}, SCase{100, 3}}) {
    SCOPED_TRACE(c.nRefusals);
    auto pBed = std::make_unique<CUmockdevBed>();
    int nRefusalsLeft = c.nRefusals;
    int nSleeps = 0;
    LINUX_HID_OPTIONS options;
    options.eEventSource = EUdevEventSource::Kernel;
    options.dwArrivalOpenAttempts = 4;
    options.fnRetrySleep = [&](uint32_t dwMs) {
      EXPECT_EQ(dwMs, options.dwArrivalRetryDelayMs);
      ++nSleeps;
    };
    options.fnOpen = [&](const char* pszPath, int nFlags) {
      if (std::strcmp(pszPath, "/dev/hidraw3") == 0 && nRefusalsLeft > 0) {
        --nRefusalsLeft;
        errno = EACCES;
        return -1;
      }
      return ::open(pszPath, nFlags);
    };
    CLinuxHidPlatform platform(options);
    std::vector<DEVICE_EVENT> vEvents;
    platform.SetEventSink([&](const DEVICE_EVENT& e) { vEvents.push_back(e); });
    pBed->AddBoard(1, 3, 0x3A7C, 0x4250, kVendorNoIds);
    ASSERT_TRUE(WaitReadable(platform.GetEventHandle()));
    platform.DispatchEvents();
    EXPECT_EQ(nSleeps, c.nSleepsExpected);
    ASSERT_EQ(vEvents.size(), 1u);
    EXPECT_EQ(vEvents[0].Board.szPath, "/dev/hidraw3");
  }
}

TEST_F(LinuxHidPlatformTest, EventSourceFollowsUdevdPresence) {
  char szDir[] = "/tmp/qrt-udev-XXXXXX";
  ASSERT_NE(::mkdtemp(szDir), nullptr);
  const std::string szControl = std::string(szDir) + "/control";
  LINUX_HID_OPTIONS options;
  options.szUdevControlPath = szControl;
  {
    CLinuxHidPlatform platform(options);
    EXPECT_EQ(platform.GetEventSource(), EUdevEventSource::Kernel);
  }
  FILE* pFile = std::fopen(szControl.c_str(), "w");
  ASSERT_NE(pFile, nullptr);
  std::fclose(pFile);
  {
    CLinuxHidPlatform platform(options);
    EXPECT_EQ(platform.GetEventSource(), EUdevEventSource::Udev);
    EXPECT_GE(platform.GetEventHandle(), 0);
  }
  ::unlink(szControl.c_str());
  ::rmdir(szDir);
  // Without a monitor nothing can arrive and nothing fails.
  CLinuxHidPlatform platform(Quiet());
  EXPECT_EQ(platform.GetEventSource(), EUdevEventSource::None);
  EXPECT_EQ(platform.GetEventHandle(), kNoNativeEvent);
  platform.DispatchEvents();
}

TEST(LinuxHidNames, HidIdPropertyAndSynthesisedNames) {
  struct SCase {
    const char* pszHidId;
    bool bOk;
    uint16_t wVID, wPID;
  };
  const SCase cases[] = {
      {"0003:00003A7C:00004250", true, 0x3A7C, 0x4250},
      {"0003:0000046d:0000c31c", true, 0x046D, 0xC31C},
      {"0005:000004C5:00001234", true, 0x04C5, 0x1234},  // Bluetooth
      {"0003:00013A7C:00004250", false, 0, 0},           // VID beyond 16 bits
      {"0003:00003A7C", false, 0, 0},
      {"0003:00003A7C:00004250x", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.pszHidId);
    uint16_t wVID = 0;
    uint16_t wPID = 0;
    EXPECT_EQ(ParseHidIdProperty(c.pszHidId, wVID, wPID), c.bOk);
    if (c.bOk) {
      EXPECT_EQ(wVID, c.wVID);
      EXPECT_EQ(wPID, c.wPID);
    }
  }
  uint16_t wVID = 0;
  uint16_t wPID = 0;
  EXPECT_FALSE(ParseHidIdProperty(nullptr, wVID, wPID));
  EXPECT_EQ(MakeUsbDeviceName(0x0001, 0xffff, "3-1.2"), "USB#VID_0001&PID_FFFF#3-1.2");
}

}  // namespace
}  // namespace USB42XX_MGR
