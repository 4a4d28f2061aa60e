// RAM measurement loop: turns the tick counts of one strided kernel into one speed for one gap and
// block size.
//
// The loop walks an 8 MiB RAM window once to warm up, then again and again until six results lie
// within 45 per mille of the best seen or the summed times reach about 2 seconds (a sixteenth of a
// second for cold walks, below), and returns tscRate * 8 MiB / best ticks in KiB/s.
// bench.measuring.ramStableCount counts the stable results of the current call. Cold walks (below)
// each run in another window, and windows differ in speed with where they lie in physical memory
// (seen: a few windows of a span writing half again as fast as the rest, walk after walk): the best
// of them is the best-placed window, so for them the loop returns the median walk of at least
// RAM_COLD_MIN_WALKS.
//
// Where the walks run follows bench.machine.ramSpanBytes. While the span is the window itself
// (caches of 2 MiB or less, or none described) every walk covers the first 8 MiB of the test area,
// as the program always did. A larger span holds several windows, at least four times the largest
// cache in all: each walk then takes the next window of a rotation round the span (a long step
// apart, ramRotationStep), so that it starts from main memory whatever the caches could hold. With
// four windows or more the rotation leaves out the first two, which share their bytes with the
// cache sweep, and readies each window half a turn before its walk: where the span is at least four
// times the largest cache (bench.machine.ramSpanOutgrowsCaches) going round it has already emptied
// the window out of the caches, and one flush a page brings its page tables back from memory; where
// the span is smaller, every line is flushed. Readying comes as far ahead as the turn allows. A
// flush reads the page-table entries of every page it touches: shortly after it they are still in
// the nearest caches, and a walk from there runs far faster (streaming stores up to twice as fast)
// than a long walk through memory does, which finds them one level out; long after it, or without
// it, the page tables have left the caches altogether, and the walk runs far slower. Half a turn of
// other windows' readying in between leaves them where a long walk finds them. Each phase of walks
// starts with primeRamWindows, which readies the windows its first walks take. With two windows
// each is flushed just before its walk. The walk itself, its statistics and its speed stay the
// same. The place of the next window is the one thing kept between calls
// (bench.measuring.ramSpanOffset), so that successive walks never meet a window that an earlier one
// has just left in the caches.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// A strided kernel: ticks of one walk, or BAD_SAMPLE.
using RamKernelFn = u32 (*)(u32 offset, i32 gap, u32 block);

// Empties `bytes` from testArea + offset out of the caches, every line (strideBytes 0) or one
// line every strideBytes; null where nothing is flushed.
using RamFlushFn = void (*)(u32 offset, u32 bytes, u32 strideBytes);

// True when the span holds more than one window: walks rotate and start cold.
bool ramWalksAreCold();

// The offset of the window the next walk uses, advancing bench.measuring.ramSpanOffset: always 0
// while the span is the window itself, else the windows of the rotation in turn, each
// ramRotationStep windows on from the last, wrapping within the turn. With `flush`: with two or
// three windows, the window taken, every line of `bytes` of it (what the walk may touch); with
// more, the window half a turn on is readied.
u32 takeRamWindow(RamFlushFn flush, u32 bytes = RAM_WINDOW_BYTES + RAM_WALK_OVERRUN_BYTES);

// Before a phase of walks, where the rotation readies windows ahead: readies the windows the next
// half turn of takes will return, in that order. Nothing with fewer windows or without `flush`.
void primeRamWindows(RamFlushFn flush);

// Windows from one take to the next in a turn of `turn` windows: about 0.618 of the turn, the
// nearest below that shares no factor with it, so that one turn still takes every window once,
// and the walks of one point, a few dozen takes, lie spread over the whole span instead of
// side by side. Windows differ in speed with where they lie in physical memory, in stretches
// of many windows; walks side by side measure one stretch. Turns below RAM_SPREAD_MIN_TURN go
// window by window.
u32 ramRotationStep(u32 turn);
inline constexpr u32 RAM_SPREAD_MIN_TURN = 8;

// Spans of fewer windows rotate through all of them, each flushed just before its walk.
inline constexpr u32 RAM_AHEAD_MIN_WINDOWS = 4;
// Where the span outgrows the caches: one line flushed in each page of this many bytes.
inline constexpr u32 RAM_READY_STRIDE_BYTES = 4096;
// Windows at the start of the span that the cache sweep's area (TEST_AREA_BYTES) reaches into.
inline constexpr u32 RAM_SWEEP_AREA_WINDOWS =
    (TEST_AREA_BYTES + RAM_WINDOW_BYTES - 1) / RAM_WINDOW_BYTES;

// Cold walks: the stable count ends a call only once this many walks are in, so that their median
// spans that many windows; a call ends at the most walks its times are kept for.
inline constexpr u32 RAM_COLD_MIN_WALKS = 16;
inline constexpr u32 RAM_COLD_MAX_WALKS = 1024;

// Results that deviate from the best by at most this many per mille count as stable.
inline constexpr u32 RAM_TOLERANCE_PER_MILLE = 45;
// A call ends when the count of stable results passes this.
inline constexpr u32 RAM_STABLE_LIMIT = 5;
// Kernel calls per step while they return BAD_SAMPLE; the last one is used whatever it is.
inline constexpr u32 RAM_TRIES = 10;
// A call also ends once its walks, each shifted right by this, sum to tscRate: 2048 × tscRate
// ticks, 2 seconds of walks. Cold walks (a span of several windows) get 64 × tscRate, a
// sixteenth of a second: the time of a walk from main memory varies more with what the rest of
// the machine does to memory, so six results seldom agree and most points run to the budget; at
// about a millisecond a walk that is still some sixty walks to take the median of, and the passes
// stay within twice their length with a window that the caches hold. The stop rule stays the same.
inline constexpr u32 RAM_BUDGET_SHIFT = 11;
inline constexpr u32 RAM_COLD_BUDGET_SHIFT = 6;
// The largest speed the loop returns. A speed above 32 bits (a walk of under tscRate / 512
// ticks, which no real memory achieves) saturates here rather than wrapping; it stops one short
// of NO_POINT so that a stored value never ends a curve.
inline constexpr u32 RAM_SPEED_CEILING = NO_POINT - 1;

// The loop, with the kernel and the flush as parameters: every walk, the warm-up and the retries
// too, runs in the window takeRamWindow(flush) gives. Reads bench.machine.tscRate, writes
// bench.measuring.ramStableCount.
u32 measureRamWith(RamKernelFn kernel, i32 gap, u32 block, RamFlushFn flush = nullptr);

// tscRate * 8 MiB / bestTicks in KiB/s, with a 64-bit product, saturated at RAM_SPEED_CEILING.
// bestTicks must not be 0.
u32 ramSpeedKiBps(u32 tscRate, u32 bestTicks);

// The three measurements of the RAM worker, bound to the real kernels and flush (target build
// only).
u32 measureRamRead(i32 gap, u32 block);      // strideReadTicks
u32 measureRamWrite(i32 gap, u32 block);     // strideWriteTicks
u32 measureRamWriteMmx(i32 gap, u32 block);  // strideWriteMmxTicks

// Main-memory read speed for the cache page where the walks are cold: the same loop over linear
// reads of whole windows with the block-read kernel in the chosen variant
// (bench.measuring.readMode). Target build only.
u32 measureMainMemoryRead();

// primeRamWindows with the real flush (target build only).
void primeRamSpan();

}  // namespace vardelo
