#include "ImageMap.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "BankHeader.h"

namespace qrt::image {

namespace {

// Per bit, who owns it; btMask 0 marks a bit not yet claimed.
class CBitOwners {
 public:
  explicit CBitOwners(size_t nBytes) : m_vOwner(nBytes * 8) {}

  // Gives the bits of btMask at nOffset that nobody holds yet to part.
  void Claim(size_t nOffset, uint8_t btMask, MAP_PART part) {
    if (nOffset * 8 >= m_vOwner.size()) return;
    part.btMask = 1;
    for (int nBit = 0; nBit < 8; ++nBit) {
      MAP_PART& owner = m_vOwner[nOffset * 8 + nBit];
      if ((btMask >> nBit & 1) != 0 && owner.btMask == 0) owner = part;
    }
  }
  void ClaimBytes(size_t nFrom, size_t nCount, const MAP_PART& part) {
    for (size_t i = nFrom; i < nFrom + nCount; ++i) Claim(i, 0xFF, part);
  }
  const MAP_PART& Owner(size_t nOffset, int nBit) const { return m_vOwner[nOffset * 8 + nBit]; }

 private:
  std::vector<MAP_PART> m_vOwner;
};

MAP_PART FieldPart(const FIELD_DEF& def) {
  MAP_PART part;
  part.eArea = EMapArea::kField;
  part.pField = &def;
  return part;
}

MAP_PART AreaPart(EMapArea eArea, int nBank = 0, size_t nStart = 0) {
  MAP_PART part;
  part.eArea = eArea;
  part.nBank = nBank;
  part.dwStart = static_cast<uint32_t>(nStart);
  return part;
}

// The header: the table's encoded rows first, the strings by their length
// fields, then decoded-only rows for what is left of their bits (the
// signature, byte 1 beside its switches), the rest of the string area, the
// bank announcements, and whatever is still unowned.
void ClaimHeader(CBitOwners& owners, const _INTERNAL_OPT& rec) {
  for (const FIELD_DEF& def : Fields()) {
    if (def.eCodec != EFieldCodec::kEncoded || def.eKind == EFieldKind::kText) continue;
    for (const FIELD_BITS& bits : def.Bits) {
      for (unsigned i = 0; i < bits.btCount; ++i)
        owners.Claim(bits.btOffset + i, bits.btMask, FieldPart(def));
    }
  }
  const STRING_EXTENTS ext = StringExtents(rec.btProductLen, rec.btManufacturerLen);
  owners.ClaimBytes(kStringAreaStart, ext.nProduct, FieldPart(Field(EFieldId::kProduct)));
  owners.ClaimBytes(kStringAreaStart + ext.nProduct, ext.nManufacturer,
                    FieldPart(Field(EFieldId::kManufacturer)));
  for (const FIELD_DEF& def : Fields()) {
    if (def.eCodec != EFieldCodec::kDecodedOnly || def.eId == EFieldId::kStringArea) continue;
    for (const FIELD_BITS& bits : def.Bits) {
      for (unsigned i = 0; i < bits.btCount; ++i)
        owners.Claim(bits.btOffset + i, bits.btMask, FieldPart(def));
    }
  }
  owners.ClaimBytes(kStringAreaStart, kStringAreaSize, AreaPart(EMapArea::kStringArea));
  for (size_t i = 0x8D; i <= 0x8F; ++i)
    owners.Claim(i, CBankHeader::AnnouncementBits(i), AreaPart(EMapArea::kBankHeader));
  owners.ClaimBytes(0, kHeaderSize, AreaPart(EMapArea::kHeader));
}

// The banks where the accept sequence found them; a bank never takes header
// bytes (an EQ start inside the header reads header bytes, it is not one).
void ClaimBanks(CBitOwners& owners, CImageSession& session, const uint8_t* pHeader) {
  const int nI2C = session.I2CInitMgr().GetCount();
  for (int i = 0; i < nI2C; ++i) {
    const size_t nAt = kHeaderSize + 32u * static_cast<size_t>(i);
    owners.ClaimBytes(nAt, 32, AreaPart(EMapArea::kI2CInit, i, nAt));
  }
  if (session.AgcIrMgr().IsPresent()) {
    const size_t nAt = kHeaderSize + 32u * static_cast<size_t>(nI2C);
    owners.ClaimBytes(nAt, CAgcIrMgr::kBankSize, AreaPart(EMapArea::kAgcIr, 0, nAt));
  }
  const size_t nEqAt = CBankHeader(pHeader).EqStart();
  for (int i = 0; i < session.EQGainMgr().GetCount(); ++i) {
    const size_t nAt = nEqAt + 16u * static_cast<size_t>(i);
    for (size_t k = std::max<size_t>(nAt, kHeaderSize); k < nAt + 16; ++k)
      owners.Claim(k, 0xFF, AreaPart(EMapArea::kEq, i, nAt));
  }
}

// Light tones spread around the hue circle: each row index turns on by the
// golden angle, so neighbouring rows never share a hue.
uint32_t FromHue(double dHue, double dSaturation, double dLightness) {
  const double c = (1 - std::fabs(2 * dLightness - 1)) * dSaturation;
  const double h = std::fmod(dHue, 360.0) / 60.0;
  const double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
  // The sextant of the hue gives which channel is largest (c) and which
  // second (x): red, yellow, green, cyan, blue, magenta.
  const int nSextant = std::min(static_cast<int>(h), 5);
  static const int kLargest[6] = {0, 1, 1, 2, 2, 0};
  static const int kSecond[6] = {1, 0, 2, 1, 0, 2};
  double rgb[3] = {0, 0, 0};
  rgb[kLargest[nSextant]] = c;
  rgb[kSecond[nSextant]] = x;
  const double m = dLightness - c / 2;
  const auto channel = [m](double v) { return static_cast<uint32_t>(std::lround((v + m) * 255)); };
  return channel(rgb[0]) << 16 | channel(rgb[1]) << 8 | channel(rgb[2]);
}

constexpr EMapArea kAreas[] = {EMapArea::kHeader,  EMapArea::kBankHeader, EMapArea::kStringArea,
                               EMapArea::kI2CInit, EMapArea::kAgcIr,      EMapArea::kEq,
                               EMapArea::kUnused,  EMapArea::kField};

}  // namespace

bool SameOwner(const MAP_PART& a, const MAP_PART& b) {
  return a.eArea == b.eArea && a.pField == b.pField && a.nBank == b.nBank;
}

EApplyResult CImageMap::Build(const uint8_t* p, size_t n) {
  m_vBytes.clear();
  m_vParts.clear();
  m_vFirstPart.assign(1, 0);
  CImageSession session;
  const EApplyResult r = session.ApplyLoadedImage(p, n);
  if (r != EApplyResult::kAccepted) return r;
  session.SetRomSize(static_cast<uint32_t>(n));
  m_Session = session;
  m_vBytes.assign(p, p + n);

  CBitOwners owners(n);
  ClaimHeader(owners, m_Session.m_RecInternalOpt);
  // The header's bank bytes from the session's buffer: an image shorter
  // than the header reads 0xFF there, as the accept sequence read it.
  ClaimBanks(owners, m_Session, m_Session.RomDataMgr().Data());
  owners.ClaimBytes(0, n, AreaPart(EMapArea::kUnused));

  // Bits of one owner become one part, highest bits first.
  m_vFirstPart.clear();
  for (size_t i = 0; i < n; ++i) {
    m_vFirstPart.push_back(m_vParts.size());
    for (int nBit = 7; nBit >= 0; --nBit) {
      const MAP_PART& owner = owners.Owner(i, nBit);
      auto it = std::find_if(m_vParts.begin() + static_cast<std::ptrdiff_t>(m_vFirstPart.back()),
                             m_vParts.end(),
                             [&](const MAP_PART& part) { return SameOwner(part, owner); });
      if (it == m_vParts.end()) {
        m_vParts.push_back(owner);
        m_vParts.back().btMask = 0;
        it = m_vParts.end() - 1;
      }
      it->btMask = static_cast<uint8_t>(it->btMask | 1u << nBit);
    }
  }
  m_vFirstPart.push_back(m_vParts.size());
  return r;
}

std::span<const MAP_PART> CImageMap::Parts(size_t nOffset) const {
  if (nOffset >= Size()) return {};
  return std::span<const MAP_PART>(m_vParts).subspan(
      m_vFirstPart[nOffset], m_vFirstPart[nOffset + 1] - m_vFirstPart[nOffset]);
}

const MAP_PART& CImageMap::MainPart(size_t nOffset) const {
  const std::span<const MAP_PART> parts = Parts(nOffset);
  return *std::max_element(parts.begin(), parts.end(), [](const MAP_PART& a, const MAP_PART& b) {
    return std::popcount(a.btMask) < std::popcount(b.btMask);
  });
}

std::vector<MAP_RUN> CImageMap::Runs() const {
  std::vector<MAP_RUN> vRuns;
  std::vector<size_t> vOpen, vNext;  // runs that ended at the byte before
  for (size_t i = 0; i < Size(); ++i) {
    vNext.clear();
    for (const MAP_PART& part : Parts(i)) {
      const auto it = std::find_if(vOpen.begin(), vOpen.end(), [&](size_t k) {
        return SameOwner(vRuns[k].Part, part) && vRuns[k].Part.btMask == part.btMask;
      });
      if (it != vOpen.end()) {
        vRuns[*it].nTo = i;
        vNext.push_back(*it);
      } else {
        vRuns.push_back({i, i, part});
        vNext.push_back(vRuns.size() - 1);
      }
    }
    vOpen.swap(vNext);
  }
  return vRuns;
}

std::vector<bool> CImageMap::FieldBytes(const FIELD_DEF& def) const {
  std::vector<bool> v(Size());
  for (size_t i = 0; i < Size(); ++i) {
    for (const MAP_PART& part : Parts(i)) {
      if (part.pField != nullptr && FieldSetThrough(*part.pField) == &def) v[i] = true;
    }
  }
  return v;
}

std::vector<bool> CImageMap::BankBytes(EMapArea eArea, int nBank) const {
  std::vector<bool> v(Size());
  for (size_t i = 0; i < Size(); ++i) {
    for (const MAP_PART& part : Parts(i))
      v[i] = v[i] || (part.eArea == eArea && part.nBank == nBank);
  }
  return v;
}

std::string MapPartName(const MAP_PART& part) {
  switch (part.eArea) {
    case EMapArea::kField: {
      const FIELD_DEF& def = *part.pField;
      return def.pszSetName ? def.pszSetName : def.pszJsonName ? def.pszJsonName : def.pszShowName;
    }
    case EMapArea::kHeader:
      return "header";
    case EMapArea::kBankHeader:
      return "bank header";
    case EMapArea::kStringArea:
      return "string area";
    case EMapArea::kI2CInit:
      return "I2C init bank " + std::to_string(part.nBank + 1);
    case EMapArea::kAgcIr:
      return "AGC/IR bank";
    case EMapArea::kEq:
      return "EQ bank " + std::to_string(part.nBank + 1);
    case EMapArea::kUnused:
      break;
  }
  return "unused";
}

std::string MapPartValue(const CImageMap& map, const MAP_PART& part) {
  if (part.eArea == EMapArea::kAgcIr && part.dwStart + 30 < map.Size()) {
    // The two fields of the bank the window edits (byte 11 bits 0-3, byte
    // 30 bit 0).
    const uint8_t* pBank = map.Bytes().data() + part.dwStart;
    char sz[48];
    std::snprintf(sz, sizeof sz, "NEC_IR_GPO_NUM %X, IR enable %u", pBank[11] & 0x0Fu,
                  pBank[30] & 1u);
    return sz;
  }
  if (part.eArea != EMapArea::kField) return {};
  std::string szValue = FieldDisplayText(*part.pField, map.Record());
  // Terminal digits: the list item they make.
  const FIELD_DEF* pThrough = FieldSetThrough(*part.pField);
  if (pThrough != nullptr && pThrough != part.pField && pThrough->eKind != EFieldKind::kText)
    szValue += " (" + MapPartName(FieldPart(*pThrough)) + " " +
               FieldDisplayText(*pThrough, map.Record()) + ")";
  return szValue;
}

std::string MaskText(uint8_t btMask) {
  if (btMask == 0xFF || btMask == 0) return {};
  std::string s = std::popcount(btMask) == 1 ? "bit " : "bits ";
  bool bFirst = true;
  for (int nBit = 0; nBit < 8;) {
    if ((btMask >> nBit & 1) == 0) {
      ++nBit;
      continue;
    }
    int nEnd = nBit;
    while (nEnd < 7 && (btMask >> (nEnd + 1) & 1) != 0) ++nEnd;
    if (!bFirst) s += ", ";
    s += std::to_string(nBit);
    if (nEnd > nBit) s += "-" + std::to_string(nEnd);
    bFirst = false;
    nBit = nEnd + 1;
  }
  return s;
}

uint32_t MapColour(const MAP_PART& part) {
  const bool bOdd = part.nBank % 2 != 0;
  switch (part.eArea) {
    case EMapArea::kField: {
      const std::span<const FIELD_DEF> fields = Fields();
      const auto nRow = static_cast<double>(part.pField - fields.data());
      return FromHue(nRow * 137.508, 0.75, 0.78);
    }
    case EMapArea::kHeader:
      return 0xD0D0D0;
    case EMapArea::kBankHeader:
      return 0x9FB4C8;
    case EMapArea::kStringArea:
      return 0xF2E6C8;
    case EMapArea::kI2CInit:
      return bOdd ? 0xB9D7A8 : 0xA2C98C;
    case EMapArea::kAgcIr:
      return 0xE8A8A0;
    case EMapArea::kEq:
      return bOdd ? 0xC6B3E0 : 0xB39BD6;
    case EMapArea::kUnused:
      break;
  }
  return 0xF4F4F4;
}

std::span<const EMapArea> MapAreas() {
  return kAreas;
}

EBuildResult CurrentImage(const CImageSession& session, std::vector<uint8_t>& vImage) {
  CImageSession work = session;  // the output sequence encodes into its own image
  uint8_t btOut[kMaxImageSize];
  size_t n = 0;
  const EBuildResult r = work.BuildOutputImage(btOut, &n);
  if (r == EBuildResult::kOk) {
    vImage.assign(btOut, btOut + n);
  } else {
    const size_t nSize = session.GetRomSize();
    const size_t nHeld = nSize == 0 ? kHeaderSize : std::min<size_t>(nSize, kMaxImageSize);
    vImage.assign(session.RomDataMgr().Data(), session.RomDataMgr().Data() + nHeld);
  }
  return r;
}

}  // namespace qrt::image
