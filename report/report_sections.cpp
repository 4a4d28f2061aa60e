#include "report/report_sections.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernels/block_read_features.h"
#include "kernels/latency_probe.h"
#include "workers/cache_analysis.h"
#include "startup/cache_description.h"
#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

template <std::size_t N>
std::vector<std::uint64_t> entries(const std::atomic<u32> (&curve)[N], std::size_t from,
                                   std::size_t to) {
  std::vector<std::uint64_t> out;
  for (std::size_t i = from; i < to; ++i) out.push_back(curve[i].load());
  return out;
}

void writeCurveSet(JsonWriter& json, const char* key, const RamCurveSet& curves,
                   const bool (&blocks)[RAM_BLOCK_KINDS]) {
  json.beginObject(key);
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
    const std::string name = std::to_string(RAM_BLOCK_BYTES[b]);
    if (blocks[b]) {
      json.array(name, entries(curves[b], 0, RAM_CURVE_ENTRIES));
    } else {
      json.null(name);
    }
  }
  json.endObject();
}

}  // namespace

int blockIndex(u32 block) {
  for (int b = 0; b < RAM_BLOCK_KINDS - 1; ++b) {
    if (block == RAM_BLOCK_BYTES[b]) return b;
  }
  return RAM_BLOCK_KINDS - 1;
}

u32 measuredPoints(const CacheCurve& curve) {
  u32 n = 0;
  while (n < CACHE_POINTS && curve[n].load() != NO_POINT) ++n;
  return n;
}

void writeCacheSection(JsonWriter& json, const std::map<u32, std::string>& fields) {
  json.beginObject("cache")
      .value("readMode", u32{bench.readMode})
      .value("readWidthBits", readWidthBits(bench.readMode))
      .value("fillMode", u32{bench.fillMode})
      .value("lineSize", std::int64_t{bench.lineSize})
      .value("cacheMax", bench.cacheMax.load())
      .value("l1Size", bench.l1Size.load())
      .value("l2Speed", bench.l2Speed.load())
      .value("l2ProbeSize", bench.l2ProbeSize.load())
      .value("l1Source", edgeSourceName(static_cast<EdgeSource>(bench.l1EdgeSource.load())))
      .value("l2Source", edgeSourceName(static_cast<EdgeSource>(bench.l2EdgeSource.load())));
  json.beginArray("points");
  for (u32 i = 0; i < CACHE_POINTS; ++i) {
    json.beginObject()
        .value("index", i)
        .value("blockBytes", sweepBlockSize(i))
        .value("nominalBytes", curvePointSize(i))
        .value("dataKiBps", bench.dcacheCurve[i].load())
        .value("codeKiBps", bench.icacheCurve[i].load())
        .value("latencyTicksX256", bench.latencyCurve[i].load())
        .value("latencyPs", latencyPicoseconds(bench.latencyCurve[i].load(), bench.tscRate.load()))
        .endObject();
  }
  json.endArray();
  json.array("dataTail", entries(bench.dcacheCurve, CACHE_POINTS, CACHE_CURVE_ENTRIES));
  json.array("codeTail", entries(bench.icacheCurve, CACHE_POINTS, CACHE_CURVE_ENTRIES));
  json.beginObject("fields");
  for (const auto& [id, text] : fields) json.value(std::to_string(id), text);
  json.endObject();
  json.endObject();
}

void writeCaches(JsonWriter& json, const CacheList& caches) {
  static const char* const TYPES[] = {"none", "data", "instruction", "unified"};
  static const char* const SOURCES[] = {"none", "leaf 4", "leaf 0x8000001D",
                                        "leaves 0x80000005 and 0x80000006"};
  json.beginArray("caches");
  for (u32 i = 0; i < caches.count && i < MAX_CACHE_LEVELS; ++i) {
    const CacheLevelInfo& level = caches.levels[i];
    json.beginObject()
        .value("level", u32{level.level})
        .value("type", level.type <= CACHE_UNIFIED ? TYPES[level.type] : "other")
        .value("sizeBytes", level.sizeBytes)
        .value("lineBytes", level.lineBytes)
        .value("ways", level.ways)
        .value("sharing", level.sharing)
        .endObject();
  }
  json.endArray();
  json.value("cacheSource",
             caches.source <= CACHES_FROM_LEGACY_LEAVES ? SOURCES[caches.source] : "other");
  json.value("largestCacheBytes", largestCacheBytes(caches));
}

void writeRamSpan(JsonWriter& json) {
  const u32 span = bench.ramSpanBytes.load();
  json.beginObject("ramSpan")
      .value("spanBytes", span)
      .value("testAreaBytes", bench.testAreaBytes.load())
      .value("coldWalks", span > RAM_WINDOW_BYTES)
      .value("clflushBytes", bench.clflushBytes.load())
      .value("coldReadKiBps", bench.ramReadSpeed.load())
      .endObject();
}

void writeRamSection(JsonWriter& json, bool read, bool write,
                     const bool (&blocks)[RAM_BLOCK_KINDS]) {
  json.beginObject("ram").value("readMax", bench.readMax.load()).value("writeMax",
                                                                      bench.writeMax.load());
  if (read) writeCurveSet(json, "read", bench.readCurves, blocks);
  if (write) {
    writeCurveSet(json, "write", bench.writeCurves, blocks);
    writeCurveSet(json, "writeMmx", bench.writeMmxCurves, blocks);
  }
  json.endObject();
}

}  // namespace vardelo
