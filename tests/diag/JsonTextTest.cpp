// The JSON writer of every printed and logged document: text that is not
// UTF-8 is kept as \xHH escapes, never thrown on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "JsonText.h"

using qrt::diag::EscapeNonUtf8;
using qrt::diag::JsonText;

TEST(JsonText, BytesOutsideUtf8BecomeHexEscapes) {
  struct SCase {
    const char* pszWhat;
    std::string szIn, szOut;
  };
  const SCase cases[] = {
      {"ASCII and escapes of JSON", "a\"b\\c\n", "a\"b\\c\n"},
      {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E", "\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E"},
      {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"a lone byte 0xFF", "x\xFF.bin", "x\\xFF.bin"},
      {"a stray continuation byte", "\x80" "a", "\\x80a"},
      {"overlong slash", "\xC0\xAF", "\\xC0\\xAF"},
      {"overlong three bytes", "\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
      {"a surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
      {"a sequence cut at the end", "a\xE2\x82", "a\\xE2\\x82"},
      {"a sequence cut by ASCII", "\xE2\x82" "b", "\\xE2\\x82b"},
      {"Latin-1 text", "Gr\xFC\xDF" "e", "Gr\\xFC\\xDFe"},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    EXPECT_EQ(EscapeNonUtf8(c.szIn), c.szOut);
    // In a document, as a value and as a key: the text parses back as the escape.
    const nlohmann::ordered_json j = {{"v", c.szIn}, {c.szIn, {c.szIn, 1}}};
    for (const int nIndent : {-1, 2}) {
      const auto back = nlohmann::ordered_json::parse(JsonText(j, nIndent));
      EXPECT_EQ(back["v"], c.szOut);
      EXPECT_EQ(back[c.szOut][0], c.szOut);
    }
  }
  EXPECT_EQ(JsonText({{"a", nullptr}, {"b", 1.5}}), R"({"a":null,"b":1.5})");
}
