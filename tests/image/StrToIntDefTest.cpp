#include "StrToIntDef.h"

#include <gtest/gtest.h>

using qrt::editor::ParseHexUInt32;
using qrt::editor::StrToIntDef;

namespace {

struct ParseCase {
  const char* pszText;
  int32_t nExpected;  // with default -7
};

class StrToIntDefCases : public ::testing::TestWithParam<ParseCase> {};

TEST_P(StrToIntDefCases, ValueOrDefault) {
  EXPECT_EQ(StrToIntDef(GetParam().pszText, -7), GetParam().nExpected) << GetParam().pszText;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntDefCases,
    ::testing::Values(ParseCase{"0", 0}, ParseCase{"128", 128}, ParseCase{"05", 5},
                      ParseCase{"-57", -57}, ParseCase{"$20", 32}, ParseCase{"$fF", 255},
                      ParseCase{"$FFFFFFFF", -1}, ParseCase{"2147483647", 2147483647},
                      ParseCase{"-2147483648", INT32_MIN}, ParseCase{"2147483648", -7},
                      ParseCase{"", -7}, ParseCase{"$", -7}, ParseCase{"-", -7},
                      ParseCase{"12a", -7}, ParseCase{"0x20", -7}, ParseCase{"$1G", -7},
                      ParseCase{"$100000000", -7}, ParseCase{"1 2", -7}, ParseCase{" 42", 42}));

TEST(ParseHexUInt32, AcceptsOnlyHexDigits) {
  uint32_t dwValue = 99;
  EXPECT_TRUE(ParseHexUInt32("20", dwValue));
  EXPECT_EQ(dwValue, 0x20u);
  EXPECT_TRUE(ParseHexUInt32("ffffffff", dwValue));
  EXPECT_EQ(dwValue, 0xFFFFFFFFu);
  dwValue = 99;
  EXPECT_FALSE(ParseHexUInt32("", dwValue));
  EXPECT_FALSE(ParseHexUInt32("2g", dwValue));
  EXPECT_FALSE(ParseHexUInt32("100000000", dwValue));
  EXPECT_FALSE(ParseHexUInt32("-1", dwValue));
  EXPECT_EQ(dwValue, 99u);
}

}  // namespace
