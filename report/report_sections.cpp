#include "report/report_sections.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernels/block_read_features.h"
#include "kernels/latency_probe.h"
#include "workers/cache_analysis.h"
#include "startup/cache_description.h"
#include "ui/ram_charts.h"
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

void writeFigure(JsonWriter& json, const char* name, const char* unit, const Figure& f) {
  if (!f.isSet()) {
    json.null(name);
    return;
  }
  json.beginObject(name)
      .value(unit, f.value)
      .value("source", figureSourceName(f.source))
      .endObject();
}

// The name the report has always given the curve an edge came from.
const char* edgeName(const Figure& f) {
  switch (f.source) {
    case FigureSource::Bandwidth: return "bandwidth";
    case FigureSource::Latency: return "latency";
    default: return "none";
  }
}

void writeStatsSet(JsonWriter& json, const char* key,
                   const SharedRamStats (&stats)[RAM_BLOCK_KINDS],
                   const bool (&blocks)[RAM_BLOCK_KINDS]) {
  json.beginObject(key);
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
    const std::string name = std::to_string(RAM_BLOCK_BYTES[b]);
    const RamCurveStats s = stats[b].load();
    if (!blocks[b] || s.points == 0) {
      json.null(name);
      continue;
    }
    json.beginObject(name)
        .value("points", s.points)
        .value("minKiBps", s.minKiBps)
        .value("maxKiBps", s.maxKiBps)
        .value("averageKiBps", s.averageKiBps);
    if (s.linearKiBps == NO_POINT) {
      json.null("linearKiBps").null("ratioPercent");
    } else {
      json.value("linearKiBps", s.linearKiBps).value("ratioPercent", ratioPercent(s));
    }
    json.endObject();
  }
  json.endObject();
}

// The combined figure of one kind, from the averages its page shows (MiB/s).
u32 combinedOf(const SharedRamStats (&stats)[RAM_BLOCK_KINDS]) {
  u32 averages[RAM_BLOCK_KINDS] = {};
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) averages[b] = stats[b].load().averageKiBps / 1024;
  return combinedFigure(averages);
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

void writeFigures(JsonWriter& json, const CacheFigures& f) {
  json.beginObject("figures");
  for (const CacheFigureField& field : CACHE_FIGURE_FIELDS) {
    writeFigure(json, field.name, field.unit, f.*field.member);
  }
  json.endObject();
}

void writeCacheSection(JsonWriter& json, const CacheFigures& figures,
                       const std::map<u32, std::string>& fields) {
  const CacheLevels levels = levelsOf(figures);
  json.beginObject("cache")
      .value("readMode", u32{bench.measuring.readMode})
      .value("readWidthBits", readWidthBits(bench.measuring.readMode))
      .value("fillMode", u32{bench.measuring.fillMode})
      .value("lineSize", std::int64_t{bench.measuring.lineSize})
      .value("cacheMax", bench.results.cacheMax.load())
      .value("l1Size", levels.l1Size)
      .value("l2Speed", levels.l2Speed)
      .value("l2ProbeSize", levels.l2ProbeSize)
      .value("l1Source", edgeName(figures.dcacheSize))
      .value("l2Source", edgeName(figures.l2Size))
      .value("l3Source", edgeName(figures.l3Size));
  json.beginArray("points");
  for (u32 i = 0; i < CACHE_POINTS; ++i) {
    json.beginObject()
        .value("index", i)
        .value("blockBytes", sweepBlockSize(i))
        .value("nominalBytes", curvePointSize(i))
        .value("dataKiBps", bench.results.dcacheCurve[i].load())
        .value("codeKiBps", bench.results.icacheCurve[i].load())
        .value("latencyTicksX256", bench.results.latencyCurve[i].load())
        .value("latencyPs", latencyPicoseconds(bench.results.latencyCurve[i].load(),
                                               bench.machine.tscRate.load()))
        .endObject();
  }
  json.endArray();
  // The L3 probe's blocks beyond the sweep, in the order it measured them.
  const FarLatencies far = bench.results.farLatencies.load();
  json.beginArray("farLatencies");
  for (u32 i = 0; i < far.count && i < FAR_LATENCY_POINTS; ++i) {
    json.beginObject()
        .value("blockBytes", far.bytes[i])
        .value("latencyTicksX256", far.ticksX256[i])
        .value("latencyPs", latencyPicoseconds(far.ticksX256[i], bench.machine.tscRate.load()))
        .endObject();
  }
  json.endArray();
  json.array("dataTail", entries(bench.results.dcacheCurve, CACHE_POINTS, CACHE_CURVE_ENTRIES));
  json.array("codeTail", entries(bench.results.icacheCurve, CACHE_POINTS, CACHE_CURVE_ENTRIES));
  json.beginObject("fields");
  for (const auto& [id, text] : fields) json.value(std::to_string(id), text);
  json.endObject();
  writeFigures(json, figures);
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

const char* buildName(bool windows, unsigned pointerBytes) {
  const bool wide = pointerBytes == 8;
  if (windows) return wide ? "win64-x86_64" : "win32-x86";
  return wide ? "linux-x86_64" : "linux-x86";
}

void writeBuild(JsonWriter& json) {
#ifdef _WIN32
  constexpr bool windows = true;
#else
  constexpr bool windows = false;
#endif
  json.value("build", buildName(windows, sizeof(void*)));
}

void writeRamSpan(JsonWriter& json) {
  const u32 span = bench.machine.ramSpanBytes.load();
  json.beginObject("ramSpan")
      .value("spanBytes", span)
      .value("testAreaBytes", bench.machine.testAreaBytes.load())
      .value("coldWalks", span > RAM_WINDOW_BYTES)
      .value("clflushBytes", bench.machine.clflushBytes.load())
      .value("clflushOpt", bench.machine.clflushOpt.load() != 0)
      .value("coldReadKiBps", bench.measuring.ramReadSpeed.load())
      .endObject();
}

void writeRamSection(JsonWriter& json, bool read, bool write,
                     const bool (&blocks)[RAM_BLOCK_KINDS]) {
  json.beginObject("ram")
      .value("readMax", bench.results.readMax.load())
      .value("writeMax", bench.results.writeMax.load());
  if (read) writeCurveSet(json, "read", bench.results.readCurves, blocks);
  if (write) {
    writeCurveSet(json, "write", bench.results.writeCurves, blocks);
    writeCurveSet(json, "writeMmx", bench.results.writeMmxCurves, blocks);
  }
  json.beginObject("stats");
  if (read) writeStatsSet(json, "read", bench.results.readStats, blocks);
  if (write) {
    writeStatsSet(json, "write", bench.results.writeStats, blocks);
    writeStatsSet(json, "writeMmx", bench.results.writeMmxStats, blocks);
  }
  json.endObject();
  json.beginObject("combinedMiBps");
  if (read) json.value("read", combinedOf(bench.results.readStats));
  if (write) {
    json.value("write", combinedOf(bench.results.writeStats));
    json.value("writeMmx", combinedOf(bench.results.writeMmxStats));
  }
  json.endObject();
  json.endObject();
}

}  // namespace vardelo
