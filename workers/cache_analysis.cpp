#include "workers/cache_analysis.h"

#include "core/processor.h"
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

// The read-speed L1 edge search starts its threshold from entry 8 (6 KiB), which lies inside L1
// on every data cache the program expects.
constexpr u32 EDGE_REFERENCE = 8;

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

// A peak speed, where one of at least 1 KiB/s is measured.
void setPeak(Figure& speed, const CurveCopy& curve) {
  const Peak peak = findPeak(curve);
  if (asSigned(peak.speed) >= asSigned(KIB)) speed = figure(peak.speed, FigureSource::Bandwidth);
}

}  // namespace

bool levelsPastEdge(const CurveCopy& dcache, u32 edge, CacheLevels& levels) {
  const u32 j = edge + POINTS_PAST_EDGE;
  if (!measured(dcache[j])) return false;
  levels.l2Speed = meanOfFour(dcache, j - 1);
  levels.l2ProbeSize = curvePointSize(j);
  levels.l1Size = highestPowerOfTwoNotAbove(levels.l2ProbeSize);
  levels.dcacheSize = levels.l1Size;
  return true;
}

bool l1EdgeByBandwidth(const CurveCopy& dcache, CacheLevels& levels) {
  const u32 reference = dcache[EDGE_REFERENCE];
  // Before entry 8 is measured the threshold is negative and the search runs to its end.
  const u32 threshold = reference - reference / 4;
  u32 edge = EDGE_REFERENCE;
  while (edge < EDGE_SEARCH_END && asSigned(dcache[edge]) > asSigned(threshold)) ++edge;
  if (!levelsPastEdge(dcache, edge, levels)) return false;
  const u32 level = reference - reference / 8;
  levels.dcacheSize = firstLevelSizeAtEdge(
      edge, levels.l1Size, [&](u32 k) { return asSigned(dcache[k]) >= asSigned(level); });
  return true;
}

FigureSource findL1Edge(const CurveCopy& dcache, const CurveCopy& latency, CacheLevels& levels) {
  CacheLevels byLatency = levels;
  if (l1EdgeByLatency(dcache, latency, byLatency)) {
    // A latency that rises over many points shows no first-level size, only a power of two
    // near where the rise crossed its limit, above or below the cache's size; a read-speed
    // edge that clearly shows one then decides.
    CacheLevels byBandwidth = levels;
    if (byLatency.dcacheSize == byLatency.l1Size && l1EdgeByBandwidth(dcache, byBandwidth) &&
        byBandwidth.dcacheSize != byBandwidth.l1Size) {
      levels = byBandwidth;
      return FigureSource::Bandwidth;
    }
    levels = byLatency;
    return FigureSource::Latency;
  }
  if (l1EdgeByBandwidth(dcache, levels)) return FigureSource::Bandwidth;
  return FigureSource::Unset;
}

CacheLevels levelsOf(const CacheFigures& f) {
  if (!f.dcacheSize.isSet()) return CACHE_LEVELS_UNSET;
  // The power of two is the one below the probe size, as levelsPastEdge has it.
  return {f.l2Speed.value, f.l2ProbeSize, highestPowerOfTwoNotAbove(f.l2ProbeSize),
          f.dcacheSize.value};
}

CacheFigures deriveCacheFigures(const CurveCopy& dcache, const CurveCopy& icache,
                                const CurveCopy& latency, u8 cpuClass, u32 mainMemorySpeed,
                                const CacheFigures& previous) {
  CacheFigures f = previous;
  setPeak(f.dataSpeed, dcache);

  CacheLevels levels = levelsOf(previous);
  const FigureSource l1 = findL1Edge(dcache, latency, levels);
  if (l1 != FigureSource::Unset) {
    f.l2Speed = figure(levels.l2Speed, l1);
    f.l2ProbeSize = levels.l2ProbeSize;
    f.dcacheSize = figure(levels.dcacheSize, l1);
  }

  // Main memory: measured on its own where the caches are large, else the last four points,
  // blocks of 3.5 to 3.875 MiB.
  if (mainMemorySpeed != 0) {
    if (mainMemorySpeed / KIB != 0) f.ramSpeed = figure(mainMemorySpeed, FigureSource::Bandwidth);
  } else if (measured(dcache[CACHE_POINTS - 3])) {
    const u32 ramSpeed = meanOfFour(dcache, CACHE_POINTS - 4);
    if (ramSpeed / KIB != 0) f.ramSpeed = figure(ramSpeed, FigureSource::Bandwidth);
  }

  setPeak(f.codeSpeed, icache);
  const Peak codePeak = findPeak(icache);
  const u32 k = codeCacheEdge(icache, codePeak);
  if (measured(icache[k])) {
    const u32 size = curvePointSize(k);
    // Class 2 shows the size of the point itself; the others a power of two, switching to the
    // next one up at four thirds of a power of two. No instruction cache of another size is
    // known, while the code curve of a busy machine can dip anywhere.
    const u32 shown =
        cpuClass == CLASS_INTEL_FAMILY15 ? size : highestPowerOfTwoNotAbove(size + size / 2);
    if (shown / KIB != 0) f.icacheSize = figure(shown, FigureSource::Bandwidth);
  }
  return f;
}

}  // namespace vardelo
