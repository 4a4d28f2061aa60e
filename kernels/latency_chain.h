// The pointer chain behind the dependent-load latency probe, as plain C++.
//
// A block of the test area becomes one closed chain through all of its 64-byte lines: the first
// pointer-sized word of each line holds the address of the next line to visit. The latency kernel
// (latency_chase.S) follows the chain, so every load waits for the one before it and the time
// per load is the latency of the level that holds the block.
//
// The order of the visits keeps the steps of that curve sharp:
//  - all lines of one 4 KiB page are visited before the next page, so the page tables are
//    walked once per 64 loads, not once per load, and TLB misses stay out of the figure;
//  - within a page the lines come in a shuffled order, and the pages too, so no prefetcher can
//    guess the next line from the last few. Up to 4 MiB the pages are shuffled through a table;
//    beyond, where a table of every page would not fit on a thread's stack, a keyed permutation
//    of the page numbers gives the order.
// The shuffle is a fixed pseudo-random sequence: the same block gives the same chain every
// time, so the probe is repeatable and tests can rebuild what the kernel walked.
#pragma once

#include <cstdint>

#include "core/bench_state.h"

namespace vardelo {

inline constexpr u32 CHASE_LINE_BYTES = 64;
inline constexpr u32 CHASE_PAGE_BYTES = 4096;
inline constexpr u32 CHASE_LINES_PER_PAGE = CHASE_PAGE_BYTES / CHASE_LINE_BYTES;
// The largest block whose pages are shuffled through a table: the cache sweep's blocks stay
// below it.
inline constexpr u32 CHASE_TABLE_BLOCK_BYTES = 4u << 20;
// The largest block the chain can cover: the largest span of the test area.
inline constexpr u32 CHASE_MAX_BLOCK_BYTES = RAM_SPAN_MAX_BYTES_64BIT;
// The bytes at the start of each line that hold the link: an address.
inline constexpr u32 CHASE_LINK_BYTES = sizeof(std::uintptr_t);

// Lines in a block of `blockBytes` (whole lines only; a remainder below 64 bytes is not used).
constexpr u32 chaseLines(u32 blockBytes) { return blockBytes / CHASE_LINE_BYTES; }

// Writes the chain for a block of `blockBytes` (at least 64, at most CHASE_MAX_BLOCK_BYTES) at
// `area`, whose first byte has the address `areaAddress`, and returns the byte offset of the
// line the chain starts with (any line of a closed chain would do; this is the first one
// visited). Writes only the first CHASE_LINK_BYTES of each line.
u32 buildChaseChain(u8* area, std::uintptr_t areaAddress, u32 blockBytes);

// --- The line probe's chain ---------------------------------------------------------------------
//
// Pairs of loads `stepBytes` apart, one pair in each slot of `slotBytes`, the slots in shuffled
// order. A pair's loads lie at slot + LINE_PAIR_BASE and stepBytes above; each pair is visited
// upwards or downwards at random, and the second load of a pair links to the first of the next.
// The two loads share a line while the step is shorter than the line, and the second then hits
// the first level; once the step reaches the line, the second load needs a line of its own. The
// base is an odd 64-byte line of its 128-byte pair, so a step of 64 leaves the pair: a prefetcher
// that fetches the other line of a pair does not fetch it, one that fetches the next line can only
// help the upward pairs, and one that fetches the line below only the downward ones.
inline constexpr u32 LINE_PAIR_BASE = 64;
inline constexpr u32 LINE_PAIR_MAX_STEP = 256;
// Slots of at most this many fit the shuffle's table.
inline constexpr u32 LINE_PAIR_MAX_SLOTS = 1u << 14;

// Writes the chain over `slots` slots (1 to LINE_PAIR_MAX_SLOTS) of `slotBytes` (at least
// LINE_PAIR_BASE + LINE_PAIR_MAX_STEP + CHASE_LINK_BYTES) at `area`, whose first byte has the
// address `areaAddress`, for a step of `stepBytes` (CHASE_LINK_BYTES to LINE_PAIR_MAX_STEP), and
// returns the byte offset of the load it starts with. Writes only the links: CHASE_LINK_BYTES at
// each of the 2 × slots loads.
u32 buildLinePairChain(u8* area, std::uintptr_t areaAddress, u32 slots, u32 slotBytes,
                       u32 stepBytes);

// The pseudo-random sequence of the shuffle (xorshift32): the next state after `state` (never 0).
constexpr u32 chaseRandomNext(u32 state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

}  // namespace vardelo
