#include "JsonText.h"

#include "TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace qrt::diag {

namespace {

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
