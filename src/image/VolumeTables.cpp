#include "VolumeTables.h"

#include <cstdio>

namespace qrt::editor {

namespace {

constexpr float kStageA[4] = {0.0f, 1.0f, 2.0f, 4.0f};
constexpr float kStageB[8] = {0.0f, 1.0f, 2.0f, 0.5f, 0.25f, -1.0f, -0.25f, -0.5f};
constexpr float kStageC[8] = {0.0f, 0.25f, 0.125f, 0.0625f, 0.5f, -0.25f, -0.125f, -0.0625f};

std::string FormatDb(const char* pszFormat, double dValue) {
  char szText[32];
  std::snprintf(szText, sizeof(szText), pszFormat, dValue);
  return szText;
}

}  // namespace

const char* const kPlayVolumeTexts[kVolumeItemCount] = {
    "0 dB",   "-0.75 dB",  "-1.5 dB",  "-2.25 dB",  "-3 dB",  "-3.75 dB",  "-4.5 dB",  "-5.25 dB",
    "-6 dB",  "-6.75 dB",  "-7.5 dB",  "-8.25 dB",  "-9 dB",  "-9.75 dB",  "-10.5 dB", "-11.25 dB",
    "-12 dB", "-12.75 dB", "-13.5 dB", "-14.25 dB", "-15 dB", "-15.75 dB", "-16.5 dB", "-17.25 dB",
    "-18 dB", "-18.75 dB", "-19.5 dB", "-20.25 dB", "-21 dB", "-21.75 dB", "-22.5 dB", "-23.25 dB",
    "-24 dB", "-24.75 dB", "-25.5 dB", "-26.25 dB", "-27 dB", "-27.75 dB", "-28.5 dB", "-29.25 dB",
    "-30 dB", "-30.75 dB", "-31.5 dB", "-32.25 dB", "-33 dB", "-33.75 dB", "-34.5 dB", "-35.25 dB",
    "-36 dB", "-36.75 dB", "-37.5 dB", "-38.25 dB", "-39 dB", "-39.75 dB", "-40.5 dB", "-41.25 dB",
    "-42 dB", "-42.75 dB", "-43.5 dB", "-44.25 dB", "-45 dB", "-45.75 dB", "-46.5 dB", "-47.25 dB",
};

const char* const kHeadphonePowerTexts[kVolumeItemCount] = {
    "Mute",     "-62.4 dB", "-61.2 dB", "-60.0 dB", "-58.8 dB", "-57.6 dB", "-56.4 dB", "-55.2 dB",
    "-54.0 dB", "-52.8 dB", "-51.6 dB", "-50.4 dB", "-49.2 dB", "-48.0 dB", "-46.8 dB", "-45.6 dB",
    "-44.4 dB", "-43.2 dB", "-42.0 dB", "-40.8 dB", "-39.6 dB", "-38.4 dB", "-37.2 dB", "-36.0 dB",
    "-34.8 dB", "-33.6 dB", "-32.4 dB", "-31.2 dB", "-30.0 dB", "-28.8 dB", "-27.6 dB", "-26.4 dB",
    "-25.2 dB", "-24.0 dB", "-22.8 dB", "-21.6 dB", "-20.4 dB", "-19.2 dB", "-18.0 dB", "-16.8 dB",
    "-15.6 dB", "-14.4 dB", "-13.2 dB", "-12.0 dB", "-10.8 dB", "-9.6 dB",  "-8.4 dB",  "-7.2 dB",
    "-6.0 dB",  "-4.8 dB",  "-3.6 dB",  "-2.4 dB",  "-1.2 dB",  "0 dB",     "1.2 dB",   "2.4 dB",
    "3.6 dB",   "4.8 dB",   "6.0 dB",   "7.2 dB",   "8.4 dB",   "9.6 dB",   "10.8 dB",  "12.0 dB",
};

const _REC_VOLUME_ITEM kRecordVolumeTable[kRecordVolumeRowCount] = {
    {0.0f, -1, 0, 63},   {21.00f, 0, 1, 62},  {0.0f, -1, 0, 61},  {20.25f, 1, 1, 60},
    {0.0f, -1, 0, 59},   {19.50f, 2, 1, 58},  {0.0f, -1, 0, 57},  {18.75f, 3, 1, 56},
    {0.0f, -1, 0, 55},   {18.00f, 4, 1, 54},  {0.0f, -1, 0, 53},  {17.25f, 5, 1, 52},
    {0.0f, -1, 0, 51},   {16.50f, 6, 1, 50},  {0.0f, -1, 0, 49},  {15.75f, 7, 1, 48},
    {0.0f, -1, 0, 47},   {15.00f, 8, 1, 46},  {0.0f, -1, 0, 45},  {14.25f, 9, 1, 44},
    {0.0f, -1, 0, 43},   {13.50f, 10, 1, 42}, {0.0f, -1, 0, 41},  {12.75f, 11, 1, 40},
    {0.0f, -1, 0, 39},   {12.00f, 12, 1, 38}, {0.0f, -1, 0, 37},  {11.25f, 13, 1, 36},
    {10.50f, 14, 1, 35}, {0.0f, -1, 0, 34},   {9.75f, 15, 1, 33}, {0.0f, -1, 0, 32},
    {9.00f, 16, 1, 31},  {0.0f, -1, 0, 30},   {8.25f, 17, 1, 29}, {0.0f, -1, 0, 28},
    {7.50f, 18, 1, 27},  {0.0f, -1, 0, 26},   {6.75f, 19, 1, 25}, {0.0f, -1, 0, 24},
    {6.00f, 20, 1, 23},  {0.0f, -1, 0, 22},   {5.25f, 21, 1, 21}, {0.0f, -1, 0, 20},
    {4.50f, 22, 1, 19},  {0.0f, -1, 0, 18},   {3.75f, 23, 1, 17}, {0.0f, -1, 0, 16},
    {3.00f, 24, 1, 15},  {0.0f, -1, 0, 14},   {2.25f, 25, 1, 13}, {0.0f, -1, 0, 12},
    {1.50f, 26, 1, 11},  {0.0f, -1, 0, 10},   {0.75f, 27, 1, 9},  {0.0f, -1, 0, 8},
    {0.00f, 28, 1, 7},   {0.0f, -1, 0, 6},    {-0.75f, 29, 1, 5}, {-1.50f, 30, 1, 4},
    {-2.25f, 31, 1, 3},  {-3.00f, 32, 1, 2},  {-3.75f, 33, 1, 1}, {-4.50f, 34, 1, 0},
};

// The 86 distinct positive stage sums, largest first. Each row names the
// first (A, B, C) triple in ascending index order that gives the sum, except
// the 0 dB row, which the chip documentation gives as (1, 4, 2).
const _IF_GAIN_ITEM kIfGainTable[kIfGainItemCount] = {
    {6.5f, 13.49f, 3, 2, 4, 1, 1},       {6.25f, 13.15f, 3, 2, 1, 2, 2},
    {6.125f, 12.98f, 3, 2, 2, 3, 3},     {6.0625f, 12.89f, 3, 2, 3, 4, 4},
    {6.0f, 12.80f, 3, 2, 0, 5, 5},       {5.9375f, 12.71f, 3, 2, 7, 6, 6},
    {5.875f, 12.61f, 3, 2, 6, 7, 7},     {5.75f, 12.43f, 3, 2, 5, 8, 8},
    {5.5f, 12.04f, 3, 1, 4, 9, 9},       {5.25f, 11.64f, 3, 1, 1, 10, 10},
    {5.125f, 11.43f, 3, 1, 2, 11, 11},   {5.0625f, 11.32f, 3, 1, 3, 12, 12},
    {5.0f, 11.21f, 3, 1, 0, 13, 14},     {4.9375f, 11.10f, 3, 1, 7, 14, 15},
    {4.875f, 10.99f, 3, 1, 6, 15, 16},   {4.75f, 10.77f, 3, 1, 5, 16, 19},
    {4.625f, 10.54f, 3, 3, 2, 17, 20},   {4.5625f, 10.42f, 3, 3, 3, 18, 21},
    {4.5f, 10.30f, 2, 2, 4, 19, 25},     {4.4375f, 10.18f, 3, 3, 7, 20, 26},
    {4.375f, 10.05f, 3, 3, 6, 21, 28},   {4.3125f, 9.93f, 3, 4, 3, 22, 29},
    {4.25f, 9.80f, 2, 2, 1, 23, 34},     {4.1875f, 9.67f, 3, 4, 7, 24, 35},
    {4.125f, 9.54f, 2, 2, 2, 25, 38},    {4.0625f, 9.41f, 2, 2, 3, 26, 40},
    {4.0f, 9.28f, 2, 2, 0, 27, 45},      {3.9375f, 9.14f, 2, 2, 7, 28, 47},
    {3.875f, 9.00f, 2, 2, 6, 29, 50},    {3.8125f, 8.86f, 3, 6, 3, 30, 51},
    {3.75f, 8.71f, 2, 2, 5, 31, 55},     {3.6875f, 8.57f, 3, 6, 7, 32, 56},
    {3.625f, 8.42f, 3, 6, 6, 33, 58},    {3.5625f, 8.27f, 3, 7, 3, 34, 59},
    {3.5f, 8.12f, 1, 2, 4, 35, 64},      {3.4375f, 7.96f, 3, 7, 7, 36, 65},
    {3.375f, 7.80f, 3, 7, 6, 37, 66},    {3.25f, 7.47f, 1, 2, 1, 38, 70},
    {3.125f, 7.13f, 1, 2, 2, 39, 73},    {3.0625f, 6.96f, 1, 2, 3, 40, 76},
    {3.0f, 6.78f, 1, 2, 0, 41, 80},      {2.9375f, 6.59f, 1, 2, 7, 42, 83},
    {2.875f, 6.41f, 1, 2, 6, 43, 86},    {2.75f, 6.02f, 1, 2, 5, 44, 91},
    {2.625f, 5.62f, 2, 3, 2, 45, 92},    {2.5625f, 5.41f, 2, 3, 3, 46, 93},
    {2.5f, 5.19f, 0, 2, 4, 47, 98},      {2.4375f, 4.97f, 2, 3, 7, 48, 99},
    {2.375f, 4.75f, 2, 3, 6, 49, 101},   {2.3125f, 4.52f, 2, 4, 3, 50, 102},
    {2.25f, 4.28f, 0, 2, 1, 51, 108},    {2.1875f, 4.03f, 2, 4, 7, 52, 109},
    {2.125f, 3.78f, 0, 2, 2, 53, 113},   {2.0625f, 3.52f, 0, 2, 3, 54, 116},
    {2.0f, 3.25f, 0, 2, 0, 55, 123},     {1.9375f, 2.98f, 0, 2, 7, 56, 126},
    {1.875f, 2.69f, 0, 2, 6, 57, 130},   {1.8125f, 2.40f, 2, 6, 3, 58, 131},
    {1.75f, 2.09f, 0, 2, 5, 59, 138},    {1.6875f, 1.78f, 2, 6, 7, 60, 139},
    {1.625f, 1.45f, 1, 3, 2, 61, 142},   {1.5625f, 1.11f, 1, 3, 3, 62, 144},
    {1.5f, 0.76f, 0, 1, 4, 63, 151},     {1.4375f, 0.39f, 1, 3, 7, 64, 153},
    {1.375f, 0.00f, 1, 4, 2, 65, 155},   {1.3125f, -0.40f, 1, 4, 3, 66, 157},
    {1.25f, -0.83f, 0, 1, 1, 67, 164},   {1.1875f, -1.27f, 1, 4, 7, 68, 166},
    {1.125f, -1.74f, 0, 1, 2, 69, 170},  {1.0625f, -2.24f, 0, 1, 3, 70, 174},
    {1.0f, -2.77f, 0, 1, 0, 71, 182},    {0.9375f, -3.33f, 0, 1, 7, 72, 186},
    {0.875f, -3.93f, 0, 1, 6, 73, 191},  {0.8125f, -4.57f, 1, 6, 3, 74, 193},
    {0.75f, -5.26f, 0, 1, 5, 75, 200},   {0.6875f, -6.02f, 1, 6, 7, 76, 203},
    {0.625f, -6.85f, 0, 3, 2, 77, 206},  {0.5625f, -7.76f, 0, 3, 3, 78, 209},
    {0.5f, -8.79f, 0, 0, 4, 79, 216},    {0.4375f, -9.95f, 0, 3, 7, 80, 221},
    {0.375f, -11.29f, 0, 3, 6, 81, 225}, {0.3125f, -12.87f, 0, 4, 3, 82, 228},
    {0.25f, -14.81f, 0, 0, 1, 83, 235},  {0.1875f, -17.31f, 0, 4, 7, 84, 240},
    {0.125f, -20.83f, 0, 0, 2, 85, 244}, {0.0625f, -26.85f, 0, 0, 3, 86, 249},
};

float GainStageA(int nIndex) {
  return (nIndex >= 0 && nIndex < 4) ? kStageA[nIndex] : 0.0f;
}
float GainStageB(int nIndex) {
  return (nIndex >= 0 && nIndex < 8) ? kStageB[nIndex] : 0.0f;
}
float GainStageC(int nIndex) {
  return (nIndex >= 0 && nIndex < 8) ? kStageC[nIndex] : 0.0f;
}

int VolumeCodeToItem(int nCode) {
  if (nCode < 0) nCode = 0;
  if (nCode > 63) nCode = 63;
  return 63 - nCode;
}

int VolumeItemToCode(int nItem) {
  if (nItem < 0) nItem = 0;
  if (nItem > 63) nItem = 63;
  return 63 - nItem;
}

int RecordVolumeCodeToItem(int nCode, int nDefault) {
  for (const _REC_VOLUME_ITEM& row : kRecordVolumeTable) {
    if (row.nValid == 1 && row.nCode == nCode) return row.nItem;
  }
  return nDefault;
}

int RecordVolumeItemToCode(int nItem) {
  for (const _REC_VOLUME_ITEM& row : kRecordVolumeTable) {
    if (row.nValid == 1 && row.nItem == nItem) return row.nCode;
  }
  return 0;
}

std::string RecordVolumeItemText(int nItem) {
  for (const _REC_VOLUME_ITEM& row : kRecordVolumeTable) {
    if (row.nValid == 1 && row.nItem == nItem) return FormatDb("%2.2lf dB", row.fdbValue);
  }
  return {};
}

int FindIfGainItem(int nGainA, int nGainB, int nGainC) {
  // Every stage gain is a binary fraction, so the float sum is exact and an
  // exact comparison is the right one.
  const float fSum = GainStageA(nGainA) + GainStageB(nGainB) + GainStageC(nGainC);
  for (int i = 0; i < kIfGainItemCount; ++i) {
    if (kIfGainTable[i].fPercent == fSum) return i;
  }
  return kIfGainNoItem;
}

bool GetIfGainStages(int nItem, int& nGainA, int& nGainB, int& nGainC) {
  if (nItem < 0 || nItem >= kIfGainItemCount) return false;
  nGainA = kIfGainTable[nItem].nGainA;
  nGainB = kIfGainTable[nItem].nGainB;
  nGainC = kIfGainTable[nItem].nGainC;
  return true;
}

std::string IfGainItemText(int nItem) {
  if (nItem < 0 || nItem >= kIfGainItemCount) return {};
  return FormatDb("%2.1lf dB", kIfGainTable[nItem].fdbValue);
}

RECORD_VOLUME_RANGE ComputeRecordVolumeRange(int nIfGainItem, bool bMicBoost) {
  if (nIfGainItem < 0 || nIfGainItem >= kIfGainItemCount) return {"Mute", "Mute"};
  const float fDb = kIfGainTable[nIfGainItem].fdbValue;
  float fMax = fDb + kRecordVolumeTopDb;
  float fMin = fDb + kRecordVolumeBottomDb;
  if (bMicBoost) {
    fMax += kMicBoostDb;
    fMin += kMicBoostDb;
  }
  return {FormatDb("%2.1f dB", fMax), FormatDb("%2.1f dB", fMin)};
}

}  // namespace qrt::editor
