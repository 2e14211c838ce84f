#pragma once
// Text from outside (file names, device strings, process names, strings of
// an image) on its way to a terminal: a control character in it could move
// the cursor, retitle the window or clear the screen, so none goes out raw.
#include <cstdint>
#include <string>
#include <string_view>

namespace qrt::diag {

// Length of the well-formed UTF-8 sequence at s[i] (i < size): 1 for ASCII,
// 2 to 4, or 0 when none starts there (overlong forms, surrogates, values
// above U+10FFFF and cut sequences are not well-formed).
size_t Utf8SequenceLength(std::string_view s, size_t i);

// szText with every control character escaped: \n, \r and \t; \xNN for the
// other C0 controls and DEL; \u0080-\u009F for the C1 controls (UTF-8 C2 80
// to C2 9F); and \xNN for each byte that is not part of valid UTF-8 (a lone
// 0x9B is CSI to an 8-bit terminal). Everything else, other UTF-8
// characters included, stays. With bQuoted, '"' and '\' are escaped too,
// for text shown between double quotes.
std::string EscapeControls(std::string_view szText, bool bQuoted = false);

// The SGR sequence that sets the background to the 256-colour palette entry
// nearest to 0xRRGGBB with black text on it, and the one that ends it.
std::string BackgroundColour(uint32_t dwRgb);
inline constexpr char kColourReset[] = "\x1b[0m";

}  // namespace qrt::diag
