// CDeviceIdMgr over a store: which values of a group it reads, what it
// accepts, and the search of the present USB devices.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DeviceIdMgr.h"
#include "FakeUsbPlatform.h"
#include "SimTestSupport.h"
#include "Trace.h"

using namespace USB42XX_MGR;

namespace {

constexpr const char* kAudio = "QRT AUDIO DeviceId Group";

std::string Cipher(const std::string& plain) {
  std::string cipher;
  EXPECT_EQ(QRT_Encrypt(plain, cipher), 0) << plain;
  return cipher;
}

std::string Entry(const std::string& pattern) {
  return pattern + "," + Cipher(pattern);
}

// A group of an in-memory store, values taken as the registry gives them
// (no blanks trimmed), and a group over the store.
struct SGroupFixture {
  qrt::test::CMemoryDeviceIdStore store;
  qrt::test::CFakeUsbPlatform platform;
  CDeviceIdMgr group{store, platform};

  // Lines "<name> = <value>"; the store then holds this one group only.
  int Load(const std::vector<std::string>& lines, const char* section = kAudio) {
    store = {};
    for (const auto& line : lines) {
      const size_t nAt = line.find(" = ");
      store.SetValue(section, line.substr(0, nAt), line.substr(nAt + 3));
    }
    return group.GetDeviceIdGroupFromRegistry(kAudio);
  }
};

}  // namespace

TEST(DeviceIdMgr, ReadsNumberedValuesUntilTheFirstGap) {
  SGroupFixture f;
  EXPECT_EQ(f.Load({"1 = " + Entry("VID_3A7C&PID_4250"), "2 = " + Entry("VID_3A7C&PID_4251"),
                    "4 = " + Entry("VID_3A7C&PID_4253")}),
            0);
  EXPECT_EQ(f.group.GetRawLines().size(), 2u);
  EXPECT_EQ(f.group.GetAcceptedIds().size(), 2u);
  EXPECT_FALSE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4253));
}

TEST(DeviceIdMgr, AcceptsBlanksAroundPatternAndCipher) {
  SGroupFixture f;
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(f.Load({"1 =    VID_3A7C&PID_4250   ,   " + Cipher("VID_3A7C&PID_4250") + "   "}), 0);
  ASSERT_EQ(f.group.GetAcceptedIds().count("VID_3A7C&PID_4250"), 1u);
  EXPECT_EQ(f.group.GetAcceptedIds().at("VID_3A7C&PID_4250"), Cipher("VID_3A7C&PID_4250"));
  EXPECT_TRUE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  EXPECT_TRUE(
      trace.Contains("[CDeviceIdMgr::GetDeviceIdGroupFromRegistry] " + std::string(kAudio)));
  EXPECT_TRUE(trace.Contains("VID = 0x3A7C, PID = 0x4250\n"));
}

TEST(DeviceIdMgr, PatternMatchesWithWildcardsInAnyCase) {
  SGroupFixture f;
  EXPECT_EQ(f.Load({"1 = " + Entry("vid_3a7c&pid_42xx"), "2 = " + Entry("VID_1X2X&PID_00X1"),
                    "3 = " + Entry("VID_ABCD&PID_12"),  // too short after PID_: never matches
                    "4 = " + Entry("PID_1234 only")}),
            0);
  const struct {
    uint16_t vid, pid;
    bool in;
  } cases[] = {
      {0x3A7C, 0x4250, true},  {0x3A7C, 0x42FF, true},  {0x3A7C, 0x4200, true},
      {0x3A7C, 0x4350, false}, {0x3A7D, 0x4250, false}, {0x1A2B, 0x00C1, true},
      {0x1A2B, 0x01C1, false}, {0xABCD, 0x1200, false}, {0x0000, 0x1234, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(f.group.IsDeviceIdContainGroupEx(c.vid, c.pid), c.in)
        << std::hex << c.vid << ":" << c.pid;
  }
}

TEST(DeviceIdMgr, SkipsLinesThatFailTheirCheck) {
  SGroupFixture f;
  std::string good = Cipher("VID_3A7C&PID_4250");
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(f.Load({
                "1 = VID_3A7C&PID_4250 " + good,                         // no comma
                "2 = VID_3A7C&PID_4250," + good.substr(1),               // Base64 length
                "3 = VID_3A7C&PID_4250," + good.substr(0, 31) + "!",     // alphabet
                "4 = VID_3A7C&PID_4250," + Cipher("VID_3a7c&PID_4250"),  // other case
                "5 = VID_1111&PID_2222," + Cipher("VID_3333&PID_4444"),  // other pattern
                "6 = " + Entry("VID_5555&PID_6666"),
            }),
            0);
  EXPECT_EQ(f.group.GetRawLines().size(), 6u);
  ASSERT_EQ(f.group.GetAcceptedIds().size(), 1u);
  EXPECT_EQ(f.group.GetAcceptedIds().begin()->first, "VID_5555&PID_6666");
  EXPECT_FALSE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  EXPECT_TRUE(trace.Contains("*** Can't found split character pos == tstring::npos *****\n"));
  EXPECT_TRUE(trace.Contains("***** QRT_Decrypt FAIL! *****\n"));
  EXPECT_TRUE(
      trace.Contains("*****Decrypt device id NOT match *****\n"
                     "PlainText = VID_3a7c&PID_4250\n"
                     "ExceptText = VID_3A7C&PID_4250\n"));
}

TEST(DeviceIdMgr, KeepsTheFirstOfRepeatedPatterns) {
  SGroupFixture f;
  EXPECT_EQ(f.Load({"1 = " + Entry("VID_3A7C&PID_4250"), "2 = " + Entry("VID_0001&PID_0002"),
                    "3 = " + Entry("VID_3A7C&PID_4250")}),
            0);
  EXPECT_EQ(f.group.GetRawLines().size(), 3u);
  EXPECT_EQ(f.group.GetAcceptedIds().size(), 2u);
}

TEST(DeviceIdMgr, AnEmptyPartEndsParsing) {
  for (const char* bad : {"2 =   ,abc=", "2 = VID_0001&PID_0002,  "}) {
    SGroupFixture f;
    EXPECT_EQ(
        f.Load({"1 = " + Entry("VID_3A7C&PID_4250"), bad, "3 = " + Entry("VID_0001&PID_0002")}), 2)
        << bad;
    EXPECT_EQ(f.group.GetRawLines().size(), 3u) << bad;
    EXPECT_EQ(f.group.GetAcceptedIds().size(), 1u) << bad;
    EXPECT_TRUE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250)) << bad;
  }
}

TEST(DeviceIdMgr, GroupThatDoesNotOpenKeepsItsContents) {
  SGroupFixture f;
  ASSERT_EQ(f.Load({"1 = " + Entry("VID_3A7C&PID_4250")}), 0);
  f.store = {};
  EXPECT_EQ(f.group.GetDeviceIdGroupFromRegistry(kAudio), 1);
  EXPECT_TRUE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  // Only its own section counts.
  EXPECT_EQ(f.Load({"1 = " + Entry("VID_0001&PID_0002")}, "QRT HID DeviceId Group"), 1);
  EXPECT_TRUE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
}

TEST(DeviceIdMgr, SearchListsPresentGroupMembersOnce) {
  SGroupFixture f;
  ASSERT_EQ(f.Load({"1 = " + Entry("VID_3A7C&PID_42XX"), "2 = " + Entry("VID_1234&PID_XXXX")}), 0);
  f.platform.m_vNames = {
      "USB#VID_3A7C&PID_4250#5&1", "HID#VID_3A7C&PID_4251#1",        // not a USB name
      "usb#vid_3a7c&pid_4252#2",   "USB#VID_3A7C&PID_4350#3",        // not in the group
      "USB#VID_3A7C#no-pid",       "USB#VID_3A7C&PID_4250&MI_03#4",  // listed already
  };
  DEVICE_LIST list;
  list.Number = 1;  // the search appends
  list.VID[0] = 0x0001;
  list.PID[0] = 0x0002;
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(f.group.SearchPresentDevice(list), 0);
  ASSERT_EQ(list.Number, 3);
  EXPECT_EQ(list.VID[1], 0x3A7C);
  EXPECT_EQ(list.PID[1], 0x4250);
  EXPECT_EQ(list.PID[2], 0x4252);
  EXPECT_TRUE(trace.Contains("[CDeviceIdMgr::SearchPresentDevice]\n"));

  // Never more than 128 entries, whatever is present.
  f.platform.m_vNames.clear();
  for (int pid = 0; pid < 300; ++pid) {
    char name[64];
    std::snprintf(name, sizeof(name), "USB#VID_1234&PID_%.4X#%d", pid, pid);
    f.platform.m_vNames.push_back(name);
  }
  DEVICE_LIST full;
  EXPECT_EQ(f.group.SearchPresentDevice(full), 0);
  EXPECT_EQ(full.Number, kMaxDeviceListEntries);
  EXPECT_EQ(full.PID[127], 127);

  f.platform.m_bFail = true;
  DEVICE_LIST none;
  EXPECT_EQ(f.group.SearchPresentDevice(none), 1);
  EXPECT_EQ(none.Number, 0);
}
