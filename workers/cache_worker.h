// The cache sweep worker: measures the data-read and code-execution curves over 160 block
// sizes, chooses the read variant, probes the dependent-load latency at the same block sizes
// once the data curve is complete, derives the line sizes, the L2 and L3 sizes and the installed
// memory, runs the fill-pattern search, and then waits for restart requests. It never draws:
// it stores points and counts changes, and sends its figures to the cache page as texts.
//
// The measurements are injected, so a whole sweep runs on the host against fake kernels; the
// thread entry binds the real ones (workers/cache_worker_win.cpp).
#pragma once

#include <cstdint>

#include "core/bench_state.h"
#include "kernels/fill_search.h"
#include "workers/cache_figures.h"

namespace vardelo {

inline constexpr u32 CACHE_WAIT_MS = 150;  // poll period while a RAM pass runs
inline constexpr u32 CACHE_IDLE_MS = 230;  // poll period of the restart request
inline constexpr u32 CACHE_PAUSE_MS = 50;  // before each sweep
inline constexpr u32 READ_VARIANT_BYTES = 6144;
inline constexpr u32 RAM_PROBE_BYTES = 8u << 20;
inline constexpr u32 LATENCY_PASSES = 5;  // passes of the latency probe over all sizes

struct CacheOps {
  u32 (*measure)(u32 kind, u32 sizeBytes);  // CACHE_KIND_*: speed in KiB/s (measureCacheSpeed)
  void (*searchFill)(const FillProgress&);  // sets bench.measuring.fillMode (searchFillMode)
  LinePassTicks linePass;                   // one timed pass of the line-size probe
  // Dependent-load latency of a block, 1/256 ticks per load (measureLatency); null: no probe.
  u32 (*latency)(u32 blockBytes) = nullptr;
  // Writes the whole test area so that each page has physical memory of its own before it is
  // measured (block_read_area.h); null: nothing to prepare.
  void (*prepareArea)() = nullptr;
  // Where the RAM walks are cold (a span larger than the window): one pass of the line-size
  // probe over a flushed window of the span, and the main-memory read speed in KiB/s
  // (measureMainMemoryRead). Null, or a span of one window, keeps the probe at the start of the
  // test area and the RAM speed from the last points of the data curve.
  LinePassTicks ramLinePass = nullptr;
  u32 (*mainMemoryRead)() = nullptr;
  // Dependent-load latency of a block beyond the sweep's, up to the test area's size, 1/256
  // ticks per load (measureFarLatency); null: no L3 probe.
  u32 (*farLatency)(u32 blockBytes) = nullptr;
  // The line probe by dependent loads in pairs (lineSizeByPairs): in a block of the L2, and over
  // cold memory. Null: the strided passes alone.
  PairChaseTicks pairChase = nullptr;
  PairChaseTicks ramPairChase = nullptr;
};

// Thread start: processor 0, and a full redraw asked of the cache chart.
void cacheWorkerStart();

// Steps of one sweep, from waiting for the RAM worker to clearing cacheBusy.
void cacheSweep(const CacheOps& ops);

// One turn of the idle loop: sleeps 230 ms and says whether a restart was requested.
bool cacheIdleTurn();

// The thread body: start, then a sweep, idle turns until a restart request, and again.
[[noreturn]] void cacheWorkerRun(const CacheOps& ops);

#ifdef _WIN32
// Thread entry for CreateThread: cacheWorkerRun with the real measurements.
unsigned long __stdcall cacheWorkerThread(void* unused);
#endif

}  // namespace vardelo
