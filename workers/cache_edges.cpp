#include "workers/cache_edges.h"

#include <algorithm>

#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

// The L1's latency: the median of the points of 5 to 7 KiB, inside any first-level cache.
constexpr u32 L1_LATENCY_FIRST = 4;
constexpr u32 L1_LATENCY_LAST = 12;
constexpr u32 EDGE_SEARCH_FROM = 8;
constexpr u32 MAX_MEDIAN_ENTRIES = 9;
// The last octave of the curve, 2 to 4 MiB: where the level behind the L2 shows.
constexpr u32 NEXT_LEVEL_FIRST = CACHE_POINTS - OCTAVE_POINTS;

}  // namespace

bool staysAtOrAbove(const CurveCopy& curve, u32 first, u32 limit) {
  if (first > LAST_EDGE_POINT) return false;
  for (u32 i = first; i < CACHE_POINTS; ++i) {
    if (curve[i] == NO_POINT || curve[i] < limit) return false;
  }
  return true;
}

u32 firstPointStayingAtOrAbove(const CurveCopy& curve, u32 from, u32 to, u32 limit) {
  for (u32 i = from; i < to; ++i) {
    if (staysAtOrAbove(curve, i, limit)) return i;
  }
  return to;
}

namespace {

// The median of the five points around i, fewer at the ends of the curve.
u32 medianAround(const CurveCopy& curve, u32 i) {
  const u32 first = i >= 2 ? i - 2 : 0;
  const u32 last = std::min<u32>(i + 2, CACHE_POINTS - 1);
  return medianOf(curve, first, last);
}

// The median of the half octave from i on.
u32 medianAhead(const CurveCopy& curve, u32 i) {
  return medianOf(curve, i, std::min<u32>(i + OCTAVE_POINTS / 2, CACHE_POINTS - 1));
}

}  // namespace

u32 firstPointWhereMedianReaches(const CurveCopy& curve, u32 from, u32 to, u32 limit) {
  for (u32 i = from; i < to && i <= LAST_EDGE_POINT; ++i) {
    const u32 median = medianAround(curve, i);
    if (median == NO_POINT || median < limit) continue;
    const u32 ahead = medianAhead(curve, i);
    if (ahead != NO_POINT && ahead >= limit) return i;
  }
  return to;
}

u32 firstPointWhereMedianFallsTo(const CurveCopy& curve, u32 from, u32 to, u32 limit) {
  for (u32 i = from; i < to && i <= LAST_EDGE_POINT; ++i) {
    if (medianAround(curve, i) <= limit && medianAhead(curve, i) <= limit) return i;
  }
  return to;
}

bool latencyMeasured(const CurveCopy& latency) {
  // 0 is the record's start value: no load takes no time.
  return std::none_of(latency, latency + CACHE_POINTS,
                      [](u32 v) { return v == NO_POINT || v == 0; });
}

u32 medianOf(const CurveCopy& curve, u32 first, u32 last) {
  u32 values[MAX_MEDIAN_ENTRIES];
  const u32 n = std::min(last - first + 1, MAX_MEDIAN_ENTRIES);
  std::copy(curve + first, curve + first + n, values);
  std::nth_element(values, values + n / 2, values + n);
  return values[n / 2];
}

u32 pointOfSize(u32 bytes) {
  u32 i = EDGE_SEARCH_FROM;
  while (i < CACHE_POINTS && curvePointSize(i) < bytes) ++i;
  return i;
}

bool l1EdgeByLatency(const CurveCopy& dcache, const CurveCopy& latency, CacheLevels& levels) {
  if (!latencyMeasured(latency)) return false;
  const u32 l1Latency = medianOf(latency, L1_LATENCY_FIRST, L1_LATENCY_LAST);
  const u32 limit = l1Latency + l1Latency / 2;
  const u32 edge = firstPointStayingAtOrAbove(latency, EDGE_SEARCH_FROM, EDGE_SEARCH_END, limit);
  if (edge == EDGE_SEARCH_END || !levelsPastEdge(dcache, edge, levels)) return false;
  const u32 level = l1Latency + l1Latency / 8;
  levels.dcacheSize =
      firstLevelSizeAtEdge(edge, levels.l1Size, [&](u32 k) { return latency[k] <= level; });
  return true;
}

namespace {

// The L2 edges by read speed and by latency as findL2Edge describes them; CACHE_POINTS where
// there is none.
u32 l2EdgeBySpeed(const CurveCopy& dcache, u32 probe, u32 l2Speed) {
  // The next level's speed: the best of the last octave (an unmeasured point, all ones, leaves
  // no step to see).
  const u32 nextSpeed = *std::max_element(dcache + NEXT_LEVEL_FIRST, dcache + CACHE_POINTS);
  if (nextSpeed > l2Speed - l2Speed / 4) return CACHE_POINTS;
  const u32 halfway = nextSpeed + (l2Speed - nextSpeed) / 2;
  return firstPointWhereMedianFallsTo(dcache, probe, CACHE_POINTS, halfway);
}

u32 l2EdgeByLatency(const CurveCopy& latency, u32 probe) {
  if (!latencyMeasured(latency)) return CACHE_POINTS;
  // The L2's latency: the median of the probe point and two on each side. The next level's: the
  // lowest of the last octave, since interference only ever lengthens a load.
  const u32 l2Latency = medianAround(latency, probe);
  const u32 nextLatency = *std::min_element(latency + NEXT_LEVEL_FIRST, latency + CACHE_POINTS);
  if (nextLatency < l2Latency + l2Latency / 2) return CACHE_POINTS;
  const u32 halfway = l2Latency + (nextLatency - l2Latency) / 2;
  return firstPointWhereMedianReaches(latency, probe, CACHE_POINTS, halfway);
}

}  // namespace

L2Edge findL2Edge(const CurveCopy& dcache, const CurveCopy& latency, const CacheLevels& levels) {
  const u32 probe = pointOfSize(levels.l2ProbeSize);
  if (probe >= CACHE_POINTS) return {CACHE_POINTS, FigureSource::SweepEnd};
  const u32 bySpeed = l2EdgeBySpeed(dcache, probe, levels.l2Speed);
  const u32 byLatency = l2EdgeByLatency(latency, probe);
  // Both edges are halfway points of the same spread of overflowing sets, so they lie close
  // together. A fall of the read speed more than an octave before the latency leaves the L2's
  // is a plateau that interference (another guest, a busy host) split in two.
  const bool latencyAgrees = byLatency == CACHE_POINTS || byLatency <= bySpeed + OCTAVE_POINTS;
  if (bySpeed < CACHE_POINTS && latencyAgrees) return {bySpeed, FigureSource::Bandwidth};
  if (byLatency < CACHE_POINTS) return {byLatency, FigureSource::Latency};
  return {CACHE_POINTS, FigureSource::SweepEnd};
}

}  // namespace vardelo
