#include "report/report_sections.h"

#include <gtest/gtest.h>

namespace vardelo {
namespace {

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

}  // namespace
}  // namespace vardelo
