// The fill-pattern search: times every one of the 65536 fill codes on a 2 KiB fetch loop and
// leaves the fastest in bench.measuring.fillMode, telling a caller-given display how far it has
// come.
//
// Runs on the cache sweep worker only; no code-fetch measurement may run beside it, since it
// walks bench.measuring.fillMode through every code.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

inline constexpr u32 FILL_SEARCH_BYTES = 2048;  // size of the loop every code is timed on
inline constexpr u16 FILL_SEARCH_FIRST = 0x000A;
inline constexpr u32 FILL_CODES = 0x10000;
inline constexpr u32 FILL_PROGRESS_EVERY = 1024;  // codes tried between two progress reports

// Where the search reports to (the cache page: workers/fill_progress.h).
struct FillProgress {
  void (*step)(u32 tried, u16 bestCode);  // every FILL_PROGRESS_EVERY codes, the last included
  void (*done)();  // once at the end, bench.measuring.fillMode holding the winner
};

// The search with the real code-fetch kernel (x86 builds only; in fetch_kernel_x86.cpp).
void searchFillMode(const FillProgress& progress);

// The search, timing each code with `fetchTicks(FILL_SEARCH_BYTES)` while bench.measuring.fillMode
// holds it. Codes run from 0x000A up through 0xFFFF and round to 0x0009; the lowest time wins, the
// later code on a tie.
void searchFillModeWith(u32 (*fetchTicks)(u32 size), const FillProgress& progress);

}  // namespace vardelo
