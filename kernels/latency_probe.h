// The dependent-load latency probe: for a block of the test area, the time one load takes when
// each load needs the result of the one before it, in 1/256 counter ticks. Bandwidth hides a
// level that refills the one above it quickly; latency does not, so this curve shows the edge
// of the second-level cache where the read-speed curve may not.
//
// The loop is platform-free with its kernel as a parameter; measureLatency binds the real one
// (kernels/latency_probe_x86.cpp) and the test area. Only the cache sweep worker calls it.
#pragma once

#include <cstdint>

#include "core/bench_state.h"

namespace vardelo {

// Follows the chain from the address in `cursor` for 16 × rounds loads, leaves the address
// reached in `cursor`, and returns the 64-bit counter difference (vardelo_latency_chase).
using ChaseTicksFn = std::uint64_t (*)(std::uintptr_t& cursor, u32 rounds);

inline constexpr u32 LATENCY_LOADS_PER_ROUND = 16;
// Each timed walk makes at least this many loads (and at least one lap of the chain), so that
// the counter reads around it do not count.
inline constexpr u32 LATENCY_MIN_LOADS = 16384;
// Timed walks per block; the fastest counts, one that an interrupt lengthened does not.
inline constexpr u32 LATENCY_WALKS = 5;
// Fixed point of the result: 256 units per tick.
inline constexpr u32 LATENCY_UNITS_PER_TICK = 256;

// Rounds of one timed walk over a block of `blockBytes`: enough for one lap and for
// LATENCY_MIN_LOADS loads.
u32 latencyRounds(u32 blockBytes);

// The fastest of `walks` walks of at least `loads` loads along a chain from `cursor`, less
// `rdtscOverhead`, per load in 1/256 ticks; NO_POINT if no walk fitted 32 bits.
u32 fastestChase(std::uintptr_t cursor, u32 loads, u32 walks, u32 rdtscOverhead,
                 ChaseTicksFn chase);

// Builds the chain for `blockBytes` at `area` (address `areaAddress`), walks it once to bring
// it into the caches, then times LATENCY_WALKS walks and returns the fastest, less
// `rdtscOverhead`, per load in 1/256 ticks. NO_POINT if no walk fitted 32 bits.
u32 measureLatencyWith(u32 blockBytes, u8* area, std::uintptr_t areaAddress, u32 rdtscOverhead,
                       ChaseTicksFn chase);

// The same at the start of the test area with the real kernel (x86 builds only).
u32 measureLatency(u32 blockBytes);

// The real kernel as a ChaseTicksFn (x86 builds only).
std::uint64_t chaseWithKernel(std::uintptr_t& cursor, u32 rounds);

// Blocks beyond the cache sweep's, up to the span of the test area: a lap of a block of hundreds
// of MiB from main memory takes a second or more, so the walks are short and there is no lap
// before them. Writing the chain has just brought the block into the caches as far as they hold
// it, in the order of the walk: where the caches cannot hold it all, the lines a walk starts
// with were written first and left first. The walks go on round the chain, twice round and a
// walk more where that takes at most FAR_LATENCY_MAX_WALKS (blocks up to 16 MiB): whatever
// else runs on the machine and took the cache's lines from the block between the writing and a
// walk, a later lap finds them back where the cache holds the block, and not where it cannot.
inline constexpr u32 FAR_LATENCY_LOADS = 32768;
inline constexpr u32 FAR_LATENCY_MIN_WALKS = 3;
inline constexpr u32 FAR_LATENCY_MAX_WALKS = 12;

// Walks of FAR_LATENCY_LOADS loads over a block of `blockBytes`: enough to go round it twice
// and once more, from FAR_LATENCY_MIN_WALKS to FAR_LATENCY_MAX_WALKS.
u32 farLatencyWalks(u32 blockBytes);

// Builds the chain for `blockBytes` at `area` and returns the fastest of farLatencyWalks walks
// of FAR_LATENCY_LOADS loads each, less `rdtscOverhead`, per load in 1/256 ticks; each walk
// goes on where the one before ended. NO_POINT if no walk fitted 32 bits.
u32 measureFarLatencyWith(u32 blockBytes, u8* area, std::uintptr_t areaAddress, u32 rdtscOverhead,
                          ChaseTicksFn chase);

// The same at the start of the test area with the real kernel (x86 builds only).
u32 measureFarLatency(u32 blockBytes);

// Picoseconds per load from 1/256 ticks per load and tscRate (ticks per 1/1024 s); NO_POINT for
// an unmeasured point or an unknown rate.
u32 latencyPicoseconds(u32 ticksX256, u32 tscRate);

}  // namespace vardelo
