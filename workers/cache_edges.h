// Cache edges on curves measured under interference, and from the dependent-load latency.
//
// Interference (other programs, another hardware thread on the same core) only ever makes a
// read slower and a load wait longer, never the other way, and it comes and goes. So a level
// is judged by its best points, a rise or fall by the median of five points (two spikes in a
// row cannot fake it), and an edge that must be sharp by holding for the rest of the curve (one
// good point after it shows the level had not changed yet), a blurred one by the median of the
// half octave after it (a run of spikes that the curve comes back from is no edge either). An
// edge needs half an octave of points after it. On curves of clean steps these rules find the
// same points as plain thresholds.
//
// Used when the latency curve is there (after the cache sweep's latency probe); without it the
// read-speed rules of cache_analysis.h and cache_figures.h decide alone.
#pragma once

#include "core/bench_state.h"
#include "workers/cache_analysis.h"

namespace vardelo {

// Points of the cache curves in an octave of block sizes.
inline constexpr u32 OCTAVE_POINTS = 16;
// The last point an edge may lie on: half an octave of points must follow it.
inline constexpr u32 LAST_EDGE_POINT = CACHE_POINTS - 1 - OCTAVE_POINTS / 2;

// Whether every entry of `curve` from `first` to point 159 is at or above `limit`, and first <=
// LAST_EDGE_POINT. Unmeasured entries (NO_POINT) fail.
bool staysAtOrAbove(const CurveCopy& curve, u32 first, u32 limit);

// The first point from `from` to `to` - 1 where the curve stays at or above `limit`; `to` when
// there is none.
u32 firstPointStayingAtOrAbove(const CurveCopy& curve, u32 from, u32 to, u32 limit);

// The first point from `from` (up to LAST_EDGE_POINT and below `to`) where the median of the
// five points around it (fewer at the ends of the curve) reaches (falls to) `limit`, and so does
// the median of the half octave from it on (points i to i + 8); `to` when there is none. For a
// level whose edge is blurred (see findL2Edge): the curve may cross the limit more than once
// on its way, but a dip of a few points that the curve climbs back from is interference.
u32 firstPointWhereMedianReaches(const CurveCopy& curve, u32 from, u32 to, u32 limit);
u32 firstPointWhereMedianFallsTo(const CurveCopy& curve, u32 from, u32 to, u32 limit);

// Whether every point of the latency curve is measured (the probe has run to its end): none is
// NO_POINT or 0.
bool latencyMeasured(const CurveCopy& latency);

// The median of entries first..last of `curve` (last included, at most 9 entries).
u32 medianOf(const CurveCopy& curve, u32 first, u32 last);

// The point of the curves whose nominal size is `bytes`: the first from 8 on whose
// curvePointSize is at least `bytes`; 160 past the end.
u32 pointOfSize(u32 bytes);

// The L1 edge from the latency curve: the first point from 8 where the latency rises to half as
// much again as the L1's own (the median of points 4 to 12, 5 to 7 KiB) and stays there. Sets
// `levels` as the bandwidth rule does from its edge (probe point ten places past it, l2Speed the
// mean read speed there, l1Size the power of two not above the probe size, the D-cache size by
// firstLevelSizeAtEdge with points within an eighth of the L1's latency at its level) and returns
// true; false, `levels` untouched, when the latency curve is incomplete, shows no such rise up to
// point 135, or the data curve is unmeasured at the probe point.
bool l1EdgeByLatency(const CurveCopy& dcache, const CurveCopy& latency, CacheLevels& levels);

// The L2 edge behind the levels, the first point from the L2 probe point on where the curve has
// gone halfway from the L2's level to the next level's (the best of the last octave, 2 to 4 MiB):
//  - by read speed, from l2Speed down, where the next level reads at most three quarters as
//    fast as the L2 (the classic rule's own step), unless the latency's edge below lies more
//    than an octave after it (a plateau that interference split; the latency shows none);
//  - else by latency, from the L2's (the median of the five points around the probe point) up,
//    where the next level waits at least half as long again;
//  - else point 160 (4 MiB) with FigureSource::SweepEnd.
//
// Why halfway, and why this edge is not asked to hold like the L1's: the L2 is indexed with
// address bits above the 4 KiB page, so where the system placed each page decides which pages
// compete for the same sets. Some sets overflow from about two thirds of the L2's size on,
// others only at one and a half times it, and the curve moves in proportion to the lines that
// miss across that whole range. Halfway, half the lines miss: near the L2's size, and the
// rounding to a power of two takes anything from two thirds to four thirds of it to the right
// figure. A fixed fraction or multiple would not do: the next level is only a fifth slower than
// the L2 on some processors and ten times slower on others. (The L1 is indexed within the page,
// so its edge is sharp, and a rise before it is interference.)
struct L2Edge {
  u32 point;
  FigureSource source;
};
L2Edge findL2Edge(const CurveCopy& dcache, const CurveCopy& latency, const CacheLevels& levels);

}  // namespace vardelo
