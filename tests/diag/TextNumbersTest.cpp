// The one set of number rules behind options, settings, sysfs ids and the
// simulator's faults.
#include <gtest/gtest.h>

#include <cstdint>

#include "TextNumbers.h"

using namespace qrt::diag;

TEST(TextNumbers, HexDecimalAndNumberTakeTheSameTexts) {
  struct SCase {
    const char* pszText;
    uint64_t qwMax;
    int nHex, nDecimal, nNumber;  // expected value, or -1 refused
  };
  const SCase cases[] = {
      {"3A7C", 0xFFFF, 0x3A7C, -1, -1},
      {"0x3a7c", 0xFFFF, 0x3A7C, -1, 0x3A7C},
      {"0X40", 0xFF, 0x40, -1, 0x40},
      {"10000", 0xFFFF, -1, 10000, 10000},
      {"010", 0xFF, 0x10, 10, 10},  // no octal
      {"0x", 0xFF, -1, -1, -1},
      {"", 0xFF, -1, -1, -1},
      {" 1", 0xFF, -1, -1, -1},
      {"+1", 0xFF, -1, -1, -1},
      {"-1", 0xFF, -1, -1, -1},
      {"1x", 0xFF, -1, -1, -1},
      {"100", 99, -1, -1, -1},
      {"123456789", 0xFFFFFFFF, -1, 123456789, 123456789},  // nine hex digits
      {"99999999999999999999", UINT64_MAX, -1, -1, -1},     // beyond 64 bits
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.pszText);
    uint32_t dw = 7;
    uint64_t qwDecimal = 7, qwNumber = 7;
    EXPECT_EQ(ParseHex(c.pszText, static_cast<uint32_t>(c.qwMax), dw) ? int(dw) : -1, c.nHex);
    EXPECT_EQ(ParseDecimal(c.pszText, c.qwMax, qwDecimal) ? int(qwDecimal) : -1, c.nDecimal);
    EXPECT_EQ(ParseNumber(c.pszText, c.qwMax, qwNumber) ? int(qwNumber) : -1, c.nNumber);
    // A refusal leaves the value alone.
    if (c.nHex < 0) {
      EXPECT_EQ(dw, 7u);
    }
    if (c.nDecimal < 0) {
      EXPECT_EQ(qwDecimal, 7u);
    }
  }
}

TEST(TextNumbers, HexBytesNeedExactlyTwoDigitsPerByte) {
  uint8_t bt[2] = {0x11, 0x22};
  EXPECT_FALSE(ParseHexBytes("abc", bt, 2));
  EXPECT_FALSE(ParseHexBytes("abcg", bt, 2));
  EXPECT_FALSE(ParseHexBytes("abcdef", bt, 2));
  EXPECT_EQ(bt[0], 0x11);
  ASSERT_TRUE(ParseHexBytes("aB0c", bt, 2));
  EXPECT_EQ(bt[0], 0xAB);
  EXPECT_EQ(bt[1], 0x0C);
}
