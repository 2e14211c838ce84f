#pragma once
// Numbers in text, as every library reads them: option values, settings,
// sysfs attributes, simulator faults, file contents. One set of rules, so
// "0x" and digit limits mean the same everywhere. No sign, no blanks, no
// octal: a leading 0 is just a digit.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qrt::diag {

// 0-15 for 0-9, a-f, A-F; -1 for any other character.
int HexDigitValue(char c);

// 1 to nMaxDigits hex digits (at most 16) with no prefix. True with the value
// when it is at most qwMax; false (qwValue untouched) otherwise.
bool ParseHexDigits(std::string_view szText, size_t nMaxDigits, uint64_t qwMax,
                    uint64_t& qwValue);

// Hex as settings and options take it: 1-8 digits, with or without a 0x/0X
// prefix. True with the value when it is at most dwMax; false (dwValue
// untouched) otherwise.
bool ParseHex(std::string_view szText, uint32_t dwMax, uint32_t& dwValue);

// Decimal digits only. True with the value when it is at most qwMax; false
// (qwValue untouched) for anything else, also on overflow.
bool ParseDecimal(std::string_view szText, uint64_t qwMax, uint64_t& qwValue);

// Decimal, or hex after a 0x/0X prefix (at most 16 digits). True with the
// value when it is at most qwMax; false (qwValue untouched) otherwise.
bool ParseNumber(std::string_view szText, uint64_t qwMax, uint64_t& qwValue);

// Exactly 2 * nBytes hex digits into nBytes bytes, first digit high. False
// (pOut untouched) for any other length or character.
bool ParseHexBytes(std::string_view szText, uint8_t* pOut, size_t nBytes);

}  // namespace qrt::diag
