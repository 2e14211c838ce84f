#include "StrToIntDef.h"

#include "TextNumbers.h"

namespace qrt::editor {

bool ParseHexUInt32(std::string_view szText, uint32_t& dwValue) {
  uint64_t qwValue = 0;
  if (!qrt::diag::ParseHexDigits(szText, 8, 0xFFFFFFFFu, qwValue)) return false;
  dwValue = static_cast<uint32_t>(qwValue);
  return true;
}

int32_t StrToIntDef(std::string_view szText, int32_t nDefault) {
  // Leading blanks are accepted, as the toolkit's conversion does.
  while (!szText.empty() && szText.front() == ' ') szText.remove_prefix(1);
  if (szText.empty()) return nDefault;
  if (szText.front() == '$') {
    uint32_t dwValue = 0;
    if (!ParseHexUInt32(szText.substr(1), dwValue)) return nDefault;
    return static_cast<int32_t>(dwValue);
  }
  bool bNegative = false;
  if (szText.front() == '-' || szText.front() == '+') {
    bNegative = szText.front() == '-';
    szText.remove_prefix(1);
  }
  uint64_t qwValue = 0;
  if (!qrt::diag::ParseDecimal(szText, 0x80000000ull, qwValue)) return nDefault;
  int64_t qnValue = static_cast<int64_t>(qwValue);
  if (bNegative) qnValue = -qnValue;
  if (qnValue > 0x7FFFFFFFll || qnValue < -0x80000000ll) return nDefault;
  return static_cast<int32_t>(qnValue);
}

}  // namespace qrt::editor
