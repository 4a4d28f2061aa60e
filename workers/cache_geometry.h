// Which block size each point of the two cache curves measures, and which nominal size it
// stands for in the figures derived from the curves.
//
// Sixteen points per octave, ten octaves: point i has mantissa 16 + i mod 16 and exponent
// i / 16, in units of 256 bytes.
#pragma once

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

}  // namespace vardelo
