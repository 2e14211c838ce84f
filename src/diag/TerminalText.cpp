#include "TerminalText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace qrt::diag {
namespace {

void AppendCode(std::string& s, const char* pszFormat, unsigned nCode) {
  char sz[8];
  std::snprintf(sz, sizeof sz, pszFormat, nCode);
  s += sz;
}

}  // namespace

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

std::string EscapeControls(std::string_view szText, bool bQuoted) {
  std::string s;
  s.reserve(szText.size());
  for (size_t n = 0; n < szText.size();) {
    const unsigned char c = static_cast<unsigned char>(szText[n]);
    if (c >= 0x80) {
      const size_t nLength = Utf8SequenceLength(szText, n);
      if (nLength == 0) {
        AppendCode(s, "\\x%.2X", c);
        ++n;
      } else if (c == 0xC2 && static_cast<unsigned char>(szText[n + 1]) <= 0x9F) {
        AppendCode(s, "\\u%.4X", static_cast<unsigned char>(szText[n + 1]));
        n += 2;
      } else {
        s.append(szText, n, nLength);
        n += nLength;
      }
      continue;
    }
    ++n;
    switch (c) {
      case '\n':
        s += "\\n";
        break;
      case '\r':
        s += "\\r";
        break;
      case '\t':
        s += "\\t";
        break;
      case '"':
      case '\\':
        if (bQuoted) s += '\\';
        s += static_cast<char>(c);
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendCode(s, "\\x%.2X", c);
        } else {
          s += static_cast<char>(c);
        }
    }
  }
  return s;
}

std::string BackgroundColour(uint32_t dwRgb) {
  // The 6x6x6 cube (entries 16-231) and the grey ramp (232-255): the entry
  // whose colour lies nearest.
  static const int kLevels[6] = {0, 95, 135, 175, 215, 255};
  const int rgb[3] = {static_cast<int>(dwRgb >> 16 & 0xFF), static_cast<int>(dwRgb >> 8 & 0xFF),
                      static_cast<int>(dwRgb & 0xFF)};
  const auto distance = [&rgb](int r, int g, int b) {
    return (rgb[0] - r) * (rgb[0] - r) + (rgb[1] - g) * (rgb[1] - g) + (rgb[2] - b) * (rgb[2] - b);
  };
  int nCube[3];
  for (int k = 0; k < 3; ++k) {
    nCube[k] = 0;
    for (int i = 1; i < 6; ++i) {
      if (std::abs(kLevels[i] - rgb[k]) < std::abs(kLevels[nCube[k]] - rgb[k])) nCube[k] = i;
    }
  }
  int nEntry = 16 + 36 * nCube[0] + 6 * nCube[1] + nCube[2];
  int nBest = distance(kLevels[nCube[0]], kLevels[nCube[1]], kLevels[nCube[2]]);
  for (int i = 0; i < 24; ++i) {
    const int v = 8 + 10 * i;
    if (distance(v, v, v) < nBest) {
      nBest = distance(v, v, v);
      nEntry = 232 + i;
    }
  }
  char sz[24];
  std::snprintf(sz, sizeof sz, "\x1b[48;5;%dm\x1b[30m", nEntry);
  return sz;
}

}  // namespace qrt::diag
