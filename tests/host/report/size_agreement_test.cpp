#include "report/size_agreement.h"

#include <gtest/gtest.h>

namespace vardelo {
namespace {

CacheList zen3() {
  CacheList c{};
  c.source = CACHES_FROM_LEAF_8000001D;
  c.count = 4;
  c.levels[0] = {1, CACHE_DATA, 32768, 64, 8, 2};
  c.levels[1] = {1, CACHE_INSTRUCTION, 32768, 64, 8, 2};
  c.levels[2] = {2, CACHE_UNIFIED, 524288, 64, 8, 2};
  c.levels[3] = {3, CACHE_UNIFIED, 33554432, 64, 16, 16};
  return c;
}

// Sizes and lines agree with the described ones as they are, powers of two or not; the L3 to
// whole MiB. The order is the page's: I-cache, D-cache, L2, L3, L2 line, RAM line.
TEST(SizeAgreement, EachDerivedSizeIsSetBesideItsLevel) {
  CacheList caches = zen3();
  caches.levels[0].sizeBytes = 48 * 1024;
  caches.levels[2].sizeBytes = 1280 * 1024;
  const std::map<u32, std::string> fields{{100, "  16K "},  {101, "  48K "}, {102, " 1024K "},
                                          {103, "   16M "}, {122, "-"},      {124, "128byts"}};
  CacheFigures figures;
  figures.icacheSize = figure(16384, FigureSource::Bandwidth);
  figures.dcacheSize = figure(49152, FigureSource::Latency);
  figures.l2Size = figure(1048576, FigureSource::Latency);    // an edge the curve left unclear
  figures.l3Size = figure(16u << 20, FigureSource::Latency);  // a guest gets half the L3
  figures.l2Line = figure(8, FigureSource::LineProbe);        // shown as "-": no line
  figures.ramLine = figure(128, FigureSource::LineProbe);
  const auto sizes = compareDerivedSizes(figures, fields, caches);
  ASSERT_EQ(sizes.size(), 6u);
  EXPECT_STREQ(sizes[0].name, "icache");
  EXPECT_EQ(sizes[0].expectedBytes, 32768u);
  EXPECT_EQ(sizes[0].derivedBytes, 16384u);
  EXPECT_EQ(sizes[1].describedBytes, 48u * 1024);
  EXPECT_EQ(sizes[1].expectedBytes, 48u * 1024);
  EXPECT_EQ(sizes[1].derivedBytes, 48u * 1024);
  EXPECT_EQ(sizes[2].shown, "1024K");
  EXPECT_EQ(sizes[2].expectedBytes, 1280u * 1024);
  EXPECT_STREQ(sizes[3].name, "l3");
  EXPECT_EQ(sizes[3].shown, "16M");
  EXPECT_EQ(sizes[3].derivedBytes, 16u << 20);
  EXPECT_EQ(sizes[3].describedBytes, 32u << 20);
  EXPECT_EQ(sizes[3].expectedBytes, 32u << 20);
  EXPECT_EQ(sizes[4].derivedBytes, 0u);
  EXPECT_EQ(sizes[4].expectedBytes, 64u);
  EXPECT_EQ(sizes[5].derivedBytes, 128u);
  EXPECT_EQ(sizes[5].expectedBytes, 64u);  // the largest level's line

  JsonWriter json;
  json.beginObject();
  writeDerivedSizes(json, sizes);
  json.endObject();
  const std::string& t = json.text();
  const auto agrees = [&](const char* name) {
    const auto at = t.find(std::string("\"name\": \"") + name + "\"");
    return t.substr(t.find("\"agrees\": ", at) + 10, 4);
  };
  EXPECT_EQ(agrees("icache"), "fals");
  EXPECT_EQ(agrees("dcache"), "true");
  EXPECT_EQ(agrees("l2"), "fals");
  EXPECT_EQ(agrees("l3"), "fals");
  EXPECT_EQ(agrees("l2Line"), "null");  // no figure shown
  EXPECT_EQ(agrees("ramLine"), "fals");
}

// An emulator that describes no caches, and a page whose sweep never ran: nothing to compare.
TEST(SizeAgreement, UnknownOnEitherSideIsNull) {
  CacheFigures figures;
  figures.dcacheSize = figure(32768, FigureSource::Bandwidth);
  const auto none = compareDerivedSizes(figures, {{101, "  32K "}}, CacheList{});
  EXPECT_EQ(none[1].expectedBytes, 0u);
  EXPECT_EQ(none[1].derivedBytes, 32768u);
  const auto unshown = compareDerivedSizes(CacheFigures{}, {}, zen3());
  JsonWriter json;
  json.beginObject();
  writeDerivedSizes(json, none);
  writeDerivedSizes(json, unshown);
  json.endObject();
  EXPECT_EQ(json.text().find("\"agrees\": true"), std::string::npos);
  EXPECT_EQ(json.text().find("\"agrees\": false"), std::string::npos);
}

// An L3 of a size that is no power of two is expected as CPUID gives it, to whole MiB.
TEST(SizeAgreement, AnL3OfThirtySixMiBAgreesAsItIs) {
  CacheList caches = zen3();
  caches.levels[3].sizeBytes = 36u << 20;
  CacheFigures figures;
  figures.l3Size = figure(36u << 20, FigureSource::Latency);
  const auto sizes = compareDerivedSizes(figures, {{103, "   36M "}}, caches);
  EXPECT_EQ(sizes[3].expectedBytes, 36u << 20);
  EXPECT_EQ(sizes[3].derivedBytes, sizes[3].expectedBytes);
}

}  // namespace
}  // namespace vardelo
