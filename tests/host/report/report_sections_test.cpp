#include "report/report_sections.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

// The cache section names the load width and which curve showed each edge, and gives every
// point's load latency in 1/256 ticks and in picoseconds (or the unmeasured marker), and the L3
// probe's blocks in the order it measured them.
TEST(ReportSections, CacheSectionNamesTheWidthTheEdgeSourcesAndTheLatency) {
  bench.measuring.readMode = 3;
  CacheFigures figures;
  figures.dcacheSize = figure(32768, FigureSource::Latency);
  figures.l2Size = figure(1 << 20, FigureSource::SweepEnd);
  figures.l3Size = figure(32 << 20, FigureSource::Latency);
  bench.machine.tscRate = 2441406;  // a 2.5 GHz counter
  FarLatencies far;
  far.count = 2;
  far.bytes[0] = 4 << 20;
  far.ticksX256[0] = 256 * 30;  // 12 ns
  far.bytes[1] = 6 << 20;
  far.ticksX256[1] = 256 * 250;  // 100 ns
  bench.results.farLatencies.store(far);
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) bench.results.latencyCurve[i] = NO_POINT;
  bench.results.latencyCurve[159] = 256 * 10;  // ten ticks: 4 ns
  JsonWriter json;
  json.beginObject();
  writeCacheSection(json, figures, {});
  json.endObject();
  const std::string& t = json.text();
  for (const char* expected :
       {"\"readMode\": 3,\n    \"readWidthBits\": 256,", "\"l1Source\": \"latency\",",
        "\"l2Source\": \"none\",", "\"l3Source\": \"latency\",",
        "\"farLatencies\": [\n      {\n        \"blockBytes\": 4194304,\n        "
        "\"latencyTicksX256\": 7680,\n        \"latencyPs\": 12000\n      },\n      {\n"
        "        \"blockBytes\": 6291456,",
        "\"index\": 0,\n        \"blockBytes\": 4608,",
        "\"latencyTicksX256\": 4294967295,\n        \"latencyPs\": 4294967295\n",
        "\"latencyTicksX256\": 2560,\n        \"latencyPs\": 4000\n"}) {
    EXPECT_NE(t.find(expected), std::string::npos) << "missing: " << expected;
  }
  resetBench();
}

TEST(ReportSections, CachesWithTheirTypesSourceAndLargest) {
  CacheList caches{};
  caches.source = CACHES_FROM_LEAF_8000001D;
  caches.count = 3;
  caches.levels[0] = {1, CACHE_DATA, 32768, 64, 8, 1};
  caches.levels[1] = {1, CACHE_INSTRUCTION, 65536, 64, 4, 1};
  caches.levels[2] = {3, CACHE_UNIFIED, 33554432, 64, 0, 16};
  JsonWriter json;
  json.beginObject();
  writeCaches(json, caches);
  json.endObject();
  EXPECT_EQ(json.text(),
            "{\n"
            "  \"caches\": [\n"
            "    {\n"
            "      \"level\": 1,\n"
            "      \"type\": \"data\",\n"
            "      \"sizeBytes\": 32768,\n"
            "      \"lineBytes\": 64,\n"
            "      \"ways\": 8,\n"
            "      \"sharing\": 1\n"
            "    },\n"
            "    {\n"
            "      \"level\": 1,\n"
            "      \"type\": \"instruction\",\n"
            "      \"sizeBytes\": 65536,\n"
            "      \"lineBytes\": 64,\n"
            "      \"ways\": 4,\n"
            "      \"sharing\": 1\n"
            "    },\n"
            "    {\n"
            "      \"level\": 3,\n"
            "      \"type\": \"unified\",\n"
            "      \"sizeBytes\": 33554432,\n"
            "      \"lineBytes\": 64,\n"
            "      \"ways\": 0,\n"
            "      \"sharing\": 16\n"
            "    }\n"
            "  ],\n"
            "  \"cacheSource\": \"leaf 0x8000001D\",\n"
            "  \"largestCacheBytes\": 33554432\n"
            "}");
}

TEST(ReportSections, NoCachesDescribed) {
  JsonWriter json;
  json.beginObject();
  writeCaches(json, CacheList{});
  json.endObject();
  EXPECT_EQ(json.text(),
            "{\n"
            "  \"caches\": [],\n"
            "  \"cacheSource\": \"none\",\n"
            "  \"largestCacheBytes\": 0\n"
            "}");
}

TEST(ReportSections, BuildNamedBySystemAndWidth) {
  EXPECT_STREQ(buildName(true, 4), "win32-x86");
  EXPECT_STREQ(buildName(false, 8), "linux-x86_64");
  EXPECT_STREQ(buildName(true, 8), "win64-x86_64");
  EXPECT_STREQ(buildName(false, 4), "linux-x86");
  // The host tests run as a 64-bit Linux program, as the native report does.
  JsonWriter json;
  json.beginObject();
  writeBuild(json);
  json.endObject();
  EXPECT_EQ(json.text(), "{\n  \"build\": \"linux-x86_64\"\n}");
}

}  // namespace
}  // namespace vardelo
