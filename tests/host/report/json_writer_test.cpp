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
            "    \"delta\": -3\n"
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
