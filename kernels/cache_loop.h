// The cache-sweep measurement loop: repeats a block-read or code-fetch timing until enough
// results agree with the best one or a time budget is spent, and turns the best time into a
// speed in KiB/s. Data reads move their block through the test area 4 KiB at a time.
//
// The loop is platform-free with its kernels as parameters; measureCacheSpeed binds the real
// ones (kernels/cache_loop_x86.cpp). Only the cache sweep worker calls it.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// Measurement kinds. Any kind other than CACHE_KIND_DATA is a code-fetch measurement.
inline constexpr u32 CACHE_KIND_DATA = 0;
inline constexpr u32 CACHE_KIND_CODE = 1;

struct CacheKernels {
  u32 (*dataPassTicks)(u32 offset, u32 size);  // mean ticks of one read pass, or BAD_SAMPLE
  u32 (*codeFetchTicks)(u32 size);             // ticks of one pass of fetched code, or BAD_SAMPLE
};

// Tuning of the loop.
inline constexpr u32 CACHE_BLOCK_STEP = 4096;    // bytes the data block moves at a time
inline constexpr u32 CACHE_MOVE_PERIOD = 3;      // measurements per move (the first move after 2)
inline constexpr u32 CACHE_TRIES = 10;           // tries per step while the kernel gives BAD_SAMPLE
inline constexpr u32 CACHE_DATA_WARMUPS = 3;
inline constexpr u32 CACHE_CODE_WARMUPS = 1;
inline constexpr u32 CACHE_DATA_TOLERANCE = 25;  // per mille of the best
inline constexpr u32 CACHE_CODE_TOLERANCE = 50;
inline constexpr u32 CACHE_DATA_STABLE = 51;     // stable results that end the loop
inline constexpr u32 CACHE_CODE_STABLE = 6;

// Speed in KiB/s of reading (kind 0) or executing (other kinds) a block of `size` bytes, a
// multiple of 256 inside the test area; a block of 12 MiB or more (the L3's) stays at offset 0.
// Reads and writes back bench.measuring.blockOffset (for every kind), sets
// bench.measuring.cacheStableCount, reads bench.machine.tscRate.
u32 measureCacheSpeedWith(u32 kind, u32 size, const CacheKernels& kernels);

// The same with blockReadPassTicks and codeFetchTicks (x86 builds only).
u32 measureCacheSpeed(u32 kind, u32 size);

}  // namespace vardelo
