// The line-size probe's timed pass: strided single-byte reads between two counter reads. x86
// builds only: the reads are hand-written assembly in kernels/line_probe.S (x86-32) and
// kernels/line_probe_x64.S (x86-64).
#pragma once

#include <cstdint>

#include "core/bench_state.h"

// Reads the byte at base, then every strideBytes further while the address stays below
// base + lengthBytes (at least one byte is read; lengthBytes must be nonzero), and returns the
// 64-bit counter difference (cdecl; System V in 64-bit code). No serialising instruction: the
// probe compares passes with one another, and the cost of the counter reads is the same in each.
extern "C" std::uint64_t vardelo_line_probe_pass(const std::uint8_t* base,
                                                 std::uint32_t lengthBytes,
                                                 std::uint32_t strideBytes);

namespace vardelo {

// A pass from the start of the test area.
std::uint64_t linePassAtTestArea(u32 lengthBytes, u32 strideBytes);

// A pass over the next window of the RAM span (takeRamWindow), flushed out of the caches first.
std::uint64_t linePassOverColdWindow(u32 lengthBytes, u32 strideBytes);

// The line probe by dependent loads in pairs (kernels/latency_chain.h: buildLinePairChain), in
// 1/256 ticks per load; NO_POINT where it cannot run. Over `regionBytes` at the start of the
// test area, in slots of 512 bytes, walked once to bring it into the caches and then timed five
// times (the fastest counts); and over cold memory: one pair a page through a window of the RAM
// span, its lines flushed after the chain is written, walked once while cold, three windows of
// which the fastest counts (no CLFLUSH: NO_POINT).
u32 pairChaseAtTestArea(u32 regionBytes, u32 stepBytes);
u32 pairChaseOverColdWindow(u32 regionBytes, u32 stepBytes);

}  // namespace vardelo
