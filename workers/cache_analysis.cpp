#include "workers/cache_analysis.h"

#include <algorithm>

#include "core/processor.h"
#include "platform/platform.h"
#include "workers/cache_edges.h"
#include "workers/cache_geometry.h"

namespace vardelo {

namespace {

constexpr u32 KIB = 1024;

// Speeds are compared as signed numbers so that an unmeasured entry (NO_POINT, -1) loses every
// comparison with a measured one and stops the searches that run into it.
i32 asSigned(u32 v) { return static_cast<i32>(v); }
bool measured(u32 v) { return asSigned(v) >= 0; }

// The peaks are searched over points 0..95, block sizes up to 248 KiB.
constexpr int PEAK_SEARCH_END = 96;

struct Peak {
  u32 speed;
  u32 index;
};

Peak findPeak(const CurveCopy& curve) {
  Peak peak{curve[0], 0};
  for (u32 i = 1; i < PEAK_SEARCH_END; ++i) {
    if (asSigned(curve[i]) > asSigned(peak.speed)) peak = {curve[i], i};
  }
  return peak;
}

// The L1 edge search starts its threshold from entry 8 (6 KiB), which lies inside L1 on every
// data cache the program expects, and takes the figures ten points (about 1.5×) past the first
// point that falls to three quarters of it.
constexpr u32 EDGE_REFERENCE = 8;
constexpr u32 EDGE_SEARCH_END = 136;
constexpr u32 POINTS_PAST_EDGE = 10;

// The code-cache size: the highest point above seven eighths of the peak, searched from the far
// end down to the peak.
u32 codeCacheEdge(const CurveCopy& icache, const Peak& peak) {
  const u32 limit = peak.speed - peak.speed / 8;
  u32 k = CACHE_POINTS - 1;
  while (asSigned(icache[k]) <= asSigned(limit)) {
    --k;
    if (k == peak.index || k == 0) break;
  }
  return k;
}

// The mean of four speeds; the sum wraps in 32 bits like every speed sum of the curves. While the
// sweep stands between the first and the last of the four, an unmeasured entry adds -1 and the
// next run, with the points measured, corrects the figure.
u32 meanOfFour(const CurveCopy& curve, u32 first) {
  return (curve[first] + curve[first + 1] + curve[first + 2] + curve[first + 3]) / 4;
}

}  // namespace

bool deriveCacheLevels(const CurveCopy& dcache, CacheLevels& levels) {
  const u32 reference = dcache[EDGE_REFERENCE];
  // Before entry 8 is measured the threshold is negative and the search runs to its end.
  const u32 threshold = reference - reference / 4;
  u32 edge = EDGE_REFERENCE;
  while (edge < EDGE_SEARCH_END && asSigned(dcache[edge]) > asSigned(threshold)) ++edge;

  const u32 j = edge + POINTS_PAST_EDGE;
  if (!measured(dcache[j])) return false;
  levels.l2Speed = meanOfFour(dcache, j - 1);
  levels.l2ProbeSize = curvePointSize(j);
  levels.l1Size = highestPowerOfTwoNotAbove(levels.l2ProbeSize);
  return true;
}

const char* edgeSourceName(EdgeSource source) {
  switch (source) {
    case EdgeSource::Bandwidth: return "bandwidth";
    case EdgeSource::Latency: return "latency";
    default: return "none";
  }
}

EdgeSource deriveLevels(const CurveCopy& dcache, const CurveCopy& latency, CacheLevels& levels) {
  if (deriveCacheLevelsFromLatency(dcache, latency, levels)) return EdgeSource::Latency;
  if (deriveCacheLevels(dcache, levels)) return EdgeSource::Bandwidth;
  return EdgeSource::None;
}

CacheAnalysis analyseCurves(const CurveCopy& dcache, const CurveCopy& icache, u8 cpuClass,
                            const CacheLevels& previous, u32 mainMemorySpeed) {
  CurveCopy noLatency;
  std::fill(std::begin(noLatency), std::end(noLatency), NO_POINT);
  return analyseCurves(dcache, icache, noLatency, cpuClass, previous, mainMemorySpeed);
}

CacheAnalysis analyseCurves(const CurveCopy& dcache, const CurveCopy& icache,
                            const CurveCopy& latency, u8 cpuClass, const CacheLevels& previous,
                            u32 mainMemorySpeed) {
  CacheAnalysis result{previous, {}};
  FieldUpdates& fields = result.fields;

  const Peak dataPeak = findPeak(dcache);
  if (asSigned(dataPeak.speed) >= asSigned(KIB)) {
    fields.add(FIELD_DCACHE_SPEED, " %6lu ", dataPeak.speed / KIB);
  }

  result.l1Source = deriveLevels(dcache, latency, result.levels);
  if (result.l1Source != EdgeSource::None) {
    if (result.levels.l2Speed / KIB != 0) {
      fields.add(FIELD_L2_SPEED, " %6lu ", result.levels.l2Speed / KIB);
    }
    if (result.levels.l1Size / KIB != 0) {
      fields.add(FIELD_DCACHE_SIZE, " %4luK ", result.levels.l1Size / KIB);
    }
  }

  // Main memory: measured on its own where the caches are large, else the last four points,
  // blocks of 3.5 to 3.875 MiB.
  if (mainMemorySpeed != 0) {
    if (mainMemorySpeed / KIB != 0) fields.add(FIELD_RAM_SPEED, " %5lu ", mainMemorySpeed / KIB);
  } else if (measured(dcache[CACHE_POINTS - 3])) {
    const u32 ramSpeed = meanOfFour(dcache, CACHE_POINTS - 4);
    if (ramSpeed / KIB != 0) fields.add(FIELD_RAM_SPEED, " %5lu ", ramSpeed / KIB);
  }

  const Peak codePeak = findPeak(icache);
  if (asSigned(codePeak.speed) >= asSigned(KIB)) {
    fields.add(FIELD_ICACHE_SPEED, " %6lu ", codePeak.speed / KIB);
  }

  const u32 k = codeCacheEdge(icache, codePeak);
  if (measured(icache[k])) {
    const u32 size = curvePointSize(k);
    if (cpuClass == CLASS_INTEL_FAMILY15) {
      // Class 2 shows the size of the point itself, in a format of its own.
      if (size / KIB != 0) fields.add(FIELD_ICACHE_SIZE, "%4luk:4*", size / KIB);
    } else {
      // To a power of two, switching to the next one up at four thirds of a power of two.
      const u32 rounded = highestPowerOfTwoNotAbove(size + size / 2);
      if (rounded / KIB != 0) fields.add(FIELD_ICACHE_SIZE, " %4luK ", rounded / KIB);
    }
  }
  return result;
}

void copyCurve(const CacheCurve& from, CurveCopy& to) {
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) to[i] = from[i].load(std::memory_order_relaxed);
}

void analyseCacheCurves() {
  CurveCopy dcache;
  CurveCopy icache;
  CurveCopy latency;
  copyCurve(bench.dcacheCurve, dcache);
  copyCurve(bench.icacheCurve, icache);
  copyCurve(bench.latencyCurve, latency);
  const CacheLevels previous{bench.l2Speed.load(std::memory_order_relaxed),
                             bench.l2ProbeSize.load(std::memory_order_relaxed),
                             bench.l1Size.load(std::memory_order_relaxed)};

  const CacheAnalysis result =
      analyseCurves(dcache, icache, latency, bench.cpuClass.load(std::memory_order_relaxed),
                    previous, bench.ramReadSpeed.load(std::memory_order_relaxed));

  if (result.l1Source != EdgeSource::None) {
    bench.l1EdgeSource.store(static_cast<u8>(result.l1Source), std::memory_order_relaxed);
  }
  bench.l2Speed.store(result.levels.l2Speed, std::memory_order_relaxed);
  bench.l2ProbeSize.store(result.levels.l2ProbeSize, std::memory_order_relaxed);
  // l1Size last, with release: a reader that finds it nonzero (acquire) finds the other two set.
  bench.l1Size.store(result.levels.l1Size, std::memory_order_release);
  platform::sendFieldUpdates(PAGE_CACHE, result.fields);
}

}  // namespace vardelo
