#pragma once
// Volume and gain tables of the QRT4250 configuration block: the register
// codes stored in the image turned into combo-box items with dB texts and
// back, and the record fine-tuning gain (three gain stages whose linear gains
// add up, looked up in a fixed table of 86 gains). Constant data, Qt-free.
#include <cstdint>
#include <string>

namespace qrt::editor {

constexpr int kVolumeItemCount = 64;        // play / mixer volume, headphone power
constexpr int kRecordVolumeRowCount = 64;   // one row per register code 63..0
constexpr int kRecordVolumeItemCount = 35;  // rows that are shown
constexpr int kIfGainItemCount = 86;
constexpr int kIfGainNoItem = 86;  // "no row": a stage sum of zero or below
constexpr float kRecordVolumeTopDb = 21.0f;
constexpr float kRecordVolumeBottomDb = -4.5f;
constexpr float kMicBoostDb = 21.0f;

// One row of the record volume table.
struct _REC_VOLUME_ITEM {
  float fdbValue;  // 0 for the rows without an item
  int32_t nItem;   // combo-box item, -1 when the row is not shown
  int32_t nValid;  // 1 = the row is shown
  int32_t nCode;   // register code (btRecordVolume)
};

// One row of the record fine-tuning gain table.
struct _IF_GAIN_ITEM {
  float fPercent;  // linear gain: the sum of the three stage gains
  float fdbValue;  // 20*log10(fPercent / 1.375), two decimals
  int32_t nGainA;  // stage indexes that produce fPercent
  int32_t nGainB;
  int32_t nGainC;
  int32_t nDiffCount;  // row number 1..86
  int32_t nIndex;      // informational rank
};

// Item texts of the play and mixer volume lists: item i is -0.75*i dB,
// "0 dB", "-0.75 dB", "-1.5 dB", ... "-47.25 dB".
extern const char* const kPlayVolumeTexts[kVolumeItemCount];
// Item texts of the headphone output power list: "Mute", "-62.4 dB" ...
// "-1.2 dB", "0 dB", "1.2 dB" ... "12.0 dB".
extern const char* const kHeadphonePowerTexts[kVolumeItemCount];
// The record volume table, register codes 63 down to 0.
extern const _REC_VOLUME_ITEM kRecordVolumeTable[kRecordVolumeRowCount];
// The fine-tuning gain table, item 0 (largest gain) to item 85.
extern const _IF_GAIN_ITEM kIfGainTable[kIfGainItemCount];

// Linear gains of the stages; an index outside its stage gives 0.
float GainStageA(int nIndex);
float GainStageB(int nIndex);
float GainStageC(int nIndex);

// Play / mixer volume: item = 63 - code and back. Values outside 0..63 are
// clamped into the list, so a stray register value never gives an item
// outside the 64 entries.
int VolumeCodeToItem(int nCode);
int VolumeItemToCode(int nItem);

// Record volume: the item of the shown row with that register code, or
// nDefault when no shown row has the code (callers pass -1, "no selection").
int RecordVolumeCodeToItem(int nCode, int nDefault = -1);
// The register code of the shown row with that item; 0 when none matches.
int RecordVolumeItemToCode(int nItem);
// Text of a record volume item, "%2.2lf dB" of its dB value ("21.00 dB",
// "-4.50 dB"); empty for an item outside 0..34.
std::string RecordVolumeItemText(int nItem);

// Item of the fine-tuning gain table whose gain equals the sum of the three
// stage gains, or kIfGainNoItem (86) when the sum is zero or negative.
int FindIfGainItem(int nGainA, int nGainB, int nGainC);
// The stage indexes a table item names. Returns false (outputs untouched)
// for an item outside 0..85.
bool GetIfGainStages(int nItem, int& nGainA, int& nGainB, int& nGainC);
// Text of a fine-tuning item, "%2.1lf dB" of its dB value; empty when the
// item is outside 0..85.
std::string IfGainItemText(int nItem);

// The record volume range for a selected fine-tuning item: "Mute" for both
// when no item is selected (any value outside 0..85), otherwise the top and
// bottom of the record volume plus the item's dB value (and 21 dB more with
// the microphone boost), each "%2.1f dB".
struct RECORD_VOLUME_RANGE {
  std::string szMax;
  std::string szMin;
};
RECORD_VOLUME_RANGE ComputeRecordVolumeRange(int nIfGainItem, bool bMicBoost);

}  // namespace qrt::editor
