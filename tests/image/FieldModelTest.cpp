// The field model: every settable field survives set -> encode -> decode,
// and the table covers every header bit the codec writes for a setting.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "FieldModel.h"
#include "ImageSession.h"

using namespace qrt::image;

namespace {

// A value of each kind that differs from the built-in image's.
std::string SampleValue(const FIELD_DEF& def) {
  const _INTERNAL_OPT builtin = CImageSession().m_RecInternalOpt;
  switch (def.eKind) {
    case EFieldKind::kNumber:
      return std::to_string((FieldNumber(def, builtin) + 1u) % (def.nMax + 1));
    case EFieldKind::kWord:
      return "BEEF";
    case EFieldKind::kSerial:
      return "0123456789AB";
    case EFieldKind::kText:
      return "Zß";
    case EFieldKind::kPlayDevice:
      return "headphone";
    case EFieldKind::kRecordDevice:
      return "micarray";
    case EFieldKind::kRecord2:
      return "5/9";
    default:
      return {};
  }
}

// What set takes, as the text the value came in.
std::string AsSetText(const FIELD_VALUE& v) {
  return v.bNumber ? std::to_string(v.nNumber) : v.szText;
}

}  // namespace

TEST(FieldModelTest, EverySettableFieldRoundTripsThroughTheImage) {
  std::set<std::string> names;
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszSetName == nullptr) continue;
    SCOPED_TRACE(def.pszSetName);
    EXPECT_TRUE(names.insert(def.pszSetName).second) << "set name given twice";
    EXPECT_EQ(FindSetField(def.pszSetName), &def);
    CImageSession session;
    const std::string szValue = SampleValue(def);
    ASSERT_EQ(ApplyFieldText(def, session.m_RecInternalOpt, szValue), "");
    uint8_t image[kMaxImageSize];
    size_t n = 0;
    ASSERT_EQ(session.BuildOutputImage(image, &n), EBuildResult::kOk);
    CImageSession reloaded;
    ASSERT_EQ(reloaded.ApplyLoadedImage(image, n), EApplyResult::kAccepted);
    const std::string szBack = AsSetText(FieldSetValue(def, reloaded.m_RecInternalOpt));
    EXPECT_EQ(szBack, szValue);
    // A value beyond the range is refused and leaves the record alone.
    if (def.eKind == EFieldKind::kNumber) {
      _INTERNAL_OPT before = session.m_RecInternalOpt;
      EXPECT_NE(ApplyFieldText(def, session.m_RecInternalOpt, std::to_string(def.nMax + 1)), "");
      EXPECT_EQ(std::memcmp(&before, &session.m_RecInternalOpt, sizeof before), 0);
    }
  }
  EXPECT_EQ(names.size(), SetFieldCount());
  EXPECT_EQ(SetFieldCount(), 23u);
}

TEST(FieldModelTest, CoveredBitsAreTheBitsTheSettingsChange) {
  // Encoding every setting at two values changes header bits only where the
  // table says the fields live.
  uint8_t btCovered[kHeaderSize];
  CoveredHeaderBits(btCovered);
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszSetName == nullptr) continue;
    SCOPED_TRACE(def.pszSetName);
    CImageSession a, b;
    ASSERT_EQ(ApplyFieldText(def, b.m_RecInternalOpt, SampleValue(def)), "");
    uint8_t ia[kMaxImageSize], ib[kMaxImageSize];
    size_t na = 0, nb = 0;
    ASSERT_EQ(a.BuildOutputImage(ia, &na), EBuildResult::kOk);
    ASSERT_EQ(b.BuildOutputImage(ib, &nb), EBuildResult::kOk);
    bool bAny = false;
    for (unsigned i = 0; i < kHeaderSize; ++i) {
      const uint8_t btChanged = ia[i] ^ ib[i];
      EXPECT_EQ(btChanged & ~btCovered[i], 0) << "byte 0x" << std::hex << i;
      bAny = bAny || btChanged != 0;
    }
    EXPECT_TRUE(bAny);
  }
}

TEST(FieldModelTest, EveryIdHasItsRowAndListItemsRoundTrip) {
  for (const FIELD_DEF& def : Fields()) EXPECT_EQ(&Field(def.eId), &def);
  EXPECT_EQ(Fields().size(), static_cast<size_t>(EFieldId::kRecord2Terminal) + 1);
  // The rows' members tile the record, each byte once; a number's bits lie
  // in one run per byte.
  std::vector<int> vOwners(sizeof(_INTERNAL_OPT), 0);
  for (const FIELD_DEF& def : Fields()) {
    for (unsigned i = 0; i < def.Member.btSize; ++i) ++vOwners.at(def.Member.btAt + i);
    for (const FIELD_BITS& bits : def.Bits) {
      const unsigned nRun = bits.btMask >> std::countr_zero(bits.btMask);
      EXPECT_EQ(nRun & (nRun + 1), 0u) << def.pszJsonName;
    }
  }
  EXPECT_EQ(vOwners, std::vector<int>(sizeof(_INTERNAL_OPT), 1));
  // What the window's lists store is what they show again.
  for (const FIELD_DEF& def : Fields()) {
    for (int nItem = 0; nItem < FieldItemCount(def); ++nItem) {
      SCOPED_TRACE(std::string(def.pszSetName) + " item " + std::to_string(nItem));
      _INTERNAL_OPT rec = CImageSession().m_RecInternalOpt;
      ASSERT_TRUE(ApplyFieldItem(Field(EFieldId::kPlayDevice), rec, 0));  // no Headset pairing
      ASSERT_TRUE(ApplyFieldItem(Field(EFieldId::kRecordDevice), rec, 0));
      ASSERT_TRUE(ApplyFieldItem(def, rec, nItem));
      EXPECT_EQ(FieldItem(def, rec), nItem);
      EXPECT_FALSE(FieldItemText(def, nItem).empty());
    }
    _INTERNAL_OPT rec = CImageSession().m_RecInternalOpt;
    EXPECT_FALSE(ApplyFieldItem(def, rec, FieldItemCount(def)));
  }
}

TEST(FieldModelTest, DeviceListsExportTheNameOnlyWhereItGivesTheDigitsBack) {
  // "headset" for the record terminal stands for its pairing with the second
  // record terminal (4/2 both); without the pairing the digits go out.
  const struct {
    uint8_t btPlay[2], btRecord[2], btRecord2[2];
    const char* pszPlay;
    const char* pszRecord;
  } cases[] = {
      {{3, 1}, {2, 1}, {2, 1}, "speaker", "mic"},
      {{4, 2}, {4, 2}, {4, 2}, "headset", "headset"},
      {{3, 2}, {2, 5}, {6, 0}, "headphone", "micarray"},
      {{3, 1}, {4, 2}, {2, 1}, "speaker", "4/2"},
      {{3, 5}, {1, 1}, {4, 2}, "3/5", "1/1"},
  };
  const FIELD_DEF& play = Field(EFieldId::kPlayDevice);
  const FIELD_DEF& record = Field(EFieldId::kRecordDevice);
  const FIELD_DEF& record2 = Field(EFieldId::kRecord2Terminal);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pszPlay) + " " + c.pszRecord);
    _INTERNAL_OPT rec = CImageSession().m_RecInternalOpt;
    rec.btPlayTerminalHi = c.btPlay[0];
    rec.btPlayTerminalLo = c.btPlay[1];
    rec.btRecordTerminalHi = c.btRecord[0];
    rec.btRecordTerminalLo = c.btRecord[1];
    rec.btRecord2TerminalHi = c.btRecord2[0];
    rec.btRecord2TerminalLo = c.btRecord2[1];
    EXPECT_EQ(FieldSetValue(play, rec).szText, c.pszPlay);
    EXPECT_EQ(FieldSetValue(record, rec).szText, c.pszRecord);
    // Applied to a record with other digits, the three give them back.
    _INTERNAL_OPT back = CImageSession().m_RecInternalOpt;
    for (const FIELD_DEF* pDef : {&play, &record, &record2})
      ASSERT_EQ(ApplyFieldText(*pDef, back, FieldSetValue(*pDef, rec).szText), "");
    EXPECT_EQ(std::memcmp(&back, &rec, sizeof rec), 0);
  }
}
