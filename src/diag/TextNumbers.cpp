#include "TextNumbers.h"

namespace qrt::diag {

namespace {

bool HasHexPrefix(std::string_view s) {
  return s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseHexDigits(std::string_view szText, size_t nMaxDigits, uint64_t qwMax,
                    uint64_t& qwValue) {
  // More than 16 digits could overflow the 64-bit sum.
  if (szText.empty() || szText.size() > nMaxDigits || szText.size() > 16) return false;
  uint64_t qw = 0;
  for (const char c : szText) {
    const int d = HexDigitValue(c);
    if (d < 0) return false;
    qw = qw << 4 | static_cast<uint64_t>(d);
  }
  if (qw > qwMax) return false;
  qwValue = qw;
  return true;
}

bool ParseHex(std::string_view szText, uint32_t dwMax, uint32_t& dwValue) {
  if (HasHexPrefix(szText)) szText.remove_prefix(2);
  uint64_t qw = 0;
  if (!ParseHexDigits(szText, 8, dwMax, qw)) return false;
  dwValue = static_cast<uint32_t>(qw);
  return true;
}

bool ParseDecimal(std::string_view szText, uint64_t qwMax, uint64_t& qwValue) {
  if (szText.empty()) return false;
  uint64_t qw = 0;
  for (const char c : szText) {
    if (c < '0' || c > '9') return false;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (qw > (UINT64_MAX - d) / 10) return false;
    qw = qw * 10 + d;
  }
  if (qw > qwMax) return false;
  qwValue = qw;
  return true;
}

bool ParseNumber(std::string_view szText, uint64_t qwMax, uint64_t& qwValue) {
  if (HasHexPrefix(szText)) return ParseHexDigits(szText.substr(2), 16, qwMax, qwValue);
  return ParseDecimal(szText, qwMax, qwValue);
}

bool ParseHexBytes(std::string_view szText, uint8_t* pOut, size_t nBytes) {
  if (szText.size() / 2 != nBytes || szText.size() % 2 != 0) return false;
  for (const char c : szText) {
    if (HexDigitValue(c) < 0) return false;
  }
  for (size_t i = 0; i < nBytes; ++i) {
    pOut[i] = static_cast<uint8_t>(HexDigitValue(szText[2 * i]) << 4 |
                                   HexDigitValue(szText[2 * i + 1]));
  }
  return true;
}

}  // namespace qrt::diag
