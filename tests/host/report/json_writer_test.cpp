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
TEST(JsonWriter, EscapesQuotesBackslashesAndControlCharacters) {
  JsonWriter json;
  json.beginObject().value("t", "a\"b\\c\n\x01 %").endObject();
  EXPECT_EQ(json.text(), "{\n  \"t\": \"a\\\"b\\\\c\\n\\u0001 %\"\n}");
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
    bench.dcacheCurve[i] = i < CACHE_POINTS ? 1000u + i : NO_POINT;
    bench.icacheCurve[i] = i < CACHE_POINTS ? 2000u + i : NO_POINT;
  }
  JsonWriter json;
  json.beginObject();
  writeCacheSection(json, {{101, "   32K "}});
  json.endObject();
  const std::string& t = json.text();
  EXPECT_NE(t.find("\"index\": 159,\n        \"blockBytes\": 4063232,\n        \"nominalBytes\": 4063232,"
                   "\n        \"dataKiBps\": 1159,\n        \"codeKiBps\": 2159"),
            std::string::npos)
      << t.substr(t.size() - 600);
  EXPECT_NE(t.find("\"dataTail\": [4294967295, 4294967295, 4294967295, 4294967295]"),
            std::string::npos);
  EXPECT_NE(t.find("\"101\": \"   32K \""), std::string::npos);
  EXPECT_EQ(measuredPoints(bench.dcacheCurve), 160u);
  bench.dcacheCurve[7] = NO_POINT;
  EXPECT_EQ(measuredPoints(bench.dcacheCurve), 7u);
  for (auto& e : bench.dcacheCurve) e = 0;
  for (auto& e : bench.icacheCurve) e = 0;
}

}  // namespace
}  // namespace vardelo
