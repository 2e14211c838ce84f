#pragma once
// Editing rules of the settings record that need no widgets: serial number
// and hex text, the product/manufacturer strings in their shared 56-byte
// area, and the play/record device lists <-> terminal-type digits.
#include <cstdint>
#include <string>
#include <string_view>

#include "InternalOpt.h"
#include "TextNumbers.h"

namespace qrt::editor {

// The hex parser of settings and options (1-8 digits, 0x allowed) and its
// digit rule, shared with every library that reads hex text.
using qrt::diag::HexDigitValue;
using qrt::diag::ParseHex;

// True when every character is 0-9, a-f or A-F; an empty text is hex.
bool IsHexText(std::string_view szText);

// Up to 12 hex digits, right-aligned in six bytes (left-padded with '0'),
// first pair -> byte 0: "ABC" -> 00 00 00 00 0A BC. A pair that is not hex
// gives 0. Returns false (btOut untouched) for more than 12 characters.
bool ParseSerialNumber(std::string_view szText, uint8_t btOut[6]);

// UTF-8 text -> one byte per character (Latin-1). False for invalid UTF-8
// or a character above U+00FF; szOut is then unchanged.
bool Utf8ToLatin1(std::string_view szUtf8, std::string& szOut);
// One byte per character -> UTF-8 (every byte is the code point).
std::string Latin1ToUtf8(std::string_view szLatin1);

// The longest string, and the two strings together, in bytes.
inline constexpr unsigned kMaxStringBytes = 56;

enum : int { kPackOk = 0, kPackTooLong = 1 };

// Puts product and manufacturer bytes (one byte per character) into the
// record: btProductLen = P + 1, btManufacturerLen = M + 1, szProduct and
// szManufacturer zero-padded, szStringArea = product then manufacturer with
// no gap. bFromProduct / bFromManufacturer say which edit changed: that
// string's control flag becomes 1 when it is non-empty, 0 when empty.
// kPackTooLong (record untouched) when P + M > 56.
int PackStrings(_INTERNAL_OPT& rOpt, std::string_view szProduct, std::string_view szManufacturer,
                bool bFromProduct, bool bFromManufacturer);

// The texts as the window shows them: contiguous in szStringArea, product
// first (btProductLen - 1 bytes), then the manufacturer; each ends early at
// a 0 byte; a length field of 0 gives an empty text. Latin-1 bytes.
std::string ShownProductText(const _INTERNAL_OPT& rOpt);
std::string ShownManufacturerText(const _INTERNAL_OPT& rOpt);

// Play device list: 0 "Speaker" (3/1), 1 "Headset" (4/2), 2 "Headphone" (3/2).
enum EPlayDevice : int { kPlaySpeaker = 0, kPlayHeadset = 1, kPlayHeadphone = 2 };
// Record device list: 0 "Mic" (2/1), 1 "Headset" (4/2), 2 "Mic array" (2/5).
enum ERecordDevice : int { kRecordMic = 0, kRecordHeadset = 1, kRecordMicArray = 2 };

// Store a list item's digits; false (record untouched) for an item outside
// 0-2. The record "Headset" also sets the second record terminal to 4/2.
bool SetPlayDevice(_INTERNAL_OPT& rOpt, int nItem);
bool SetRecordDevice(_INTERNAL_OPT& rOpt, int nItem);

// The items the lists show for a record: unknown play digits show
// "Headset", unknown record digits "Mic"; when either terminal is 4/2 both
// lists show "Headset".
struct CDeviceItems {
  int nPlay;
  int nRecord;
};
CDeviceItems ShownDeviceItems(const _INTERNAL_OPT& rOpt);

const char* PlayDeviceName(int nItem);    // "Speaker", "Headset", "Headphone"; "" otherwise
const char* RecordDeviceName(int nItem);  // "Mic", "Headset", "Mic array"; "" otherwise

// Terminal type from the digits: high * 0x100 + low.
inline uint16_t TerminalType(uint8_t btHi, uint8_t btLo) {
  return static_cast<uint16_t>(btHi * 0x100 + btLo);
}

}  // namespace qrt::editor
