// Device-id groups: the cipher, the INI store and CDeviceIdMgr over both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceIdMgr.h"
#include "IniDeviceIdStore.h"
#include "TempDir.h"
#include "Trace.h"
#include "platform/HidPlatform.h"

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

// Only the USB device names matter to the device-id search.
class CFakeUsbPlatform : public IHidPlatform {
 public:
  std::vector<std::string> m_vNames;
  bool m_bFail = false;

  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& vOut) override {
    vOut.clear();
    return true;
  }
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO&) override {
    return nullptr;
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& vOut) override {
    vOut.clear();
    if (m_bFail) return false;
    vOut = m_vNames;
    return true;
  }
  void SetEventSink(std::function<void(const DEVICE_EVENT&)>) override {}
  NATIVE_EVENT GetEventHandle() const override { return kNoNativeEvent; }
  void DispatchEvents() override {}
  uint32_t GetTickCount() override { return 0; }
  void Sleep(uint32_t) override {}
};

// One group file in a temp dir, a store on it and a group over the store.
struct SGroupFixture {
  CTempDir dir;
  std::string path = dir.File("groups.ini");
  CIniDeviceIdStore store{path};
  CFakeUsbPlatform platform;
  CDeviceIdMgr group{store, platform};

  int Load(const std::vector<std::string>& lines, const char* section = kAudio) {
    std::string text = std::string("[") + section + "]\n";
    for (const auto& line : lines) text += line + "\n";
    dir.Write("groups.ini", text);
    return group.GetDeviceIdGroupFromRegistry(kAudio);
  }
};

}  // namespace

// --- INI store ------------------------------------------------------------

TEST(IniDeviceIdStore, ReadsValuesAsLibinihParsesThem) {
  CTempDir dir;
  std::string text =
      "; comment\n"
      "[Other]\n"
      "1 = other\n"
      "[QRT AUDIO DeviceId Group]\r\n"
      "1 = VID_1&PID_2 , abc=\r\n"
      "2=x;y#z\n"
      "3 = a ; inline comment\n"
      "4 = a #hash\n"
      "5 : colon=value\n"
      "6 = first\n"
      "6 = second\n"
      "7 = start\n"
      "  continued\n";
  text += "8 = " + std::string(195, 'B') + "\n";  // 199 characters: whole
  text += "9 = " + std::string(196, 'C') + "\n";  // 200: libinih's line buffer is full
  text += "10 = " + std::string(200, 'D') + "11 = tail\n";
  text += "12 = after\n";
  text += std::string("13 = ab\0cd\n", 11);
  std::string path = dir.Write("g.ini", text);
  CIniDeviceIdStore store(path);
  ASSERT_TRUE(store.OpenGroup(kAudio));
  const struct {
    const char* name;
    bool ok;
    std::string value;
  } cases[] = {
      {"1", true, "VID_1&PID_2 , abc="},  // '=' after the first one stays in the value
      {"2", true, "x;y#z"},
      {"3", true, "a"},  // "; " after a blank starts a comment
      {"4", true, "a #hash"},
      {"5", true, "colon=value"},
      {"6", false, ""},  // given twice: ambiguous
      {"7", false, ""},  // continuation line: ambiguous
      {"8", true, std::string(195, 'B')},
      {"9", false, ""},  // too long: unreadable, never truncated
      {"10", false, ""},
      {"11", false, ""},  // the tail of a cut line is not a value of its own
      {"12", true, "after"},
      {"13", false, ""},  // NUL byte: libinih would end the value there
      {"14", false, ""},
  };
  for (const auto& c : cases) {
    std::string value = "unchanged";
    EXPECT_EQ(store.ReadValue(kAudio, c.name, value), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.name;
    }
  }
  std::string value;
  EXPECT_FALSE(store.ReadValue("Other", "1", value));  // not opened
  EXPECT_TRUE(store.OpenGroup("Other"));
  EXPECT_TRUE(store.ReadValue("Other", "1", value));
  EXPECT_EQ(value, "other");
}

TEST(IniDeviceIdStore, GroupDoesNotOpenWithoutFileOrSection) {
  CTempDir dir;
  EXPECT_FALSE(CIniDeviceIdStore(dir.File("missing.ini")).OpenGroup(kAudio));
  EXPECT_FALSE(CIniDeviceIdStore(dir.Path()).OpenGroup(kAudio));  // a directory
  std::string path =
      dir.Write("g.ini", "[QRT HID DeviceId Group]\n1 = x\n[QRT AUDIO DeviceId Group]\n");
  CIniDeviceIdStore store(path);
  EXPECT_TRUE(store.OpenGroup("QRT HID DeviceId Group"));
  EXPECT_FALSE(store.OpenGroup(kAudio));  // empty section
  EXPECT_FALSE(store.OpenGroup("QRT HID"));
  // A section header too long for the parser does not leave its values in
  // the section before it.
  path = dir.Write(
      "h.ini", std::string("[") + kAudio + "]\n1 = a\n[" + std::string(300, 'S') + "]\n2 = b\n");
  CIniDeviceIdStore store2(path);
  ASSERT_TRUE(store2.OpenGroup(kAudio));
  std::string value;
  EXPECT_TRUE(store2.ReadValue(kAudio, "1", value));
  EXPECT_FALSE(store2.ReadValue(kAudio, "2", value));
  // Nor does a header that libinih cannot read; a good header after it
  // starts a group again.
  for (const char* pszHeader : {"[broken", "[broken ;]", "  [broken"}) {
    path = dir.Write("m.ini", std::string("[") + kAudio + "]\n1 = a\n" + pszHeader +
                                  "\n2 = b\n[" + kAudio + "]\n3 = c\n");
    CIniDeviceIdStore store3(path);
    ASSERT_TRUE(store3.OpenGroup(kAudio)) << pszHeader;
    EXPECT_TRUE(store3.ReadValue(kAudio, "1", value)) << pszHeader;
    EXPECT_FALSE(store3.ReadValue(kAudio, "2", value)) << pszHeader;
    EXPECT_TRUE(store3.ReadValue(kAudio, "3", value)) << pszHeader;
  }
}

// --- CDeviceIdMgr ---------------------------------------------------------

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
  std::filesystem::remove(f.path);
  EXPECT_EQ(f.group.GetDeviceIdGroupFromRegistry(kAudio), 1);
  EXPECT_TRUE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  // Only its own section counts.
  EXPECT_EQ(f.Load({"1 = " + Entry("VID_0001&PID_0002")}, "QRT HID DeviceId Group"), 1);
  EXPECT_TRUE(f.group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
}

TEST(DeviceIdMgr, ExampleStoreFileAdmitsTheChipFamily) {
  CIniDeviceIdStore store(QRT_EXAMPLE_STORE);
  CFakeUsbPlatform platform;
  CDeviceIdMgr group(store, platform);
  EXPECT_EQ(group.GetDeviceIdGroupFromRegistry(kAudio), 0);
  EXPECT_EQ(group.GetAcceptedIds().size(), 1u);
  EXPECT_TRUE(group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  EXPECT_FALSE(group.IsDeviceIdContainGroupEx(0x3A7C, 0x4350));
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
