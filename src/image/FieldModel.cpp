#include "FieldModel.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "ImageFiles.h"
#include "SettingsRules.h"
#include "TextNumbers.h"
#include "VolumeTables.h"

namespace qrt::image {

namespace {

using namespace qrt::editor;
using O = _INTERNAL_OPT;
using K = EFieldKind;
using I = EFieldId;

// The record member m as the table keeps it.
#define QRT_MEMBER(m) REC_MEMBER{offsetof(_INTERNAL_OPT, m), sizeof(_INTERNAL_OPT::m)}
constexpr EFieldCodec kEnc = EFieldCodec::kEncoded;
constexpr EFieldCodec kDec = EFieldCodec::kDecodedOnly;

// The record's order (show --json). nShowOrder gives the show lines' order.
// id, kind, set name, JSON name, show name, show order, largest value,
// record member, header bits, inversion, codec.
const FIELD_DEF kFields[] = {
    {I::kSignature, K::kHexByte, nullptr, "btSignature", "btSignature", 1, 0xFF, QRT_MEMBER(btSignature), {{0x00, 1, 0xFF}}, 0, kDec},
    {I::kConfig1, K::kHexByte, nullptr, "btConfig1", "btConfig1", 2, 0xFF, QRT_MEMBER(btConfig1), {{0x01, 1, 0xFF}}, 0, kDec},
    {I::kVid, K::kWord, "vid", "wVID", "wVID", 3, 0xFFFF, QRT_MEMBER(wVID), {{0x18, 2, 0xFF}}, 0, kEnc},
    {I::kPid, K::kWord, "pid", "wPID", "wPID", 4, 0xFFFF, QRT_MEMBER(wPID), {{0x1A, 2, 0xFF}}, 0, kEnc},
    {I::kVidRaw, K::kRawBytes, nullptr, "btVIDRaw", "btVIDRaw", 5, 0, QRT_MEMBER(btVIDRaw), {{0x18, 2, 0xFF}}, 0, kDec},
    {I::kPidRaw, K::kRawBytes, nullptr, "btPIDRaw", "btPIDRaw", 6, 0, QRT_MEMBER(btPIDRaw), {{0x1A, 2, 0xFF}}, 0, kDec},
    {I::kStringArea, K::kRawBytes, nullptr, "szStringArea", "szStringArea", 9, 0, QRT_MEMBER(szStringArea), {{0x22, 56, 0xFF}}, 0, kDec},
    {I::kProduct, K::kText, "product", "szProduct", "szProduct", 7, 0, QRT_MEMBER(szProduct), {{0x22, 56, 0xFF}}, 0, kEnc},
    {I::kManufacturer, K::kText, "manufacturer", "szManufacturer", "szManufacturer", 8, 0, QRT_MEMBER(szManufacturer), {{0x22, 56, 0xFF}}, 0, kEnc},
    {I::kSerial, K::kSerial, "serial", "btSerialNumber", "btSerialNumber", 12, 0, QRT_MEMBER(btSerialNumber), {{0x1C, 6, 0xFF}}, 0, kEnc},
    {I::kPlayVolume, K::kNumber, "playVolume", "btPlayVolume", "btPlayVolume", 16, 63, QRT_MEMBER(btPlayVolume), {{0x0D, 1, 0xC0}, {0x0E, 1, 0x0F}}, 0, kEnc},
    {I::kRecordVolume, K::kNumber, "recordVolume", "btRecordVolume", "btRecordVolume", 17, 63, QRT_MEMBER(btRecordVolume), {{0x0E, 1, 0xF0}, {0x0F, 1, 0x03}}, 0, kEnc},
    {I::kMixVolume, K::kNumber, "mixVolume", "btMixVolume", "btMixVolume", 18, 63, QRT_MEMBER(btMixVolume), {{0x0F, 1, 0xFC}}, 0, kEnc},
    // The headphone power item is kept XOR 0x0D: item 13 is stored as 0.
    {I::kMaxPowerGain1, K::kNumber, "maxPowerGain1", "btMaxPowerGain1", "btMaxPowerGain1", 19, 63, QRT_MEMBER(btMaxPowerGain1), {{0xC9, 1, 0x3F}}, 0x0D, kEnc},
    {I::kMixMute, K::kNumber, "mixMute", "btMixMute", "btMixMute", 20, 1, QRT_MEMBER(btMixMute), {{0x02, 1, 0x40}}, 0, kEnc},
    {I::kPlayTerminalHi, K::kNumber, nullptr, "btPlayTerminalHi", nullptr, 0, 15, QRT_MEMBER(btPlayTerminalHi), {{0x91, 1, 0x0F}}, 0, kEnc},
    {I::kRecord2TerminalHi, K::kNumber, nullptr, "btRecord2TerminalHi", nullptr, 0, 15, QRT_MEMBER(btRecord2TerminalHi), {{0x90, 1, 0xF0}}, 0, kEnc},
    {I::kRecordTerminalHi, K::kNumber, nullptr, "btRecordTerminalHi", nullptr, 0, 15, QRT_MEMBER(btRecordTerminalHi), {{0x90, 1, 0x0F}}, 0, kEnc},
    // Both filter bits as one value, as loaded; the two switches write them.
    {I::kHpfMode, K::kNumber, nullptr, "btHpfMode", "btHpfMode", 26, 3, QRT_MEMBER(btHpfMode), {{0xB5, 1, 0x30}}, 0, kDec},
    {I::kProductLen, K::kNumber, nullptr, "btProductLen", "btProductLen", 10, 63, QRT_MEMBER(btProductLen), {{0x08, 1, 0xFC}}, 0, kEnc},
    {I::kManufacturerLen, K::kNumber, nullptr, "btManufacturerLen", "btManufacturerLen", 11, 63, QRT_MEMBER(btManufacturerLen), {{0x07, 1, 0xFC}}, 0, kEnc},
    // Bit 0xB5.5 set turns filter R off.
    {I::kHpfR, K::kNumber, "hpfR", "btHpfREnable", "btHpfREnable", 27, 1, QRT_MEMBER(btHpfREnable), {{0xB5, 1, 0x20}}, 1, kEnc},
    {I::kHpfL, K::kNumber, "hpfL", "btHpfLEnable", "btHpfLEnable", 28, 1, QRT_MEMBER(btHpfLEnable), {{0xB5, 1, 0x10}}, 0, kEnc},
    {I::kPlayTerminalLo, K::kNumber, nullptr, "btPlayTerminalLo", nullptr, 0, 15, QRT_MEMBER(btPlayTerminalLo), {{0x04, 1, 0xF0}}, 0, kEnc},
    {I::kRecord2TerminalLo, K::kNumber, nullptr, "btRecord2TerminalLo", nullptr, 0, 15, QRT_MEMBER(btRecord2TerminalLo), {{0x03, 1, 0xF0}}, 0, kEnc},
    {I::kRecordTerminalLo, K::kNumber, nullptr, "btRecordTerminalLo", nullptr, 0, 15, QRT_MEMBER(btRecordTerminalLo), {{0x04, 1, 0x0F}}, 0, kEnc},
    {I::kProductCtrl, K::kNumber, "productCtrl", "btProductStringCtrl", "btProductStringCtrl", 13, 1, QRT_MEMBER(btProductStringCtrl), {{0x01, 1, 0x01}}, 0, kEnc},
    {I::kSerialCtrl, K::kNumber, "serialCtrl", "btSerialNumberCtrl", "btSerialNumberCtrl", 14, 1, QRT_MEMBER(btSerialNumberCtrl), {{0x01, 1, 0x02}}, 0, kEnc},
    {I::kManufacturerCtrl, K::kNumber, "manufacturerCtrl", "btManufacturerStringCtrl", "btManufacturerStringCtrl", 15, 1, QRT_MEMBER(btManufacturerStringCtrl), {{0x01, 1, 0x04}}, 0, kEnc},
    {I::kMicBoostCtrl, K::kNumber, "micBoostCtrl", "btMicBoostCtrl", "btMicBoostCtrl", 21, 1, QRT_MEMBER(btMicBoostCtrl), {{0x02, 1, 0x10}}, 0, kEnc},
    {I::kMicBoostDefault, K::kNumber, "micBoostDefault", "btMicBoostDefault", "btMicBoostDefault", 22, 1, QRT_MEMBER(btMicBoostDefault), {{0x02, 1, 0x20}}, 0, kEnc},
    {I::kGainA, K::kNumber, "gainA", "btGainA", "btGainA", 29, 3, QRT_MEMBER(btGainA), {{0xB5, 1, 0xC0}}, 0, kEnc},
    {I::kGainB, K::kNumber, "gainB", "btGainB", "btGainB", 30, 7, QRT_MEMBER(btGainB), {{0xB3, 1, 0x70}}, 0, kEnc},
    {I::kGainC, K::kNumber, "gainC", "btGainC", "btGainC", 31, 7, QRT_MEMBER(btGainC), {{0xB7, 1, 0x70}}, 0, kEnc},
    // The device lists stand for the terminal digits above; they have no
    // bits of their own.
    {I::kPlayDevice, K::kPlayDevice, "playDevice", nullptr, "play terminal", 23, 0, {}, {}, 0, kEnc},
    {I::kRecordDevice, K::kRecordDevice, "recordDevice", nullptr, "record terminal", 24, 0, {}, {}, 0, kEnc},
    // The record list's "headset" sets these digits too (to 4/2).
    {I::kRecord2Terminal, K::kRecord2, "record2Terminal", nullptr, "record 2 terminal", 25, 0, {}, {}, 0, kEnc},
};
#undef QRT_MEMBER

// The member's bytes in the record.
uint8_t* MemberOf(const FIELD_DEF& def, O& r) {
  return reinterpret_cast<uint8_t*>(&r) + def.Member.btAt;
}
const uint8_t* MemberOf(const FIELD_DEF& def, const O& r) {
  return reinterpret_cast<const uint8_t*>(&r) + def.Member.btAt;
}
uint8_t& ByteOf(const FIELD_DEF& def, O& r) {
  return *MemberOf(def, r);
}
uint8_t ByteOf(const FIELD_DEF& def, const O& r) {
  return *MemberOf(def, r);
}
uint16_t WordOf(const FIELD_DEF& def, const O& r) {
  uint16_t w;
  std::memcpy(&w, MemberOf(def, r), sizeof w);
  return w;
}
void SetWord(const FIELD_DEF& def, O& r, uint16_t w) {
  std::memcpy(MemberOf(def, r), &w, sizeof w);
}

// A number's value from its header bits, low bits from the first entry.
unsigned DecodeBits(const FIELD_DEF& def, const uint8_t* p) {
  unsigned v = 0, nShift = 0;
  for (const FIELD_BITS& bits : def.Bits) {
    if (bits.btCount == 0) continue;
    v |= static_cast<unsigned>((p[bits.btOffset] & bits.btMask) >> std::countr_zero(bits.btMask))
         << nShift;
    nShift += static_cast<unsigned>(std::popcount(bits.btMask));
  }
  return v ^ def.btInvert;
}

// The value masked to the width of its bits, into those bits only.
void EncodeBits(const FIELD_DEF& def, unsigned v, uint8_t* p) {
  unsigned nWidth = 0;
  for (const FIELD_BITS& bits : def.Bits) nWidth += bits.btCount ? std::popcount(bits.btMask) : 0;
  v = (v & ((1u << nWidth) - 1)) ^ def.btInvert;
  for (const FIELD_BITS& bits : def.Bits) {
    if (bits.btCount == 0) continue;
    const unsigned nPart = (v << std::countr_zero(bits.btMask)) & bits.btMask;
    p[bits.btOffset] = static_cast<uint8_t>((p[bits.btOffset] & ~bits.btMask) | nPart);
    v >>= std::popcount(bits.btMask);
  }
}

const char* const kPlayNames[] = {"speaker", "headset", "headphone"};
const char* const kRecordNames[] = {"mic", "headset", "micarray"};

std::string FieldText(const uint8_t* p, size_t nMax) {
  size_t n = 0;
  while (n < nMax && p[n] != 0) ++n;
  return Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
}

std::string Printf(const char* pszFormat, unsigned a, unsigned b = 0, unsigned c = 0) {
  char sz[64];
  std::snprintf(sz, sizeof sz, pszFormat, a, b, c);
  return sz;
}

std::string Digits(unsigned hi, unsigned lo) {
  return Printf("%u/%u (0x%.4X)", hi, lo,
                TerminalType(static_cast<uint8_t>(hi), static_cast<uint8_t>(lo)));
}

// Terminal digits as set takes them: "H/L", each 0-15 (the nibbles the
// header keeps them in).
std::string DigitPair(unsigned hi, unsigned lo) {
  return std::to_string(hi) + "/" + std::to_string(lo);
}

bool ParseDigitPair(std::string_view s, uint8_t& btHi, uint8_t& btLo) {
  const size_t nSlash = s.find('/');
  uint64_t qwHi = 0, qwLo = 0;
  if (nSlash == std::string_view::npos || !qrt::diag::ParseDecimal(s.substr(0, nSlash), 15, qwHi) ||
      !qrt::diag::ParseDecimal(s.substr(nSlash + 1), 15, qwLo)) {
    return false;
  }
  btHi = static_cast<uint8_t>(qwHi);
  btLo = static_cast<uint8_t>(qwLo);
  return true;
}

bool ParseDecimal(const std::string& s, unsigned nMax, unsigned& nOut) {
  uint64_t qw = 0;
  if (!qrt::diag::ParseDecimal(s, nMax, qw)) return false;
  nOut = static_cast<unsigned>(qw);
  return true;
}

// A string's bytes where the area holds them by the length fields, zero
// bytes inside included (an image may count a trailing 0 in the string).
// Both together never take more than the 56 bytes of the area, so what set
// and the templates take as the present string always fits again.
std::string StringText(const FIELD_DEF& def, const O& r) {
  const STRING_EXTENTS ext = StringExtents(r.btProductLen, r.btManufacturerLen);
  return std::string(reinterpret_cast<const char*>(MemberOf(def, r)),
                     def.eId == I::kProduct ? ext.nProduct : ext.nManufacturer);
}

// The list item that, applied, gives the digits back exactly, or -1.
int ExactPlayItem(const O& r) {
  const unsigned t = TerminalType(r.btPlayTerminalHi, r.btPlayTerminalLo);
  return t == 0x0301 ? kPlaySpeaker : t == 0x0402 ? kPlayHeadset : t == 0x0302 ? kPlayHeadphone : -1;
}
int ExactRecordItem(const O& r) {
  const unsigned t = TerminalType(r.btRecordTerminalHi, r.btRecordTerminalLo);
  // "headset" sets the second record terminal to 4/2 as well: without that
  // pairing only the digits give the record back.
  if (t == 0x0402)
    return TerminalType(r.btRecord2TerminalHi, r.btRecord2TerminalLo) == 0x0402 ? kRecordHeadset
                                                                                : -1;
  return t == 0x0201 ? kRecordMic : t == 0x0205 ? kRecordMicArray : -1;
}
}  // namespace

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 0x0F]);
  }
  return s;
}

std::span<const FIELD_DEF> Fields() {
  return kFields;
}

STRING_EXTENTS StringExtents(unsigned nProductLen, unsigned nManufacturerLen) {
  // For fields up to 29 this is the chip tool's split; longer strings follow
  // the same contiguous rule, so decoding what was encoded gives them back.
  const size_t nProduct = nProductLen ? std::min<size_t>(nProductLen - 1u, kStringAreaSize) : 0;
  const size_t nManufacturer =
      nManufacturerLen ? std::min<size_t>(nManufacturerLen - 1u, kStringAreaSize - nProduct) : 0;
  return {nProduct, nManufacturer};
}

const FIELD_DEF* FieldSetThrough(const FIELD_DEF& def) {
  if (def.pszSetName != nullptr) return &def;
  switch (def.eId) {
    case I::kPlayTerminalHi:
    case I::kPlayTerminalLo:
      return &Field(I::kPlayDevice);
    case I::kRecordTerminalHi:
    case I::kRecordTerminalLo:
      return &Field(I::kRecordDevice);
    case I::kRecord2TerminalHi:
    case I::kRecord2TerminalLo:
      return &Field(I::kRecord2Terminal);
    case I::kProductLen:
      return &Field(I::kProduct);
    case I::kManufacturerLen:
      return &Field(I::kManufacturer);
    case I::kVidRaw:
      return &Field(I::kVid);
    case I::kPidRaw:
      return &Field(I::kPid);
    default:
      return nullptr;  // the signature, configuration byte 1, the filter mode
  }
}

const FIELD_DEF* FindSetField(std::string_view szName) {
  for (const FIELD_DEF& def : kFields) {
    if (def.pszSetName != nullptr && szName == def.pszSetName) return &def;
  }
  return nullptr;
}

size_t SetFieldCount() {
  size_t n = 0;
  for (const FIELD_DEF& def : kFields) n += def.pszSetName != nullptr;
  return n;
}

FIELD_VALUE FieldJsonValue(const FIELD_DEF& def, const O& r) {
  FIELD_VALUE v;
  switch (def.eKind) {
    case K::kWord:
      v.bNumber = true;
      v.nNumber = WordOf(def, r);
      return v;
    case K::kRawBytes:
    case K::kSerial:
      // The whole member: the string area with the record's zero tail.
      v.szText = Hex(MemberOf(def, r), def.Member.btSize);
      return v;
    case K::kText:
      v.szText = FieldText(MemberOf(def, r), def.Member.btSize);
      return v;
    case K::kNumber:
    case K::kHexByte:
      v.bNumber = true;
      v.nNumber = ByteOf(def, r);
      return v;
    default:
      return v;
  }
}

std::string FieldShowText(const FIELD_DEF& def, const O& r) {
  switch (def.eId) {
    case I::kVid:
    case I::kPid:
      return Printf("0x%.4X", WordOf(def, r));
    case I::kStringArea:
      // The 56 bytes of the area, not the record's zero tail.
      return Hex(MemberOf(def, r), def.Bits[0].btCount);
    case I::kProduct:
    case I::kManufacturer: {
      // Appended, not "\"" + string: GCC 12 at -O3 warns falsely
      // (-Wrestrict) about the inlined insert of that operator.
      std::string szQuoted = "\"";
      szQuoted += FieldJsonValue(def, r).szText;
      return szQuoted + "\"";
    }
    case I::kPlayDevice: {
      const CDeviceItems items = ShownDeviceItems(r);
      return Digits(r.btPlayTerminalHi, r.btPlayTerminalLo) + " " + PlayDeviceName(items.nPlay);
    }
    case I::kRecordDevice: {
      const CDeviceItems items = ShownDeviceItems(r);
      return Digits(r.btRecordTerminalHi, r.btRecordTerminalLo) + " " +
             RecordDeviceName(items.nRecord);
    }
    case I::kRecord2Terminal:
      return Digits(r.btRecord2TerminalHi, r.btRecord2TerminalLo);
    default:
      break;
  }
  if (def.eKind == K::kHexByte) return Printf("0x%.2X", ByteOf(def, r));
  const FIELD_VALUE v = FieldJsonValue(def, r);
  return v.bNumber ? std::to_string(v.nNumber) : v.szText;
}

FIELD_VALUE FieldSetValue(const FIELD_DEF& def, const O& r) {
  FIELD_VALUE v;
  switch (def.eKind) {
    case K::kWord:
      v.szText = Printf("%.4X", WordOf(def, r));
      return v;
    // Digits no list item stands for go out as digits, so set and the
    // templates give them back exactly.
    // The bytes the length field counts, so a template keeps the length.
    case K::kText:
      v.szText = Latin1ToUtf8(StringText(def, r));
      return v;
    case K::kPlayDevice: {
      const int nItem = ExactPlayItem(r);
      v.szText = nItem >= 0 ? kPlayNames[nItem] : DigitPair(r.btPlayTerminalHi, r.btPlayTerminalLo);
      return v;
    }
    case K::kRecordDevice: {
      const int nItem = ExactRecordItem(r);
      v.szText = nItem >= 0 ? kRecordNames[nItem]
                            : DigitPair(r.btRecordTerminalHi, r.btRecordTerminalLo);
      return v;
    }
    case K::kRecord2:
      v.szText = DigitPair(r.btRecord2TerminalHi, r.btRecord2TerminalLo);
      return v;
    default:
      return FieldJsonValue(def, r);
  }
}

std::string FieldDisplayText(const FIELD_DEF& def, const O& r) {
  switch (def.eId) {
    case I::kPlayVolume:
    case I::kMixVolume:
    case I::kMaxPowerGain1:
    case I::kRecordVolume: {
      const int nItem = FieldItem(def, r);
      return nItem >= 0 ? FieldItemText(def, nItem) : "code " + std::to_string(ByteOf(def, r));
    }
    case I::kProduct:
    case I::kManufacturer:
      return FieldShowText(def, r);
    default:
      break;
  }
  if (def.eKind == K::kHexByte) return FieldShowText(def, r);
  const FIELD_VALUE v = FieldSetValue(def, r);
  return v.bNumber ? std::to_string(v.nNumber) : v.szText;
}

const FIELD_DEF& Field(EFieldId eId) {
  for (const FIELD_DEF& def : kFields) {
    if (def.eId == eId) return def;
  }
  return kFields[0];  // every id has a row; the table test checks it
}

unsigned FieldNumber(const FIELD_DEF& def, const O& r) {
  return def.eKind == K::kNumber ? ByteOf(def, r) : 0;
}

bool SetFieldNumber(const FIELD_DEF& def, O& r, unsigned nValue) {
  if (def.eKind != K::kNumber || nValue > def.nMax) return false;
  ByteOf(def, r) = static_cast<uint8_t>(nValue);
  return true;
}

int FieldItemCount(const FIELD_DEF& def) {
  switch (def.eId) {
    case I::kPlayVolume:
    case I::kMixVolume:
    case I::kMaxPowerGain1:
      return kVolumeItemCount;
    case I::kRecordVolume:
      return kRecordVolumeItemCount;
    case I::kPlayDevice:
    case I::kRecordDevice:
      return 3;
    default:
      return 0;
  }
}

std::string FieldItemText(const FIELD_DEF& def, int nItem) {
  if (nItem < 0 || nItem >= FieldItemCount(def)) return {};
  switch (def.eId) {
    case I::kPlayVolume:
    case I::kMixVolume:
      return kPlayVolumeTexts[nItem];
    case I::kMaxPowerGain1:
      return kHeadphonePowerTexts[nItem];
    case I::kRecordVolume:
      return RecordVolumeItemText(nItem);
    case I::kPlayDevice:
      return PlayDeviceName(nItem);
    default:
      return RecordDeviceName(nItem);
  }
}

int FieldItem(const FIELD_DEF& def, const O& r) {
  switch (def.eId) {
    case I::kPlayVolume:
    case I::kMixVolume:
      return VolumeCodeToItem(ByteOf(def, r));
    case I::kMaxPowerGain1:
      // The item is the code itself.
      return r.btMaxPowerGain1 < kVolumeItemCount ? r.btMaxPowerGain1 : -1;
    case I::kRecordVolume:
      return RecordVolumeCodeToItem(r.btRecordVolume, -1);
    case I::kPlayDevice:
      return ShownDeviceItems(r).nPlay;
    case I::kRecordDevice:
      return ShownDeviceItems(r).nRecord;
    default:
      return -1;
  }
}

bool ApplyFieldItem(const FIELD_DEF& def, O& r, int nItem) {
  if (nItem < 0 || nItem >= FieldItemCount(def)) return false;
  switch (def.eId) {
    case I::kPlayVolume:
    case I::kMixVolume:
      ByteOf(def, r) = static_cast<uint8_t>(VolumeItemToCode(nItem));
      return true;
    case I::kMaxPowerGain1:
      r.btMaxPowerGain1 = static_cast<uint8_t>(nItem);
      return true;
    case I::kRecordVolume:
      r.btRecordVolume = static_cast<uint8_t>(RecordVolumeItemToCode(nItem));
      return true;
    case I::kPlayDevice:
      return SetPlayDevice(r, nItem);
    default:
      return SetRecordDevice(r, nItem);
  }
}

std::string FieldSetHelp(const FIELD_DEF& def) {
  const auto names = [](const char* const* ppszNames) {
    return std::string(ppszNames[0]) + ", " + ppszNames[1] + ", " + ppszNames[2];
  };
  switch (def.eKind) {
    case K::kNumber:
      if (FieldItemCount(def) > 0) return "register code 0-" + std::to_string(def.nMax);
      return def.nMax == 1 ? "0 or 1" : "0-" + std::to_string(def.nMax);
    case K::kWord:
      return "1-4 hex digits (0x prefix allowed)";
    case K::kSerial:
      return "up to 12 hex digits, right-aligned";
    case K::kText:
      return "text up to U+00FF; product + manufacturer at most 56";
    case K::kPlayDevice:
      return names(kPlayNames) + " or digits H/L (0-15 each)";
    case K::kRecordDevice:
      return names(kRecordNames) + " or digits H/L (headset: record2Terminal 4/2)";
    case K::kRecord2:
      return "the second record terminal's digits H/L";
    default:
      return {};
  }
}

std::string SettableFieldList() {
  std::string s;
  for (const FIELD_DEF& def : kFields) {
    if (def.pszSetName == nullptr) continue;
    char sz[24];
    std::snprintf(sz, sizeof sz, "  %-16s ", def.pszSetName);
    s += sz + FieldSetHelp(def) + "\n";
  }
  return s;
}

unsigned FieldHexDigits(const FIELD_DEF& def) {
  return def.eKind == K::kWord ? 4 : def.eKind == K::kSerial ? 12 : 0;
}

namespace {

// Well-formed UTF-8: no stray continuation byte, no cut, overlong or
// surrogate sequence, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t nMore = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      nMore = 1;
      cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
      nMore = 2;
      cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
      nMore = 3;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (s.size() - i <= nMore) return false;
    for (size_t k = 1; k <= nMore; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[nMore] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += nMore + 1;
  }
  return true;
}

// A text value as the string area takes it: one byte per character.
// Returns an empty text, or the reason (szBytes then unchanged).
std::string TextBytes(const std::string& value, std::string& szBytes) {
  if (!IsValidUtf8(value)) return "the text is not valid UTF-8";
  std::string szLatin1;
  if (!Utf8ToLatin1(value, szLatin1))
    return "only characters up to U+00FF fit the string area (one byte each)";
  if (szLatin1.size() > kMaxStringBytes) return "longer than 56 characters";
  szBytes = std::move(szLatin1);
  return {};
}

// Parses and stores one value of a field that is not a string. Returns an
// empty text, or the reason (r then unchanged).
std::string ApplyOne(const FIELD_DEF& def, O& r, const std::string& value) {
  switch (def.eKind) {
    case K::kNumber: {
      unsigned v = 0;
      if (!ParseDecimal(value, def.nMax, v))
        return "a whole number 0-" + std::to_string(def.nMax) + " is expected";
      ByteOf(def, r) = static_cast<uint8_t>(v);
      return {};
    }
    case K::kWord: {
      uint32_t dw = 0;
      if (!ParseHex(value, 0xFFFF, dw)) return "1 to 4 hex digits are expected";
      SetWord(def, r, static_cast<uint16_t>(dw));
      return {};
    }
    case K::kSerial:
      if (!IsHexText(value) || !ParseSerialNumber(value, r.btSerialNumber))
        return "up to 12 hex digits are expected";
      return {};
    case K::kPlayDevice:
      for (int i = 0; i < 3; ++i) {
        if (value == kPlayNames[i]) {
          SetPlayDevice(r, i);
          return {};
        }
      }
      if (ParseDigitPair(value, r.btPlayTerminalHi, r.btPlayTerminalLo)) return {};
      return "speaker, headset, headphone or terminal digits H/L (0-15 each) are expected";
    case K::kRecordDevice:
      for (int i = 0; i < 3; ++i) {
        if (value == kRecordNames[i]) {
          SetRecordDevice(r, i);
          return {};
        }
      }
      if (ParseDigitPair(value, r.btRecordTerminalHi, r.btRecordTerminalLo)) return {};
      return "mic, headset, micarray or terminal digits H/L (0-15 each) are expected";
    case K::kRecord2:
      if (ParseDigitPair(value, r.btRecord2TerminalHi, r.btRecord2TerminalLo)) return {};
      return "terminal digits H/L (0-15 each) are expected";
    default:
      return "read only";
  }
}

// "NAME=VALUE" quoted for a one-line message.
std::string AssignmentText(const FIELD_ASSIGNMENT& a) {
  const char* pszName = a.pDef->pszSetName ? a.pDef->pszSetName : a.pDef->pszJsonName;
  return QuoteText(std::string(pszName ? pszName : "") + "=" + a.szValue);
}

}  // namespace

std::string ApplyFieldTexts(O& rec, std::span<const FIELD_ASSIGNMENT> vAssignments) {
  // The last value given for a field counts.
  const auto given = [vAssignments](I eId) -> const FIELD_ASSIGNMENT* {
    const FIELD_ASSIGNMENT* pLast = nullptr;
    for (const FIELD_ASSIGNMENT& a : vAssignments)
      if (a.pDef->eId == eId) pLast = &a;
    return pLast;
  };
  O work = rec;

  // The strings first, each parsed alone and the two packed once: the area
  // they share is judged on the result, not on the string not yet changed.
  const FIELD_ASSIGNMENT* pProduct = given(I::kProduct);
  const FIELD_ASSIGNMENT* pManufacturer = given(I::kManufacturer);
  std::string szProduct = StringText(Field(I::kProduct), work);
  std::string szManufacturer = StringText(Field(I::kManufacturer), work);
  if (pProduct != nullptr || pManufacturer != nullptr) {
    for (const auto& [pGiven, pszBytes] :
         {std::pair{pProduct, &szProduct}, {pManufacturer, &szManufacturer}}) {
      if (pGiven == nullptr) continue;
      const std::string szWhy = TextBytes(pGiven->szValue, *pszBytes);
      if (!szWhy.empty()) return AssignmentText(*pGiven) + ": " + szWhy;
    }
    if (PackStrings(work, szProduct, szManufacturer, pProduct != nullptr,
                    pManufacturer != nullptr) != kPackOk) {
      std::string szWho = pProduct ? AssignmentText(*pProduct) : std::string();
      if (pManufacturer != nullptr)
        szWho += (pProduct ? " with " : "") + AssignmentText(*pManufacturer);
      return szWho + ": Max Length is 56 (ProductString + ManufacturerString)";
    }
  }

  // Then the rest in the table's order: a string switch given beside its
  // string wins over the one the string sets.
  for (const FIELD_DEF& def : kFields) {
    const FIELD_ASSIGNMENT* pGiven = def.eKind == K::kText ? nullptr : given(def.eId);
    if (pGiven == nullptr) continue;
    const std::string szWhy = ApplyOne(def, work, pGiven->szValue);
    if (!szWhy.empty()) return AssignmentText(*pGiven) + ": " + szWhy;
  }

  // The record list's "headset" pairs the second record terminal with it;
  // another second terminal in the same edit contradicts it, whichever
  // comes first.
  const FIELD_ASSIGNMENT* pRecord = given(I::kRecordDevice);
  const FIELD_ASSIGNMENT* pRecord2 = given(I::kRecord2Terminal);
  if (pRecord != nullptr && pRecord2 != nullptr &&
      pRecord->szValue == kRecordNames[kRecordHeadset] && ExactRecordItem(work) != kRecordHeadset)
    return AssignmentText(*pRecord) + " and " + AssignmentText(*pRecord2) +
           " contradict each other: headset sets the second record terminal to 4/2";
  rec = work;
  return {};
}

std::string ApplyFieldText(const FIELD_DEF& def, O& r, const std::string& value) {
  const FIELD_ASSIGNMENT a{&def, value};
  return ApplyFieldTexts(r, {&a, 1});
}

void DecodeField(const FIELD_DEF& def, const uint8_t* p, O& r) {
  uint8_t* pMember = MemberOf(def, r);
  std::memset(pMember, 0, def.Member.btSize);
  const FIELD_BITS& at = def.Bits[0];
  switch (def.eKind) {
    case K::kNumber:
    case K::kHexByte:
      *pMember = static_cast<uint8_t>(DecodeBits(def, p));
      return;
    case K::kWord:
      SetWord(def, r, static_cast<uint16_t>(p[at.btOffset] | p[at.btOffset + 1] << 8));
      return;
    case K::kRawBytes:
    case K::kSerial:
      std::memcpy(pMember, p + at.btOffset, at.btCount);
      return;
    case K::kText: {
      // The lengths as the header holds them: the length rows may come later.
      const STRING_EXTENTS ext = StringExtents(DecodeBits(Field(I::kProductLen), p),
                                               DecodeBits(Field(I::kManufacturerLen), p));
      if (def.eId == I::kProduct)
        std::memcpy(pMember, p + at.btOffset, ext.nProduct);
      else
        std::memcpy(pMember, p + at.btOffset + ext.nProduct, ext.nManufacturer);
      return;
    }
    default:
      return;
  }
}

void EncodeField(const FIELD_DEF& def, const O& r, uint8_t* p) {
  const uint8_t* pMember = MemberOf(def, r);
  const FIELD_BITS& at = def.Bits[0];
  switch (def.eKind) {
    case K::kNumber:
    case K::kHexByte:
      EncodeBits(def, *pMember, p);
      return;
    case K::kWord: {
      const uint16_t w = WordOf(def, r);
      p[at.btOffset] = static_cast<uint8_t>(w & 0xFF);
      p[at.btOffset + 1] = static_cast<uint8_t>(w >> 8);
      return;
    }
    case K::kRawBytes:
    case K::kSerial:
      std::memcpy(p + at.btOffset, pMember, at.btCount);
      return;
    case K::kText: {
      // The bytes up to the first 0, the product at the start of the area
      // (cleared first: the bytes behind the strings are 0), the
      // manufacturer right behind btProductLen - 1 bytes; neither reaches
      // beyond the area whatever the record holds.
      size_t nAt = 0;
      if (def.eId == I::kProduct) {
        std::memset(p + at.btOffset, 0, at.btCount);
      } else {
        nAt = r.btProductLen ? r.btProductLen - 1u : 0u;
        if (nAt >= at.btCount) return;
      }
      const size_t n = strnlen(reinterpret_cast<const char*>(pMember), def.Member.btSize);
      std::memcpy(p + at.btOffset + nAt, pMember, std::min<size_t>(n, at.btCount - nAt));
      return;
    }
    default:
      return;
  }
}

namespace {

// The header bits of the encoded fields that fnTake takes.
template <typename Take>
void HeaderBitsOf(uint8_t btMask[kHeaderSize], Take fnTake) {
  for (unsigned i = 0; i < kHeaderSize; ++i) btMask[i] = 0;
  for (const FIELD_DEF& def : kFields) {
    if (def.eCodec != EFieldCodec::kEncoded || !fnTake(def)) continue;
    for (const FIELD_BITS& bits : def.Bits) {
      for (unsigned i = 0; i < bits.btCount && bits.btOffset + i < kHeaderSize; ++i) {
        btMask[bits.btOffset + i] |= bits.btMask;
      }
    }
  }
}

}  // namespace

void CoveredHeaderBits(uint8_t btMask[kHeaderSize]) {
  HeaderBitsOf(btMask, [](const FIELD_DEF&) { return true; });
}

bool IsPerBoardField(const FIELD_DEF& def) {
  return def.eId == EFieldId::kSerial || def.eId == EFieldId::kSerialCtrl;
}

void PerBoardHeaderBits(uint8_t btMask[kHeaderSize]) {
  HeaderBitsOf(btMask, IsPerBoardField);
}

}  // namespace qrt::image
