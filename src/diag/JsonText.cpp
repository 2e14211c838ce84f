#include "JsonText.h"

#include <cstdint>
#include <cstdio>

namespace qrt::diag {

namespace {

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none
// (the table of well-formed byte sequences of the Unicode standard).
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t c = at(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  uint8_t btLow = 0x80, btHigh = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) btLow = 0xA0;   // overlong
    if (c == 0xED) btHigh = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) btLow = 0x90;   // overlong
    if (c == 0xF4) btHigh = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() - i < n || at(i + 1) < btLow || at(i + 1) > btHigh) return 0;
  for (size_t k = 2; k < n; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
  }
  return n;
}

nlohmann::ordered_json Escaped(const nlohmann::ordered_json& j) {
  if (j.is_string()) return EscapeNonUtf8(j.get_ref<const std::string&>());
  if (j.is_array()) {
    nlohmann::ordered_json a = nlohmann::ordered_json::array();
    for (const auto& item : j) a.push_back(Escaped(item));
    return a;
  }
  if (j.is_object()) {
    nlohmann::ordered_json o = nlohmann::ordered_json::object();
    for (const auto& [szKey, value] : j.items()) o[EscapeNonUtf8(szKey)] = Escaped(value);
    return o;
  }
  return j;
}

}  // namespace

std::string EscapeNonUtf8(std::string_view szText) {
  std::string s;
  s.reserve(szText.size());
  for (size_t i = 0; i < szText.size();) {
    const size_t n = Utf8SequenceLength(szText, i);
    if (n > 0) {
      s.append(szText.substr(i, n));
      i += n;
      continue;
    }
    char sz[8];
    std::snprintf(sz, sizeof sz, "\\x%.2X", static_cast<uint8_t>(szText[i]));
    s += sz;
    ++i;
  }
  return s;
}

std::string JsonText(const nlohmann::ordered_json& j, int nIndent) {
  // The escape leaves nothing for the handler to meet; replace only keeps a
  // missed case from ending the program.
  return Escaped(j).dump(nIndent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace qrt::diag
