#pragma once
// The settings of the general configuration block, described once: each
// field's `set` name, its `show --json` name (the _INTERNAL_OPT member), its
// `show` line, where it lives in the header (bytes and bit masks, inversion),
// its range, and how it is parsed and shown. The codec (decode and encode of
// the header), show, set, diff and the templates are loops over this table;
// a new setting is one row.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "InternalOpt.h"

namespace qrt::image {

// Bytes as upper-case hex digits, two per byte, no separators.
std::string Hex(const uint8_t* p, size_t n);

enum class EFieldKind {
  kNumber,        // decimal 0..nMax (a byte of the record)
  kHexByte,       // a byte shown as 0xNN; read only
  kWord,          // wVID / wPID: 1-4 hex digits, shown 0xNNNN
  kRawBytes,      // bytes as upper-case hex; read only
  kSerial,        // up to 12 hex digits, right-aligned
  kText,          // product / manufacturer: one byte per character
  kPlayDevice,    // speaker | headset | headphone, or the terminal digits "H/L"
  kRecordDevice,  // mic | headset | micarray, or "H/L"
  kRecord2,       // the second record terminal's digits "H/L"
};

// Where a field lives: btCount header bytes from btOffset, the bits of
// btMask in each. A number spread over two bytes takes its low bits from the
// first entry of FIELD_DEF::Bits; each mask is one run of bits.
struct FIELD_BITS {
  uint8_t btOffset;
  uint8_t btCount;
  uint8_t btMask;
};

// The record member a field stands for: its offset in _INTERNAL_OPT and its
// size in bytes (0: the device lists, views over the terminal digits).
struct REC_MEMBER {
  uint8_t btAt;
  uint8_t btSize;
};

// Whether encoding writes the field back. Decoded-only fields are copies of
// header bytes that other fields own (signature, raw ids, string area) or
// that the tool never changes (the filter mode).
enum class EFieldCodec : uint8_t { kEncoded, kDecodedOnly };

enum class EFieldId {
  kSignature, kConfig1, kVid, kPid, kVidRaw, kPidRaw, kStringArea, kProduct, kManufacturer,
  kSerial, kPlayVolume, kRecordVolume, kMixVolume, kMaxPowerGain1, kMixMute, kPlayTerminalHi,
  kRecord2TerminalHi, kRecordTerminalHi, kHpfMode, kProductLen, kManufacturerLen, kHpfR, kHpfL,
  kPlayTerminalLo, kRecord2TerminalLo, kRecordTerminalLo, kProductCtrl, kSerialCtrl,
  kManufacturerCtrl, kMicBoostCtrl, kMicBoostDefault, kGainA, kGainB, kGainC, kPlayDevice,
  kRecordDevice, kRecord2Terminal,
};

// How each kind travels between header and record:
//   kNumber, kHexByte  a byte member: the bits of Bits[] in value order,
//                      XOR btInvert (the header keeps some values inverted)
//   kWord              16 bits, little-endian in Bits[0] (two bytes)
//   kRawBytes, kSerial Bits[0].btCount header bytes copied as they are
//   kText              product / manufacturer in the shared string area
//                      (Bits[0]); the product row clears the area first
//   device lists       nothing of their own
struct FIELD_DEF {
  EFieldId eId;
  EFieldKind eKind;
  const char* pszSetName;   // null: not settable
  const char* pszJsonName;  // null: not a member of show --json's record
  const char* pszShowName;  // null: no show line of its own
  int nShowOrder;           // position among the show lines
  unsigned nMax;            // kNumber: the largest value
  REC_MEMBER Member;        // the record member
  FIELD_BITS Bits[2];       // header bits; unused entries have count 0
  uint8_t btInvert;         // kNumber: XOR between record value and header bits
  EFieldCodec eCodec;
};

// Every field, in the record's (show --json's) order. The product row comes
// before the manufacturer row (it clears the string area they share).
std::span<const FIELD_DEF> Fields();

// The codec of one field. DecodeField fills the record member from the
// 256-byte header and reads nothing else; EncodeField writes the member into
// the header bits the field owns and keeps every other bit. Strings stay
// inside the 56-byte area whatever the length fields hold. Neither fails.
void DecodeField(const FIELD_DEF& def, const uint8_t* pHeader, _INTERNAL_OPT& rec);
void EncodeField(const FIELD_DEF& def, const _INTERNAL_OPT& rec, uint8_t* pHeader);

// The field with this set name, or null.
const FIELD_DEF* FindSetField(std::string_view szName);
// Number of settable fields.
size_t SetFieldCount();

// A value as JSON carries it: a number, or a text.
struct FIELD_VALUE {
  bool bNumber = false;
  unsigned nNumber = 0;
  std::string szText;  // UTF-8
};

// show --json's value of the record member.
FIELD_VALUE FieldJsonValue(const FIELD_DEF& def, const _INTERNAL_OPT& rec);
// The value after the name on a show line.
std::string FieldShowText(const FIELD_DEF& def, const _INTERNAL_OPT& rec);
// The value as set and the templates take it: kNumber as a number, the
// rest as text. Terminal digits that no list item stands for come as "H/L",
// so applying the value gives the record's digits back exactly.
FIELD_VALUE FieldSetValue(const FIELD_DEF& def, const _INTERNAL_OPT& rec);
// The value for people: dB texts for volumes and power, device names,
// quoted strings, the rest as set takes it.
std::string FieldDisplayText(const FIELD_DEF& def, const _INTERNAL_OPT& rec);

// What set takes for a settable field, one short line ("0 or 1",
// "register code 0-63").
std::string FieldSetHelp(const FIELD_DEF& def);
// Every settable field as "  NAME  what it takes" lines, in the table's
// order: the list of set --help and of the documentation.
std::string SettableFieldList();

// One NAME=VALUE of set or of a template.
struct FIELD_ASSIGNMENT {
  const FIELD_DEF* pDef;  // a settable field
  std::string szValue;    // as set takes it (UTF-8)
};

// Applies the values of one set command or one template as one edit, and
// judges the result, not each step: the product and manufacturer strings
// are packed together once (29 + 27 characters fit), the other fields follow
// in the table's order (a string switch given beside its string wins over
// the one the string sets), and "headset" for the record device beside a
// second record terminal other than 4/2 is refused as a contradiction. The
// last value given for a field counts. Returns an empty text on success,
// else the reason, one line naming the assignment(s) quoted as QuoteText
// does ("\"gainA=4\": a whole number 0-3 is expected"); rec is then unchanged.
std::string ApplyFieldTexts(_INTERNAL_OPT& rec, std::span<const FIELD_ASSIGNMENT> vAssignments);
// ApplyFieldTexts of one value: a string is packed with the other string as
// the record holds it.
std::string ApplyFieldText(const FIELD_DEF& def, _INTERNAL_OPT& rec, const std::string& szValue);

// --- what the window's controls need of a field --------------------------

// The field with this id.
const FIELD_DEF& Field(EFieldId eId);

// A kNumber field's value (switches are 0 or 1); 0 for other fields.
unsigned FieldNumber(const FIELD_DEF& def, const _INTERNAL_OPT& rec);
// Stores a kNumber field's value. False (rec unchanged) for a value above
// nMax or a field of another kind.
bool SetFieldNumber(const FIELD_DEF& def, _INTERNAL_OPT& rec, unsigned nValue);

// Fields picked from a list: the volumes (dB items), the headphone power and
// the device lists. The number of items, 0 for any other field.
int FieldItemCount(const FIELD_DEF& def);
// An item's text ("-0.75 dB", "21.00 dB", "Speaker"); empty outside the list.
std::string FieldItemText(const FIELD_DEF& def, int nItem);
// The item a list shows for the record; -1 when no item stands for its
// value (a record volume code without a row). Device lists show the Headset
// pairing and unknown digits as the editor rules say.
int FieldItem(const FIELD_DEF& def, const _INTERNAL_OPT& rec);
// Stores the value of an item. False (rec unchanged) outside the list.
bool ApplyFieldItem(const FIELD_DEF& def, _INTERNAL_OPT& rec, int nItem);

// The hex digits a kWord or kSerial value is written with (4, 12); 0 for
// other fields.
unsigned FieldHexDigits(const FIELD_DEF& def);

// Header bits that encoding writes for some field (mask per byte of the 256).
void CoveredHeaderBits(uint8_t btMask[kHeaderSize]);

// The fields each board has of its own, which a golden image does not:
// the serial number and the switch that turns its string on (program sets
// both per board). A final test ignores them by the name "serial".
inline constexpr const char* kPerBoardFieldsName = "serial";
bool IsPerBoardField(const FIELD_DEF& def);
// The header bits of the per-board fields (mask per byte of the 256).
void PerBoardHeaderBits(uint8_t btMask[kHeaderSize]);

// Where the two strings lie in the area by their length fields: the product
// from the start of the area, the manufacturer right behind btProductLen - 1
// bytes. A length field of 0 is an empty string; both are cut at the end of
// the area.
struct STRING_EXTENTS {
  size_t nProduct;       // bytes from the start; the manufacturer starts here
  size_t nManufacturer;  // bytes
};
STRING_EXTENTS StringExtents(unsigned nProductLen, unsigned nManufacturerLen);

// The setting that changes this field's bits: the field itself when set
// takes it, the device list for its terminal digits, the string for its
// length field, the id for its raw bytes. Null for bits no setting writes
// (signature, configuration byte 1, the filter mode as loaded).
const FIELD_DEF* FieldSetThrough(const FIELD_DEF& def);

}  // namespace qrt::image
