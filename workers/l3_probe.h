// The last cache level beyond the cache sweep (an L3): its size from the dependent-load latency
// of blocks larger than the sweep's, up to the span of the test area, and the block whose read
// speed stands for it.
//
// The sweep's latency curve ends inside the next level after the L2 at 3968 KiB. The probe goes
// on from 4 MiB in half octaves (4, 6, 8, 12, 16, 24 MiB, ...) until two blocks in a row read
// main memory's latency: at least three times the level at the sweep's end, the second no more
// than a quarter slower than the first (the rise has levelled off), both still so when measured
// again (the faster of the two readings counts). Main memory's latency follows from those two
// (mainMemoryLatency in the source).
//
// A cache that cannot hold a block holds part of it: with the level at λ3, main memory at λm
// and a block of B bytes that reads λ, about B × (λm − λ) / (λm − λ3) bytes of it were in the
// cache. That is B itself for a block the cache holds whole, and the cache's size for one it
// holds a fixed part of. The size is the most that any block reading below halfway from λ3 to
// λm shows, to whole MiB. Where the last block below halfway was held whole (a cache that keeps
// nothing of a block it cannot hold), the edge lies between it and the next block, and a few
// more blocks of whole MiB narrow it down.
//
// There is no L3 when the sweep's end reads no level of its own (less than half as slow again
// as the L2: the L2 is the last level, and its edge lies beyond the sweep), when main memory
// does not show within the span (the level's end could not be seen), or when the size found is
// no larger than the L2.
#pragma once

#include "core/bench_state.h"
#include "core/curve_copy.h"
#include "core/figures.h"

namespace vardelo {

// The first block of the probe, just past the sweep's last.
inline constexpr u32 L3_FIRST_BLOCK_BYTES = 4u << 20;
// The level at the sweep's end: the median of its last five latency points.
inline constexpr u32 L3_LEVEL_FIRST_POINT = CACHE_POINTS - 5;
// Blocks measured between the last block below the edge and the first above it, at most.
inline constexpr u32 L3_NARROWING_STEPS = 6;

// The k-th block of the probe's half octaves: 4 MiB × 2^(k/2), alternately 4 and 6 MiB times a
// power of two; 0 once it would pass 32 bits.
u32 l3LadderBlock(u32 k);

// Dependent-load latency of a block of the test area, 1/256 ticks per load (measureFarLatency).
using FarLatencyFn = u32 (*)(u32 blockBytes);

struct L3Probe {
  u32 sizeBytes = 0;  // whole MiB; 0: no L3
  FarLatencies measured;
};

// The probe over the finished latency curve of the sweep, behind an L2 whose probe point is
// `l2ProbeSize` and whose size is `l2SizeBytes`, with blocks up to `limitBytes`. Measures
// nothing where the curve is incomplete or shows no level after the L2.
L3Probe probeL3With(const CurveCopy& latency, u32 l2ProbeSize, u32 l2SizeBytes, u32 limitBytes,
                    FarLatencyFn measure);

// The block whose read speed is the L3's: half the L3, and at least the middle (on a
// logarithmic scale) between the L2 and the L3, in whole 4 KiB pages.
u32 l3SpeedBlockBytes(u32 l3Bytes, u32 l2Bytes);

}  // namespace vardelo
