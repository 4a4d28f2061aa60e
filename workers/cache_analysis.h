// The figures of the "Cache Speed " page derived from the cache curves: peak data and code
// speeds, the data-cache (L1) size, the speed of the level behind it (L2), the main-memory read
// speed and the instruction-cache size, as numbers (core/figures.h).
//
// deriveCacheFigures is pure: it takes copies of the curves and the figures of the previous
// derivation and returns the new figures. A figure that cannot be derived yet (its point is
// unmeasured, or the value would show as zero) keeps its previous value, so the page keeps its
// earlier text. The cache worker runs it as its curves grow and is the figures' only writer.
#pragma once

#include "core/bench_state.h"
#include "core/curve_copy.h"
#include "core/figures.h"
#include "workers/cache_geometry.h"

namespace vardelo {

// The values the rest of the figures build on, from the L1 edge.
struct CacheLevels {
  u32 l2Speed;      // KiB/s, mean of four points just past the L1 edge
  u32 l2ProbeSize;  // bytes, a block size on the L2 plateau
  u32 l1Size;       // bytes, a power of two: the unit the L2 size is rounded in
  u32 dcacheSize;   // bytes as the D-cache figure shows it: l1Size, or see firstLevelSizeAtEdge
};

// What the levels hold until the first run that can derive them.
inline constexpr CacheLevels CACHE_LEVELS_UNSET{0, L2_PROBE_SIZE_UNSET, 0, 0};

// The L1 edge search: its figures are taken POINTS_PAST_EDGE points (about 1.5×) past the edge,
// which is looked for below point EDGE_SEARCH_END, by either curve.
inline constexpr u32 EDGE_SEARCH_END = 136;
inline constexpr u32 POINTS_PAST_EDGE = 10;

// A first-level edge is clear when the curve leaves the cache's own level (within an eighth of
// it) and passes its edge threshold within FALL_POINTS points (about 19 %).
inline constexpr u32 FALL_POINTS = 4;

// The size a first-level edge at point `edge` shows, given which points are still at the
// cache's level: the nominal size of the last such point before the edge where that is one of
// FIRST_LEVEL_SIZES and the edge is clear; otherwise `powerOfTwo`, the size the page has always
// shown. A clean step leaves the level right after the cache's size, so the last point at the
// level measures the size itself (points stand 1/16 octave apart: 48 KiB and 64 KiB lie six
// points apart).
template <typename AtLevel>
u32 firstLevelSizeAtEdge(u32 edge, u32 powerOfTwo, AtLevel atLevel) {
  if (edge >= EDGE_SEARCH_END) return powerOfTwo;  // no fall: the figures stand at the search end
  for (u32 back = 1; back <= FALL_POINTS && back <= edge; ++back) {
    if (!atLevel(edge - back)) continue;
    const u32 size = curvePointSize(edge - back);
    return knownSizeBetween(FIRST_LEVEL_SIZES, size, size) != 0 ? size : powerOfTwo;
  }
  return powerOfTwo;
}

// The levels once the L1 edge is known to lie at point `edge`: true and `levels` set when the
// data curve is measured POINTS_PAST_EDGE points past it, else false and `levels` untouched.
// The D-cache size is l1Size; the edge rules refine it with firstLevelSizeAtEdge.
bool levelsPastEdge(const CurveCopy& dcache, u32 edge, CacheLevels& levels);

// The L1 edge by read speed: the first point from 8 on that falls to three quarters of point 8.
// Points within an eighth of point 8 are at the L1's level.
bool l1EdgeByBandwidth(const CurveCopy& dcache, CacheLevels& levels);

// The L1 edge by the latency rule where it finds one (l1EdgeByLatency, cache_edges.h), else by
// read speed; Unset when neither can derive it (then `levels` is untouched). Where the latency
// edge shows only a power of two and the read-speed edge clearly shows a first-level size (48K
// where the latency rose gradually and crossed its limit near 64K, or near 32K), the read speed
// decides.
FigureSource findL1Edge(const CurveCopy& dcache, const CurveCopy& latency, CacheLevels& levels);

// The levels a set of figures holds (CACHE_LEVELS_UNSET before the first L1 edge).
CacheLevels levelsOf(const CacheFigures& figures);

// The page's curve figures from copies of the curves, over `previous` (whose other figures pass
// through unchanged). With the latency curve measured to its end the L1 edge is the rise of the
// load latency, which read speeds can hide where the L2 refills the L1 as fast as the loads read
// it; elsewhere the read-speed rule decides. A nonzero `mainMemorySpeed` (KiB/s, measured from
// flushed memory where the caches could hold the curve's last points) is the RAM speed;
// otherwise those points give it.
CacheFigures deriveCacheFigures(const CurveCopy& dcache, const CurveCopy& icache,
                                const CurveCopy& latency, u8 cpuClass, u32 mainMemorySpeed,
                                const CacheFigures& previous);

}  // namespace vardelo
