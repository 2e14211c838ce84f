// Outside text on its way to a terminal: every control character escaped,
// every other character kept.
#include <gtest/gtest.h>

#include <string>

#include "TerminalText.h"

using qrt::diag::EscapeControls;

TEST(TerminalText, EscapesEveryControlAndKeepsTheRest) {
  struct {
    std::string szIn;
    const char* pszPlain;
    const char* pszQuoted;
  } cases[] = {
      {"sim:1 /dev/hidraw3", "sim:1 /dev/hidraw3", "sim:1 /dev/hidraw3"},
      {"\x1B]0;PWNED\a\x1B[2J", "\\x1B]0;PWNED\\x07\\x1B[2J", "\\x1B]0;PWNED\\x07\\x1B[2J"},
      {"a\nb\rc\td\x7F", "a\\nb\\rc\\td\\x7F", "a\\nb\\rc\\td\\x7F"},
      {"say \"hi\" C:\\x", "say \"hi\" C:\\x", "say \\\"hi\\\" C:\\\\x"},
      // C1 controls as UTF-8 (U+009B is CSI) and alone (8-bit terminals).
      {"\xC2\x9B" "2J \xC2\x80", "\\u009B2J \\u0080", "\\u009B2J \\u0080"},
      {"\x9B" "2J", "\\x9B2J", "\\x9B2J"},
      // Letters beyond ASCII stay: Latin-1, CJK, an emoji.
      {"\xC2\xA0\xC3\xA9 \xE6\x95\xB0 \xF0\x9F\x98\x80", "\xC2\xA0\xC3\xA9 \xE6\x95\xB0 \xF0\x9F\x98\x80",
       "\xC2\xA0\xC3\xA9 \xE6\x95\xB0 \xF0\x9F\x98\x80"},
      // Not UTF-8: overlong, surrogate, cut short, beyond U+10FFFF.
      {"\xC0\x9B|\xED\xA0\x80|\xE6\x95|\xF4\x90\x80\x80",
       "\\xC0\\x9B|\\xED\\xA0\\x80|\\xE6\\x95|\\xF4\\x90\\x80\\x80",
       "\\xC0\\x9B|\\xED\\xA0\\x80|\\xE6\\x95|\\xF4\\x90\\x80\\x80"},
      {std::string("nul\0end", 7), "nul\\x00end", "nul\\x00end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszPlain);
    EXPECT_EQ(EscapeControls(c.szIn), c.pszPlain);
    EXPECT_EQ(EscapeControls(c.szIn, true), c.pszQuoted);
  }
}
