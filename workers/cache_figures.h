// The decisions behind the figures the cache sweep worker derives after its data sweep: the
// read-variant choice, the line-size probe, the L2 size and the installed memory. The worker
// supplies the measurements; everything here is pure.
#pragma once

#include <cstdint>
#include <span>

#include "core/bench_state.h"
#include "core/figures.h"
#include "core/pages.h"
#include "core/text_format.h"
#include "workers/cache_analysis.h"

namespace vardelo {

// --- Read variant -----------------------------------------------------------------------------

struct ReadVariantChoice {
  u8 readMode;   // 0 to 4
  u32 cacheMax;  // the chosen variant's speed, the chart's starting scale
};

// Given the speeds of variants 0, 1, 2, ... in turn at the same block size: the fastest, ties
// going to the higher variant. Speeds compare as signed numbers against a start of 0, so a speed
// with the top bit set never wins; a variant the processor lacks times as BAD_SAMPLE and comes
// out tiny, and a wide variant that was not tried stands as NO_POINT.
ReadVariantChoice chooseReadVariant(std::span<const u32> speeds);

// --- Line-size probe --------------------------------------------------------------------------

// One timed pass: reads the byte at the start of the test area and every `strideBytes` further
// below `lengthBytes`; returns the full 64-bit counter difference.
using LinePassTicks = std::uint64_t (*)(u32 lengthBytes, u32 strideBytes);
using SleepMs = void (*)(u32 ms);

// The line size, in bytes, that reading `lengthBytes` with growing strides reveals: the stride
// before the first doubling that brings the best pass time down to at most nine sixteenths
// (class 2: five eighths) of the previous stride's best; 4 if the best at stride 8 is already at
// most 160 ticks; 256 if no doubling up to 256 does. Best of sixteen passes per stride: of twenty,
// the first three warm up and the last is not used; a pass whose time does not fit 32 bits is
// repeated without counting, up to LINE_PASS_TRIES times in a row, after which the probe gives
// up and returns LINE_PROBE_FAILED.
inline constexpr int LINE_PASS_TRIES = 10;
inline constexpr u32 LINE_PROBE_FAILED = 0;
u32 probeLineSizeWith(u32 lengthBytes, u8 cpuClass, LinePassTicks passTicks, SleepMs sleep);

// The line size that dependent loads in pairs show (the chain of buildLinePairChain): one
// measurement per step, 1/256 ticks per load of a walk over the pairs (0 or NO_POINT: not
// measured). `regionBytes` is the block the pairs lie in where the walk stays in a cache; a walk
// over cold memory ignores it.
using PairChaseTicks = u32 (*)(u32 regionBytes, u32 stepBytes);

// The line: the smallest step from 16 to 64 bytes from which on every step's pairs take at least
// LINE_PAIR_CROSS_PERCENT of the time that pairs 8 bytes apart take, each step measured
// LINE_PAIR_ROUNDS times, the fastest counting; the step at which a pair's second load needs a
// line of its own. LINE_PROBE_FAILED where even step 64 does not (a machine whose loads all take
// the same time) or a step could not be measured. A processor whose prefetchers fetch two or more
// lines at a time still shows its own line here, where the strided passes above show what is
// fetched.
inline constexpr u32 LINE_PAIR_CROSS_PERCENT = 115;
inline constexpr int LINE_PAIR_ROUNDS = 2;
u32 lineSizeByPairs(u32 regionBytes, PairChaseTicks chase);

// --- L2 size and installed memory -------------------------------------------------------------

// Whether the analysis has produced its values at least once. The L2 line probe (whose end
// address would wrap) and the L2 size (which divides by l1Size) must not run before.
bool cacheLevelsUsable(u32 l2ProbeSize, u32 l1Size);

// The rounding of the L2 size from the point of its edge (160: 4 MiB), as above. The class-1
// subtraction stops at zero (the figure is then 1), where unsigned arithmetic would wrap.
u32 l2SizeAtPointKiB(u32 point, u8 cpuClass, u32 l1Size);

// The L2 size shown for an edge at `point`, the first point past the edge's limit: one of
// SECOND_LEVEL_SIZES where it lies from the point before to this one (less the L1 on class 1,
// as above), that is where the curve crosses its limit right at it; otherwise
// l2SizeAtPointKiB. An L2's edge is blurred (cache_edges.h), so only a crossing within one step
// of 1/16 octave of the size counts; the sizes themselves lie 20 % and more apart.
u32 l2SizeShownKiB(u32 point, u8 cpuClass, u32 l1Size);

// The L2 size as the worker shows it. With the latency curve measured, its edge is the one of
// findL2Edge (cache_edges.h): a fall of the read speed that holds, else a rise of the latency
// that holds; without it, the first point from 8 on that falls to three quarters of l2Speed.
// The point of the edge then gives the size by l2SizeShownKiB where the read speed found it, by
// l2SizeAtPointKiB where the latency did. kib 0 when l1Size is 0.
struct L2Figure {
  u32 kib;
  FigureSource source;  // SweepEnd: no edge up to 4 MiB, the size is computed from 4 MiB
};
L2Figure l2Figure(const CurveCopy& dcache, const CurveCopy& latency, u8 cpuClass,
                  const CacheLevels& levels);

// Installed memory in MiB as shown: the next multiple of 8 above the whole MiB of the total, so
// that a total a little short of a round size (memory the firmware keeps) shows the round size.
// 0 for a total of 0, which is what the platform gives when the memory status call fails.
u32 installedMemoryMiB(std::uint64_t totalBytes);

// --- Fill code -------------------------------------------------------------------------------

FieldText fillModeText(u32 fillMode);  // 130: "%8lX"

}  // namespace vardelo
