// The arithmetic around the block-read kernels that does not need the processor: how many passes
// the wrapper makes over a block, how a counter difference becomes a tick count, and the pass
// loop itself with the kernel as a parameter (the product passes blockReadTicks, tests a script).
#pragma once

#include <cstdint>

#include "core/bench_state.h"

namespace vardelo {

// The passes over one block read about a third of 8 MiB in all, between 1 and 512 passes.
inline constexpr u32 BLOCK_READ_PASS_BYTES = 2796202;  // 0x2AAAAA
inline constexpr u32 BLOCK_READ_MAX_PASSES = 512;

// Passes over a block of `size` bytes (at least 1): 2796202 / size, at least 1, at most 512.
u32 blockReadPasses(u32 size);

// One kernel call's result from its 64-bit counter difference: BAD_SAMPLE when the difference
// does not fit in 32 bits (also when the counter ran backwards), else its low half minus the
// cost of the counter reads, modulo 2^32.
u32 blockTicksFromDiff(std::uint64_t diff, u32 rdtscOverhead);

// The mean ticks of one pass from the counter difference around `passes` passes: BAD_SAMPLE
// when passes is 0, the counter ran backwards or the mean is BAD_SAMPLE or more; else
// (diff - rdtscOverhead) / passes, truncated, and 0 when diff is below the overhead.
u32 meanPassTicksFromDiff(std::uint64_t diff, u32 rdtscOverhead, u32 passes);

// A timed read of `length` bytes at testArea + offset: ticks or BAD_SAMPLE.
using BlockTicksFn = u32 (*)(u32 offset, u32 length);

// Reads the block blockReadPasses(size) times with `ticks`, always at `offset` with `size` as
// the length, and returns the mean ticks of one pass, truncated. BAD_SAMPLE if any pass gave
// BAD_SAMPLE; the remaining passes still run, so every call costs the same time.
u32 blockReadPassTicksWith(u32 offset, u32 size, BlockTicksFn ticks);

}  // namespace vardelo
