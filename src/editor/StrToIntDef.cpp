#include "StrToIntDef.h"

namespace qrt::editor {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseHexUInt32(std::string_view szText, uint32_t& dwValue) {
  if (szText.empty()) return false;
  uint64_t qwValue = 0;
  for (char c : szText) {
    const int nDigit = HexDigit(c);
    if (nDigit < 0) return false;
    qwValue = qwValue * 16 + static_cast<uint64_t>(nDigit);
    if (qwValue > 0xFFFFFFFFull) return false;
  }
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
  if (szText.empty()) return nDefault;
  int64_t qnValue = 0;
  for (char c : szText) {
    if (c < '0' || c > '9') return nDefault;
    qnValue = qnValue * 10 + (c - '0');
    if (qnValue > 0x80000000ll) return nDefault;
  }
  if (bNegative) qnValue = -qnValue;
  if (qnValue > 0x7FFFFFFFll || qnValue < -0x80000000ll) return nDefault;
  return static_cast<int32_t>(qnValue);
}

}  // namespace qrt::editor
