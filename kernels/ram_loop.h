// RAM measurement loop: turns the tick counts of one strided kernel into one speed for one gap
// and block size.
//
// The loop walks the RAM window (offset 0, always the first 8 MiB of the test area) once to warm
// up, then again and again until six results lie within 45 per mille of the best seen or the
// summed times reach about 2 seconds, and returns tscRate * 8 MiB / best ticks in KiB/s. It keeps
// nothing between calls; bench.ramStableCount counts the stable results of the current call.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// A strided kernel: ticks of one walk, or BAD_SAMPLE.
using RamKernelFn = u32 (*)(u32 offset, i32 gap, u32 block);

// Results that deviate from the best by at most this many per mille count as stable.
inline constexpr u32 RAM_TOLERANCE_PER_MILLE = 45;
// A call ends when the count of stable results passes this.
inline constexpr u32 RAM_STABLE_LIMIT = 5;
// Kernel calls per step while they return BAD_SAMPLE; the last one is used whatever it is.
inline constexpr u32 RAM_TRIES = 10;
// The largest speed the loop returns. A speed above 32 bits (a walk of under tscRate / 512
// ticks, which no real memory achieves) saturates here rather than wrapping; it stops one short
// of NO_POINT so that a stored value never ends a curve.
inline constexpr u32 RAM_SPEED_CEILING = NO_POINT - 1;

// The loop, with the kernel as a parameter. Reads bench.tscRate, writes bench.ramStableCount.
u32 measureRamWith(RamKernelFn kernel, i32 gap, u32 block);

// tscRate * 8 MiB / bestTicks in KiB/s, with a 64-bit product, saturated at RAM_SPEED_CEILING.
// bestTicks must not be 0.
u32 ramSpeedKiBps(u32 tscRate, u32 bestTicks);

// The three measurements of the RAM worker, bound to the real kernels (target build only).
u32 measureRamRead(i32 gap, u32 block);      // strideReadTicks
u32 measureRamWrite(i32 gap, u32 block);     // strideWriteTicks
u32 measureRamWriteMmx(i32 gap, u32 block);  // strideWriteMmxTicks

}  // namespace vardelo
