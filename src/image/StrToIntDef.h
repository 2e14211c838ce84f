#pragma once
// Integer parsing of the window's numeric edits: a decimal text, or a
// hexadecimal one when it starts with '$', gives its value; an empty or
// malformed text, or one outside the 32-bit range, gives the default.
#include <cstdint>
#include <string_view>

namespace qrt::editor {

int32_t StrToIntDef(std::string_view szText, int32_t nDefault);

// Reads a whole text of hexadecimal digits (no prefix) into dwValue. Returns
// false, leaving dwValue untouched, for an empty text, any other character or
// a value above 0xFFFFFFFF.
bool ParseHexUInt32(std::string_view szText, uint32_t& dwValue);

}  // namespace qrt::editor
