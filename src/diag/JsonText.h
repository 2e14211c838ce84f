#pragma once
// The one writer of every JSON document the programs print or log. Text in
// them comes from outside (file names, environment values, board paths) and
// need not be UTF-8; a JSON document must be. Each byte that is not part of a
// well-formed UTF-8 sequence is written as the four characters \xHH (upper
// case), the form C and bash's $'...' take, so a user can still name the
// file; valid text, escape sequences of JSON included, is unchanged.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qrt::diag {

// szText with every byte outside a well-formed UTF-8 sequence (a stray
// continuation byte, an overlong form, a surrogate, a code point above
// U+10FFFF, a cut sequence) as \xHH. Never fails.
std::string EscapeNonUtf8(std::string_view szText);

// The document as text: nIndent spaces per level, or one line for -1.
// Strings and keys go through EscapeNonUtf8 first, so this never throws on
// text and the result is always valid UTF-8.
std::string JsonText(const nlohmann::ordered_json& j, int nIndent = -1);

}  // namespace qrt::diag
