// The figures of the "Cache Speed " page derived from the two cache curves: peak data and code
// speeds, the data-cache (L1) size, the speed of the level behind it (L2), the main-memory read
// speed and the instruction-cache size.
//
// The computation is pure: it takes copies of the curves and the values of the previous run and
// returns the new values and the page fields to write. analyseCacheCurves() is the thin part the
// cache chart's painter calls; it copies the shared curves once, runs the computation and
// publishes the results. A figure that cannot be derived yet (its point is unmeasured, or the
// value is zero) produces no field update, so the page keeps its earlier text.
#pragma once

#include "core/bench_state.h"
#include "core/pages.h"
#include "core/text_format.h"

namespace vardelo {

// A private copy of one cache curve; entries compare as signed, so NO_POINT counts as -1.
using CurveCopy = u32[CACHE_CURVE_ENTRIES];

// The three results the cache sweep worker builds on.
struct CacheLevels {
  u32 l2Speed;      // KiB/s, mean of four points just past the L1 edge
  u32 l2ProbeSize;  // bytes, a block size on the L2 plateau
  u32 l1Size;       // bytes, a power of two
};

// What the levels hold until the first run that can derive them.
inline constexpr CacheLevels CACHE_LEVELS_UNSET{0, L2_PROBE_SIZE_UNSET, 0};

// Which curve showed a cache edge.
enum class EdgeSource : u8 { None = 0, Bandwidth = 1, Latency = 2 };
const char* edgeSourceName(EdgeSource source);  // "none", "bandwidth", "latency"

struct CacheAnalysis {
  CacheLevels levels;
  FieldUpdates fields;  // in the order 111, 112, 101, 114, 110, 100, each only when derived
  EdgeSource l1Source = EdgeSource::None;  // the curve this run's levels came from, if any
};

// The L1 edge of the data curve and the L2 values behind it. Returns true and sets `levels` when
// the point ten places past the edge is measured; otherwise leaves `levels` alone.
bool deriveCacheLevels(const CurveCopy& dcache, CacheLevels& levels);

// The whole analysis over copies of the curves. `previous` is returned unchanged in the result
// when the curve does not reach far enough to derive new levels. A nonzero `mainMemorySpeed`
// (KiB/s, measured from flushed memory where the caches could hold the curve's last points)
// is the RAM speed figure; otherwise those points give it.
CacheAnalysis analyseCurves(const CurveCopy& dcache, const CurveCopy& icache, u8 cpuClass,
                            const CacheLevels& previous, u32 mainMemorySpeed = 0);

// The same with the latency curve: once it is measured to its end, the L1 edge is the rise of
// the load latency (deriveCacheLevelsFromLatency, cache_edges.h), which read speeds can hide
// where the L2 refills the L1 as fast as the loads read it; where the latency shows no L1 edge,
// and while it is not measured, the read-speed rule decides as above.
CacheAnalysis analyseCurves(const CurveCopy& dcache, const CurveCopy& icache,
                            const CurveCopy& latency, u8 cpuClass, const CacheLevels& previous,
                            u32 mainMemorySpeed = 0);

// The levels by the latency rule where it finds them, else by the read-speed rule; the source
// says which, None when neither can derive them (then `levels` is untouched).
EdgeSource deriveLevels(const CurveCopy& dcache, const CurveCopy& latency, CacheLevels& levels);

// Copies a shared curve, reading each entry once.
void copyCurve(const CacheCurve& from, CurveCopy& to);

// Runs the analysis on the curves in `bench`, stores l2Speed, l2ProbeSize, l1Size and the
// source of the L1 edge and sets the page texts. User-interface thread.
void analyseCacheCurves();

}  // namespace vardelo
