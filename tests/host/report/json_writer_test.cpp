#include "report/json_writer.h"

#include <gtest/gtest.h>

#include "report/emulation.h"

namespace vardelo {
namespace {

TEST(JsonWriter, NestsObjectsAndArraysWithCommasAndIndentation) {
  JsonWriter json;
  json.beginObject()
      .value("name", "cache")
      .value("points", 160)
      .beginObject("cpu")
      .value("mmx", true)
      .value("delta", std::int64_t{-3})
      .value("seconds", 12.34)
      .endObject()
      .array("curve", {1, 2, 4294967295u})
      .beginArray("empty")
      .endArray()
      .endObject();
  EXPECT_EQ(json.text(),
            "{\n"
            "  \"name\": \"cache\",\n"
            "  \"points\": 160,\n"
            "  \"cpu\": {\n"
            "    \"mmx\": true,\n"
            "    \"delta\": -3,\n"
            "    \"seconds\": 12.3\n"
            "  },\n"
            "  \"curve\": [1, 2, 4294967295],\n"
            "  \"empty\": []\n"
            "}");
}

// Field texts carry blanks, percent signs and code-page bytes; brand strings may carry anything.
// Seconds are written with one decimal; a hair below zero (two clock readings subtracted) is 0.0.
TEST(JsonWriter, SecondsWithOneDecimalAndNoNegativeZero) {
  JsonWriter json;
  json.beginObject().value("a", 12.34).value("b", -0.01).value("c", -1.5).endObject();
  EXPECT_EQ(json.text(), "{\n  \"a\": 12.3,\n  \"b\": 0.0,\n  \"c\": -1.5\n}");
}

TEST(JsonWriter, EscapesQuotesBackslashesAndControlCharacters) {
  JsonWriter json;
  json.beginObject().value("t", "a\"b\\c\n\x01 %").endObject();
  EXPECT_EQ(json.text(), "{\n  \"t\": \"a\\\"b\\\\c\\n\\u0001 %\"\n}");
}

// The page texts are code page 1251: "обновить", "фильтр 4", "Чтение блока:" and the page's
// remark. Written as they are, their bytes would not be UTF-8 and a strict parser would refuse
// the whole report.
TEST(JsonWriter, CodePageTextsBecomeEscapedCharacters) {
  const struct {
    const char* text;
    const char* json;
  } cases[] = {
      {"\xEE\xE1\xED\xEE\xE2\xE8\xF2\xFC",
       "\\u043e\\u0431\\u043d\\u043e\\u0432\\u0438\\u0442\\u044c"},
      {"\xF4\xE8\xEB\xFC\xF2\xF0 4", "\\u0444\\u0438\\u043b\\u044c\\u0442\\u0440 4"},
      {"\xD7\xF2\xE5\xED\xE8\xE5 \xE1\xEB\xEE\xEA\xE0:",
       "\\u0427\\u0442\\u0435\\u043d\\u0438\\u0435 \\u0431\\u043b\\u043e\\u043a\\u0430:"},
      {"* - \xE4\xE0\xED\xED\xFB\xE5", "* - \\u0434\\u0430\\u043d\\u043d\\u044b\\u0435"},
      // The ends of the code page: А and я, Ё and ё, №, the euro sign, the one undefined byte.
      {"\xC0\xFF\xA8\xB8\xB9\x88\x98", "\\u0410\\u044f\\u0401\\u0451\\u2116\\u20ac\\u0098"},
      {"\x7F~", "\x7F~"},  // DEL is ASCII and needs no escape in JSON
  };
  for (const auto& c : cases) {
    JsonWriter json;
    json.beginObject().value("t", c.text).endObject();
    EXPECT_EQ(json.text(), std::string("{\n  \"t\": \"") + c.json + "\"\n}") << c.json;
    for (unsigned char byte : json.text()) ASSERT_LT(byte, 0x80) << c.json;
  }
}

TEST(Emulation, FlagsEmulatedProcessorsOnly) {
  EXPECT_TRUE(looksEmulated("QEMU Virtual CPU version 2.5+", ""));
  EXPECT_TRUE(looksEmulated("AMD EPYC 7B13", "emulated"));
  EXPECT_FALSE(looksEmulated("AMD EPYC 7B13", "native"));
  EXPECT_FALSE(looksEmulated("", ""));
}

}  // namespace
}  // namespace vardelo

#include "report/report_sections.h"

namespace vardelo {
namespace {

// The cache section lists 160 points with their block sizes and keeps the unmeasured tail.
TEST(ReportSections, CacheSectionCarriesEveryPointAndTheTail) {
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) {
    bench.results.dcacheCurve[i] = i < CACHE_POINTS ? 1000u + i : NO_POINT;
    bench.results.icacheCurve[i] = i < CACHE_POINTS ? 2000u + i : NO_POINT;
  }
  JsonWriter json;
  json.beginObject();
  writeCacheSection(json, CacheFigures{}, {{101, "   32K "}});
  json.endObject();
  const std::string& t = json.text();
  EXPECT_NE(t.find("\"index\": 159,\n        \"blockBytes\": 4063232,\n        \"nominalBytes\": 4063232,"
                   "\n        \"dataKiBps\": 1159,\n        \"codeKiBps\": 2159"),
            std::string::npos)
      << t.substr(t.size() - 600);
  EXPECT_NE(t.find("\"dataTail\": [4294967295, 4294967295, 4294967295, 4294967295]"),
            std::string::npos);
  EXPECT_NE(t.find("\"101\": \"   32K \""), std::string::npos);
  EXPECT_EQ(measuredPoints(bench.results.dcacheCurve), 160u);
  bench.results.dcacheCurve[7] = NO_POINT;
  EXPECT_EQ(measuredPoints(bench.results.dcacheCurve), 7u);
  for (auto& e : bench.results.dcacheCurve) e = 0;
  for (auto& e : bench.results.icacheCurve) e = 0;
}

}  // namespace
}  // namespace vardelo
