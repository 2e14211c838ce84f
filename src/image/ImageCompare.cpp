#include "ImageCompare.h"

#include <algorithm>
#include <cstdio>

#include "ImageFiles.h"
#include "SettingsTemplate.h"

namespace qrt::image {

namespace {

// The fields a comparison reports: what set changes, and the second record
// terminal. Header bytes no setting stands for (signature, configuration
// bits) show up among the byte ranges.
bool IsDiffField(const FIELD_DEF& def) {
  return def.pszSetName != nullptr || def.eKind == EFieldKind::kRecord2;
}

const char* DiffName(const FIELD_DEF& def) {
  return def.pszSetName ? def.pszSetName : def.pszJsonName ? def.pszJsonName : def.pszShowName;
}

std::string SizeText(const COMPARE_SIDE& side) {
  return std::string(EepromTypeText(side.Session.GetReadRomSize())) + " (" +
         std::to_string(side.Bytes.size()) + " bytes)";
}

DIFF_ENTRY Setting(const FIELD_DEF* pField, const std::string& szName, const std::string& szA,
                   const std::string& szB) {
  DIFF_ENTRY e;
  e.szLine = szName + ": " + szA + " -> " + szB;
  e.pField = pField;
  e.szName = szName;
  e.szA = szA;
  e.szB = szB;
  return e;
}

DIFF_ENTRY Bank(EMapArea eArea, int nBank, const std::string& szName) {
  DIFF_ENTRY e;
  e.eKind = DIFF_ENTRY::EKind::kBank;
  e.szLine = szName + " differs";
  e.szName = szName;
  e.eBank = eArea;
  e.nBank = nBank;
  return e;
}

void CompareBankLists(const std::vector<std::string>& va, const std::vector<std::string>& vb,
                      EMapArea eArea, const char* pszName, std::vector<DIFF_ENTRY>& vOut) {
  for (size_t i = 0; i < std::max(va.size(), vb.size()); ++i) {
    if (i < va.size() && i < vb.size() && va[i] == vb[i]) continue;
    vOut.push_back(Bank(eArea, static_cast<int>(i), pszName + std::to_string(i + 1)));
  }
}

}  // namespace

std::vector<DIFF_ENTRY> CompareImages(COMPARE_SIDE a, COMPARE_SIDE b, bool bIgnorePerBoard) {
  std::vector<DIFF_ENTRY> vOut;
  if (a.Bytes.size() != b.Bytes.size())
    vOut.push_back(Setting(nullptr, "eepromType", SizeText(a), SizeText(b)));
  const _INTERNAL_OPT& ra = a.Session.m_RecInternalOpt;
  const _INTERNAL_OPT& rb = b.Session.m_RecInternalOpt;
  for (const FIELD_DEF& def : Fields()) {
    if (!IsDiffField(def) || (bIgnorePerBoard && IsPerBoardField(def))) continue;
    std::string szShowA = FieldShowText(def, ra), szShowB = FieldShowText(def, rb);
    std::string szTextA = FieldDisplayText(def, ra), szTextB = FieldDisplayText(def, rb);
    if (szShowA == szShowB && szTextA == szTextB) continue;
    // Two digit pairs the lists do not know can share a display text.
    if (szTextA == szTextB) {
      szTextA = szShowA;
      szTextB = szShowB;
    }
    vOut.push_back(Setting(&def, DiffName(def), szTextA, szTextB));
  }

  const CBankTexts ba = BankTextsOf(a.Session), bb = BankTextsOf(b.Session);
  CompareBankLists(ba.vI2C, bb.vI2C, EMapArea::kI2CInit, "I2C init bank ", vOut);
  if (ba.szAgcIr != bb.szAgcIr) vOut.push_back(Bank(EMapArea::kAgcIr, 0, "AGC/IR"));
  CompareBankLists(ba.vEq, bb.vEq, EMapArea::kEq, "EQ bank ", vOut);

  // Bytes no setting and no bank explains: header bits outside every field
  // and bytes behind the banks.
  uint8_t btCovered[kHeaderSize];
  CoveredHeaderBits(btCovered);
  const size_t nBankEnd =
      kHeaderSize + std::max(a.Session.GetBankAreaSize(), b.Session.GetBankAreaSize());
  const size_t nEnd = std::max(a.Bytes.size(), b.Bytes.size());
  const auto at = [](std::span<const uint8_t> v, size_t i) -> uint8_t {
    return i < v.size() ? v[i] : 0xFF;
  };
  size_t nFrom = 0;
  bool bOpen = false;
  for (size_t i = 0; i <= nEnd; ++i) {
    bool bDiffers = false;
    if (i < nEnd) {
      const uint8_t btMask = i < kHeaderSize ? static_cast<uint8_t>(~btCovered[i])
                             : i < nBankEnd  ? 0
                                             : 0xFF;
      bDiffers = ((at(a.Bytes, i) ^ at(b.Bytes, i)) & btMask) != 0;
    }
    if (bDiffers && !bOpen) {
      nFrom = i;
      bOpen = true;
    } else if (!bDiffers && bOpen) {
      char sz[64];
      std::snprintf(sz, sizeof sz, "bytes 0x%04zX-0x%04zX differ", nFrom, i - 1);
      DIFF_ENTRY e;
      e.eKind = DIFF_ENTRY::EKind::kBytes;
      e.szLine = sz;
      e.nFrom = nFrom;
      e.nTo = i - 1;
      vOut.push_back(e);
      bOpen = false;
    }
  }
  return vOut;
}

std::vector<bool> DiffEntryBytes(const CImageMap& map, const DIFF_ENTRY& entry) {
  switch (entry.eKind) {
    case DIFF_ENTRY::EKind::kSetting:
      if (entry.pField != nullptr) return map.FieldBytes(*entry.pField);
      break;
    case DIFF_ENTRY::EKind::kBank:
      return map.BankBytes(entry.eBank, entry.nBank);
    case DIFF_ENTRY::EKind::kBytes: {
      std::vector<bool> v(map.Size());
      for (size_t i = entry.nFrom; i <= entry.nTo && i < v.size(); ++i) v[i] = true;
      return v;
    }
  }
  return std::vector<bool>(map.Size());
}

}  // namespace qrt::image
