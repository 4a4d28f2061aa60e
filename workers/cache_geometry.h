// Which block size each point of the two cache curves measures, and which nominal size it
// stands for in the figures derived from the curves.
//
// Sixteen points per octave, ten octaves: point i has mantissa 16 + i mod 16 and exponent
// i / 16, in units of 256 bytes.
#pragma once

#include <span>

#include "core/bench_state.h"

namespace vardelo {

// Bytes measured at point i (0..159): 256 × mantissa × 2^exponent, but never less than 4608,
// the smallest block the read kernel's unrolled pass covers. Points 0..2 thus all measure 4608.
u32 sweepBlockSize(u32 i);

// Nominal bytes of point i (0..160): the same size cut down to a whole KiB, without the 4608
// floor. Equals sweepBlockSize from point 32 on; point 160, one past the curve, gives 4 MiB.
u32 curvePointSize(u32 i);

// The largest power of two not above x; 1 for x = 0.
u32 highestPowerOfTwoNotAbove(u32 x);

// The cache sizes other than powers of two that x86 processors have, by level; each is the
// nominal size of a point of the curves. First level: 24 KiB (the data caches of Atom cores) and
// 48 KiB (the data caches of Intel's cores since 2019 and of AMD's since 2024). Second level:
// 1.25 and 2.5 MiB (Intel's cores since 2020), 1.5 MiB (Atom modules), 3 MiB (Core 2's shared L2,
// Intel's cores since 2024). Other sizes of those shapes (40, 80, 96, 320, 384, 640, 768 KiB)
// belong to no cache the program expects, so an edge near one stays with its power of two.
inline constexpr u32 FIRST_LEVEL_SIZES[] = {24u << 10, 48u << 10};
inline constexpr u32 SECOND_LEVEL_SIZES[] = {1280u << 10, 1536u << 10, 2560u << 10, 3072u << 10};

// The first of `sizes` from `low` to `high`, both included; 0 for none.
u32 knownSizeBetween(std::span<const u32> sizes, u32 low, u32 high);

}  // namespace vardelo
