// The INI store of device-id groups (Linux), and the example store file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceIdMgr.h"
#include "FakeUsbPlatform.h"
#include "IniDeviceIdStore.h"
#include "TestDirectory.h"

using qrt::test::CTempDir;

using namespace USB42XX_MGR;

namespace {

constexpr const char* kAudio = "QRT AUDIO DeviceId Group";

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

TEST(DeviceIdMgr, ExampleStoreFileAdmitsTheChipFamily) {
  CIniDeviceIdStore store(QRT_EXAMPLE_STORE);
  qrt::test::CFakeUsbPlatform platform;
  CDeviceIdMgr group(store, platform);
  EXPECT_EQ(group.GetDeviceIdGroupFromRegistry(kAudio), 0);
  EXPECT_EQ(group.GetAcceptedIds().size(), 1u);
  EXPECT_TRUE(group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  EXPECT_FALSE(group.IsDeviceIdContainGroupEx(0x3A7C, 0x4350));
}

