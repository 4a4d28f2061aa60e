#include "core/text_1251.h"

#include <gtest/gtest.h>

#include <string>

namespace vardelo {
namespace {

std::u16string convert(const char* text) {
  char16_t out[64];
  const std::size_t n = toUtf16From1251(text, out, 64);
  return std::u16string(out, n);
}

TEST(Text1251, ProgramTextsAndTableEdgesReadAsTheirLetters) {
  struct Case {
    const char* bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {"Cache Speed ", u"Cache Speed "},
      {"\xF4\xE8\xEB\xFC\xF2\xF0 4", u"фильтр 4"},
      {"\xF4\xE8\xEB\xFC\xF2\xF0 --", u"фильтр --"},
      {"\xEE\xE1\xED\xEE\xE2\xE8\xF2\xFC", u"обновить"},
      {"AMD (F\xB7" "6B\xB7" "2)", u"AMD (F·6B·2)"},
      {"\xC0\xDF\xE0\xFF", u"АЯая"},        // ends of the run U+0410..U+044F
      {"\xA8\xB8\xAA\xBA", u"ЁёЄє"},        // letters outside the run
      {"\x80\x88\x96\x99\xB9", u"Ђ€–™№"},  // punctuation and signs
      {"\xA0\xBF\x7F", u"\u00A0ї\u007F"},   // last bytes before and in the table, 7-bit kept
      {"\x98", u"\u0098"},                  // the byte the code page leaves undefined
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert(c.bytes), c.expected) << "bytes \"" << c.bytes << "\"";
  }
}

TEST(Text1251, CutsAtCapacityLengthOrNul) {
  struct Case {
    const char* name;
    const char* text;
    std::size_t length;  // bytes offered
    std::size_t cap;     // code units of room, NUL included
    std::u16string expected;
  };
  const std::size_t whole = static_cast<std::size_t>(-1);
  const Case cases[] = {
      {"fits", "\xF4\xE8\xEB", whole, 4, u"фил"},
      {"one short of room", "\xF4\xE8\xEB", whole, 3, u"фи"},
      {"room for the NUL only", "abc", whole, 1, u""},
      {"length limit", "abcdef", 4, 16, u"abcd"},
      {"NUL before the length limit", "ab", 25, 16, u"ab"},
      {"nothing offered", "abc", 0, 16, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char16_t out[16];
    for (char16_t& unit : out) unit = u'#';
    const std::size_t n = toUtf16From1251(c.text, c.length, out, c.cap);
    EXPECT_EQ(std::u16string(out, n), c.expected);
    EXPECT_EQ(out[n], u'\0');  // terminated right after the text
  }
  char16_t untouched = u'#';
  EXPECT_EQ(toUtf16From1251("abc", &untouched, 0), 0u);
  EXPECT_EQ(untouched, u'#');  // no room: nothing written, not even the NUL
}

}  // namespace
}  // namespace vardelo
