// Editing rules: serial number, hex text, strings and device lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RomDataMgr.h"
#include "SettingsRules.h"

using namespace qrt::editor;

namespace {

_INTERNAL_OPT DefaultRecord() {
  CRomDataMgr mgr;
  mgr.SetRomData(qrt::image::g_btDefaultImage, 256);
  mgr.ParseGenConfig();
  _INTERNAL_OPT r;
  mgr.GetGenConfig(&r);
  return r;
}

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
  return std::vector<uint8_t>(p, p + n);
}

}  // namespace

TEST(SettingsRules, ParseSerialNumber) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"123456789ABC", true, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}},
      {"ABC", true, {0x00, 0x00, 0x00, 0x00, 0x0A, 0xBC}},
      {"", true, {0, 0, 0, 0, 0, 0}},
      {"abcdef", true, {0, 0, 0, 0xAB, 0xCD, 0xEF}},
      {"1 2", true, {0, 0, 0, 0, 0x01, 0}},  // pairs "01" and " 2": not hex gives 0
      {"123456789ABCD", false, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const Case& c : cases) {
    uint8_t out[6];
    std::memset(out, 0xEE, 6);
    EXPECT_EQ(ParseSerialNumber(c.text, out), c.ok) << c.text;
    EXPECT_EQ(Bytes(out, 6), c.bytes) << c.text;
  }
}

TEST(SettingsRules, IsHexText) {
  EXPECT_TRUE(IsHexText(""));
  EXPECT_TRUE(IsHexText("09afAF"));
  EXPECT_FALSE(IsHexText(" 1"));
  EXPECT_FALSE(IsHexText("g"));
  EXPECT_FALSE(IsHexText("0x12"));
}

TEST(SettingsRules, Latin1Conversion) {
  struct Case {
    std::string utf8;
    bool ok;
    std::string latin1;
  };
  const Case cases[] = {
      {"Audio", true, "Audio"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       true,
       "Gr\xFC\xDF"
       "e"},                        // ü ß
      {"\xC3\xBF", true, "\xFF"},   // U+00FF
      {"\xC4\x80", false, ""},      // U+0100
      {"\xE2\x82\xAC", false, ""},  // euro sign
      {"\xC3", false, ""},          // cut short
      {"\xC1\x81", false, ""},      // overlong 'A'
      {"\x80", false, ""},          // stray continuation
  };
  for (const Case& c : cases) {
    std::string out = "unchanged";
    EXPECT_EQ(Utf8ToLatin1(c.utf8, out), c.ok) << c.utf8;
    EXPECT_EQ(out, c.ok ? c.latin1 : "unchanged") << c.utf8;
    if (c.ok) {
      EXPECT_EQ(Latin1ToUtf8(out), c.utf8);
    }
  }
}

TEST(SettingsRules, PackStringsIsContiguousAndBounded) {
  _INTERNAL_OPT r = DefaultRecord();
  const std::string p30(30, 'p'), m27(27, 'm'), p29(29, 'p');
  const _INTERNAL_OPT before = r;
  EXPECT_EQ(PackStrings(r, p30, m27, true, false), kPackTooLong);
  EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r));

  ASSERT_EQ(PackStrings(r, p29, m27, true, false), kPackOk);
  EXPECT_EQ(r.btProductLen, 30);
  EXPECT_EQ(r.btManufacturerLen, 28);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.szStringArea), 56), p29 + m27);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.szProduct)), p29);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.szManufacturer)), m27);
  EXPECT_EQ(ShownProductText(r), p29);
  EXPECT_EQ(ShownManufacturerText(r), m27);

  // The record encodes to the same area bytes without a gap.
  CRomDataMgr mgr;
  mgr.SetRomData(qrt::image::g_btDefaultImage, 256);
  mgr.SetGenConfig(&r);
  mgr.BuildGenConfig();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mgr.Data() + 0x22), 56), p29 + m27);

  // Emptying the product clears its control flag, length field 1.
  ASSERT_EQ(PackStrings(r, "", m27, true, false), kPackOk);
  EXPECT_EQ(r.btProductLen, 1);
  EXPECT_EQ(r.btProductStringCtrl, 0);
  EXPECT_EQ(ShownManufacturerText(r), m27);
  // Typing a manufacturer sets its control flag.
  ASSERT_EQ(PackStrings(r, "", "x", false, true), kPackOk);
  EXPECT_EQ(r.btManufacturerStringCtrl, 1);
  EXPECT_EQ(r.btProductStringCtrl, 0);
}

TEST(SettingsRules, ShownTextsOfOddLengthFields) {
  _INTERNAL_OPT r = DefaultRecord();
  r.btProductLen = 0;  // images from elsewhere: an empty text, not a negative length
  EXPECT_EQ(ShownProductText(r), "");
  EXPECT_EQ(ShownManufacturerText(r).substr(0, 3), "USB");
  r.btProductLen = 63;
  EXPECT_EQ(ShownProductText(r).size(), 55u);  // ends at the 0 byte at 0x59
  EXPECT_EQ(ShownManufacturerText(r), "");
  EXPECT_EQ(DefaultRecord().btManufacturerLen, 29);
  EXPECT_EQ(ShownManufacturerText(DefaultRecord()), "Korvessandrilotech Co.,Ltd.");
}

TEST(SettingsRules, DeviceListsAndTerminalDigits) {
  struct Case {
    bool bPlay;
    int nItem;
    uint16_t wTerminal;
  };
  const Case cases[] = {
      {true, kPlaySpeaker, 0x0301},    {true, kPlayHeadset, 0x0402},
      {true, kPlayHeadphone, 0x0302},  {false, kRecordMic, 0x0201},
      {false, kRecordHeadset, 0x0402}, {false, kRecordMicArray, 0x0205},
  };
  for (const Case& c : cases) {
    _INTERNAL_OPT r = DefaultRecord();
    const _INTERNAL_OPT before = r;
    if (c.bPlay) {
      ASSERT_TRUE(SetPlayDevice(r, c.nItem));
      EXPECT_EQ(TerminalType(r.btPlayTerminalHi, r.btPlayTerminalLo), c.wTerminal);
      EXPECT_EQ(TerminalType(r.btRecordTerminalHi, r.btRecordTerminalLo), 0x0201);
    } else {
      ASSERT_TRUE(SetRecordDevice(r, c.nItem));
      EXPECT_EQ(TerminalType(r.btRecordTerminalHi, r.btRecordTerminalLo), c.wTerminal);
      EXPECT_EQ(TerminalType(r.btPlayTerminalHi, r.btPlayTerminalLo), 0x0301);
      // Only "Headset" moves the second record terminal.
      EXPECT_EQ(TerminalType(r.btRecord2TerminalHi, r.btRecord2TerminalLo),
                c.nItem == kRecordHeadset ? 0x0402 : 0x0201);
    }
    _INTERNAL_OPT same = before;
    EXPECT_FALSE(c.bPlay ? SetPlayDevice(same, 3) : SetRecordDevice(same, -1));
    EXPECT_EQ(0, std::memcmp(&same, &before, sizeof same));
  }
}

TEST(SettingsRules, ShownDeviceItems) {
  struct Case {
    uint8_t playHi, playLo, recHi, recLo;
    int nPlay, nRecord;
  };
  const Case cases[] = {
      {3, 1, 2, 1, kPlaySpeaker, kRecordMic},
      {3, 2, 2, 5, kPlayHeadphone, kRecordMicArray},
      {3, 1, 4, 2, kPlayHeadset, kRecordHeadset},  // either 4/2 shows Headset twice
      {4, 2, 2, 5, kPlayHeadset, kRecordHeadset},
      {7, 7, 9, 9, kPlayHeadset, kRecordMic},  // unknown digits
  };
  for (const Case& c : cases) {
    _INTERNAL_OPT r = DefaultRecord();
    r.btPlayTerminalHi = c.playHi;
    r.btPlayTerminalLo = c.playLo;
    r.btRecordTerminalHi = c.recHi;
    r.btRecordTerminalLo = c.recLo;
    const CDeviceItems items = ShownDeviceItems(r);
    EXPECT_EQ(items.nPlay, c.nPlay) << int(c.playHi) << "/" << int(c.playLo);
    EXPECT_EQ(items.nRecord, c.nRecord) << int(c.recHi) << "/" << int(c.recLo);
  }
  EXPECT_STREQ(PlayDeviceName(kPlayHeadphone), "Headphone");
  EXPECT_STREQ(RecordDeviceName(kRecordMicArray), "Mic array");
}
