// Values shared by every part of the program: the in-band markers of curve entries and
// timings, the curve layouts, the private window messages and the test-area geometry.
#pragma once

#include <cstdint>

namespace vardelo {

// A curve entry not measured yet; compared as signed it is -1 and it ends a curve.
inline constexpr std::uint32_t NO_POINT = 0xFFFFFFFFu;
// The result of a timing that was not made or did not fit in 32 bits.
inline constexpr std::uint32_t BAD_SAMPLE = 0x70000000u;

// Cache curves: points 0..159, entries 160..163 always NO_POINT.
inline constexpr int CACHE_POINTS = 160;
inline constexpr int CACHE_CURVE_ENTRIES = 164;
// RAM curves: points 0..319 (one per 32 bytes of step), entry 96 is linear access,
// entries 320..323 NO_POINT after a sweep.
inline constexpr int RAM_POINTS = 320;
inline constexpr int RAM_CURVE_ENTRIES = 324;
inline constexpr int RAM_LINEAR_ENTRY = 96;
// Entry k of a RAM curve is the step (gap + block) RAM_FIRST_STEP + 32 k bytes.
inline constexpr std::int32_t RAM_FIRST_STEP = -3072;
// Block sizes of the RAM curves, in the order the curve arrays hold them.
inline constexpr int RAM_BLOCK_KINDS = 4;
inline constexpr std::uint32_t RAM_BLOCK_BYTES[RAM_BLOCK_KINDS] = {32, 64, 128, 256};

// Request bits: cacheRestart asks for a cache sweep; ramRestart asks for the RAM passes and
// ramBusy shows which one runs.
inline constexpr std::uint8_t CACHE_RESTART_BIT = 1;
inline constexpr std::uint8_t RAM_READ_BIT = 1;
inline constexpr std::uint8_t RAM_WRITE_BIT = 2;

// Filter levels of the RAM charts: 0 (off) to 6, level L smoothing 2^(L-1) times; both charts
// start at 4.
inline constexpr std::uint8_t FILTER_LEVEL_MAX = 6;
inline constexpr std::uint8_t FILTER_LEVEL_START = 4;

// The affinity mask of the first processor, where the start-up and the two sweep workers run.
inline constexpr std::uint32_t PROCESSOR_0_MASK = 1;

// bench.l2ProbeSize until the cache-curve analysis has derived it.
inline constexpr std::uint32_t L2_PROBE_SIZE_UNSET = 0xFFFFFFFFu;

// Private window messages, always posted to the main dialog with both parameters 0.
inline constexpr unsigned UM_PAINT_CACHE = 0x400 + 1;
inline constexpr unsigned UM_PAINT_READ = 0x400 + 2;
inline constexpr unsigned UM_SHOW_TAB = 0x400 + 3;
inline constexpr unsigned UM_PAINT_WRITE = 0x400 + 4;
// Sent by an outside program that watches a run (the end-to-end tests' probe), with what it asks
// for in wParam and its window in lParam: the dialog sends that copy back to the window as
// WM_COPYDATA, tagged with the same SNAPSHOT_ value. Messages reach the program wherever it runs;
// reading its memory from outside does not work under an emulator.
inline constexpr unsigned UM_SNAPSHOT = 0x400 + 5;
inline constexpr unsigned SNAPSHOT_BENCH = 0;      // the whole BenchState
inline constexpr unsigned SNAPSHOT_TAB_RECTS = 1;  // each tab's RECT, in the tab control's client

// The test buffer: 12 MiB + 4 KiB, so that a 12 MiB area aligned to 4 KiB fits inside it.
inline constexpr std::uint32_t TEST_BUFFER_BYTES = 0xC01000u;
inline constexpr std::uint32_t TEST_AREA_BYTES = 0xC00000u;
inline constexpr std::uint32_t TEST_AREA_ALIGN = 4096u;
// The window one strided walk covers: 8 MiB of the test area, the first 8 MiB unless the walks
// rotate through a larger span. Its touches reach up to 255 bytes beyond its end.
inline constexpr std::uint32_t RAM_WINDOW_BYTES = 0x800000u;
inline constexpr std::uint32_t RAM_WALK_OVERRUN_BYTES = 256u;

// The span the RAM walks rotate through, from the largest cache (startup/cache_description.h):
// the window alone while that cache is at most 2 MiB or unknown, else a power of two at least
// four times the cache, at most 512 MiB (a 32-bit process rarely finds much more in one piece)
// and at most an eighth of the machine's memory. A 64-bit process has the room for more: there
// the cap is 2 GiB, the largest power of two a 32-bit size holds.
inline constexpr std::uint32_t RAM_SPAN_SMALL_CACHE_BYTES = 2u << 20;
inline constexpr std::uint32_t RAM_SPAN_CACHE_FACTOR = 4;
inline constexpr std::uint32_t RAM_SPAN_MAX_BYTES = 512u << 20;
inline constexpr std::uint32_t RAM_SPAN_MAX_BYTES_64BIT = 2u << 30;
inline constexpr std::uint32_t RAM_SPAN_MEMORY_SHARE = 8;

}  // namespace vardelo
