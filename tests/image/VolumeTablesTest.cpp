#include "VolumeTables.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <string>

using namespace qrt::editor;

namespace {

struct IfGainCase {
  int a, b, c;
  int nItem;
};

class IfGainLookup : public ::testing::TestWithParam<IfGainCase> {};

TEST_P(IfGainLookup, FindsItemOfStageSum) {
  const IfGainCase& tc = GetParam();
  EXPECT_EQ(FindIfGainItem(tc.a, tc.b, tc.c), tc.nItem);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, IfGainLookup,
                         ::testing::Values(IfGainCase{3, 2, 4, 0}, IfGainCase{0, 0, 3, 85},
                                           IfGainCase{1, 4, 2, 64}, IfGainCase{1, 3, 6, 64},
                                           IfGainCase{0, 0, 0, kIfGainNoItem},
                                           IfGainCase{0, 5, 0, kIfGainNoItem},
                                           IfGainCase{0, 5, 7, kIfGainNoItem},
                                           IfGainCase{2, 2, 4, 18}, IfGainCase{0, 1, 0, 70}));

TEST(IfGainTable, EveryTripleFindsRowWithItsSum) {
  // All 4*8*8 stage settings: a positive sum has exactly one row, and that
  // row's own stages give the same sum; a sum <= 0 has none.
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 8; ++b) {
      for (int c = 0; c < 8; ++c) {
        const float fSum = GainStageA(a) + GainStageB(b) + GainStageC(c);
        const int nItem = FindIfGainItem(a, b, c);
        if (fSum <= 0.0f) {
          EXPECT_EQ(nItem, kIfGainNoItem) << a << b << c;
          continue;
        }
        ASSERT_LT(nItem, kIfGainItemCount) << a << b << c;
        const _IF_GAIN_ITEM& row = kIfGainTable[nItem];
        EXPECT_EQ(row.fPercent, fSum);
        EXPECT_EQ(GainStageA(row.nGainA) + GainStageB(row.nGainB) + GainStageC(row.nGainC), fSum);
      }
    }
  }
}

TEST(IfGainTable, RowsDescendAndCarryTheirDbAndFirstTriple) {
  std::set<float> sums;
  for (int i = 0; i < kIfGainItemCount; ++i) {
    const _IF_GAIN_ITEM& row = kIfGainTable[i];
    EXPECT_EQ(row.nDiffCount, i + 1);
    if (i > 0) {
      EXPECT_LT(row.fPercent, kIfGainTable[i - 1].fPercent) << i;
    }
    sums.insert(row.fPercent);
    const double dDb = std::round(2000.0 * std::log10(row.fPercent / 1.375)) / 100.0;
    EXPECT_FLOAT_EQ(row.fdbValue, static_cast<float>(dDb)) << i;
    // The first triple in ascending (A, B, C) order, except the 0 dB row.
    bool bFound = false;
    for (int a = 0; a < 4 && !bFound; ++a)
      for (int b = 0; b < 8 && !bFound; ++b)
        for (int c = 0; c < 8 && !bFound; ++c)
          if (GainStageA(a) + GainStageB(b) + GainStageC(c) == row.fPercent) {
            bFound = true;
            if (i == 64) {
              EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{1, 3, 6}));
            } else {
              EXPECT_EQ((std::array<int, 3>{a, b, c}),
                        (std::array<int, 3>{row.nGainA, row.nGainB, row.nGainC}))
                  << i;
            }
          }
    EXPECT_TRUE(bFound) << i;
  }
  EXPECT_EQ(sums.size(), 86u);
}

TEST(IfGainTable, StagesOfItemAndTexts) {
  int a = -1, b = -1, c = -1;
  ASSERT_TRUE(GetIfGainStages(64, a, b, c));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 4);
  EXPECT_EQ(c, 2);
  EXPECT_FALSE(GetIfGainStages(86, a, b, c));
  EXPECT_FALSE(GetIfGainStages(-1, a, b, c));
  EXPECT_EQ(a, 1);  // untouched on refusal
  EXPECT_EQ(IfGainItemText(0), "13.5 dB");
  EXPECT_EQ(IfGainItemText(64), "0.0 dB");
  EXPECT_EQ(IfGainItemText(85), "-26.9 dB");
  EXPECT_EQ(IfGainItemText(86), "");
}

struct RangeCase {
  int nItem;
  bool bBoost;
  const char* pszMax;
  const char* pszMin;
};

class RecordVolumeRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RecordVolumeRange, Texts) {
  const RangeCase& tc = GetParam();
  const RECORD_VOLUME_RANGE range = ComputeRecordVolumeRange(tc.nItem, tc.bBoost);
  EXPECT_EQ(range.szMax, tc.pszMax);
  EXPECT_EQ(range.szMin, tc.pszMin);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, RecordVolumeRange,
                         ::testing::Values(RangeCase{64, false, "21.0 dB", "-4.5 dB"},
                                           RangeCase{64, true, "42.0 dB", "16.5 dB"},
                                           RangeCase{0, false, "34.5 dB", "9.0 dB"},
                                           RangeCase{85, false, "-5.9 dB", "-31.4 dB"},
                                           RangeCase{kIfGainNoItem, false, "Mute", "Mute"},
                                           RangeCase{-1, true, "Mute", "Mute"}));

struct RecordVolumeCase {
  int nCode;
  int nItem;  // -1: no item
};

class RecordVolumeConversion : public ::testing::TestWithParam<RecordVolumeCase> {};

TEST_P(RecordVolumeConversion, CodeToItemAndBack) {
  const RecordVolumeCase& tc = GetParam();
  EXPECT_EQ(RecordVolumeCodeToItem(tc.nCode, -1), tc.nItem);
  if (tc.nItem >= 0) {
    EXPECT_EQ(RecordVolumeItemToCode(tc.nItem), tc.nCode);
  }
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, RecordVolumeConversion,
                         ::testing::Values(RecordVolumeCase{62, 0}, RecordVolumeCase{36, 13},
                                           RecordVolumeCase{35, 14}, RecordVolumeCase{33, 15},
                                           RecordVolumeCase{5, 29}, RecordVolumeCase{4, 30},
                                           RecordVolumeCase{0, 34}, RecordVolumeCase{63, -1},
                                           RecordVolumeCase{34, -1}, RecordVolumeCase{37, -1},
                                           RecordVolumeCase{6, -1}, RecordVolumeCase{64, -1}));

TEST(RecordVolumeTable, ThirtyFiveShownRowsOnePerCode) {
  int nValid = 0;
  std::set<int> codes;
  for (int i = 0; i < kRecordVolumeRowCount; ++i) {
    const _REC_VOLUME_ITEM& row = kRecordVolumeTable[i];
    EXPECT_EQ(row.nCode, 63 - i);
    codes.insert(row.nCode);
    if (row.nValid == 1) {
      ++nValid;
      EXPECT_FLOAT_EQ(row.fdbValue, 21.0f - 0.75f * row.nItem);
    }
  }
  EXPECT_EQ(nValid, kRecordVolumeItemCount);
  EXPECT_EQ(codes.size(), 64u);
  for (int k = 0; k < kRecordVolumeItemCount; ++k) {
    EXPECT_EQ(RecordVolumeCodeToItem(RecordVolumeItemToCode(k)), k);
  }
  EXPECT_EQ(RecordVolumeItemToCode(-1), 0);
  EXPECT_EQ(RecordVolumeItemToCode(35), 0);
  EXPECT_EQ(RecordVolumeCodeToItem(63, 7), 7);  // caller's value kept
  EXPECT_EQ(RecordVolumeItemText(0), "21.00 dB");
  EXPECT_EQ(RecordVolumeItemText(14), "10.50 dB");
  EXPECT_EQ(RecordVolumeItemText(34), "-4.50 dB");
  EXPECT_EQ(RecordVolumeItemText(35), "");
}

TEST(VolumeLists, PlayAndHeadphoneTexts) {
  EXPECT_EQ(VolumeCodeToItem(63), 0);
  EXPECT_EQ(VolumeCodeToItem(0), 63);
  EXPECT_EQ(VolumeItemToCode(5), 58);
  EXPECT_STREQ(kPlayVolumeTexts[VolumeCodeToItem(63)], "0 dB");
  EXPECT_STREQ(kPlayVolumeTexts[VolumeCodeToItem(0)], "-47.25 dB");
  EXPECT_STREQ(kPlayVolumeTexts[2], "-1.5 dB");
  EXPECT_STREQ(kPlayVolumeTexts[4], "-3 dB");
  EXPECT_STREQ(kHeadphonePowerTexts[0], "Mute");
  EXPECT_STREQ(kHeadphonePowerTexts[1], "-62.4 dB");
  EXPECT_STREQ(kHeadphonePowerTexts[3], "-60.0 dB");
  EXPECT_STREQ(kHeadphonePowerTexts[53], "0 dB");
  EXPECT_STREQ(kHeadphonePowerTexts[54], "1.2 dB");
  EXPECT_STREQ(kHeadphonePowerTexts[63], "12.0 dB");
  // Every play text is the item's value in shortest form.
  for (int i = 1; i < kVolumeItemCount; ++i) {
    const float fValue = std::stof(kPlayVolumeTexts[i]);
    EXPECT_FLOAT_EQ(fValue, -0.75f * i) << i;
    const std::string szText = kPlayVolumeTexts[i];
    EXPECT_EQ(szText.find(".0 "), std::string::npos) << szText;
    const size_t nUnit = szText.find(" dB");
    if (szText.find('.') != std::string::npos) {
      EXPECT_NE(szText[nUnit - 1], '0') << szText;
    }
  }
}

}  // namespace
