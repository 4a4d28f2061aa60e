// The fill-pattern search: times every one of the 65536 fill codes on a 2 KiB fetch loop and
// leaves the fastest in bench.fillMode, showing its progress on the cache page.
//
// Runs on the cache sweep worker only; no code-fetch measurement may run beside it, since it
// walks bench.fillMode through every code.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

inline constexpr u32 FILL_SEARCH_BYTES = 2048;  // size of the loop every code is timed on
inline constexpr u16 FILL_SEARCH_FIRST = 0x000A;

// The search with the real code-fetch kernel (target only; in fetch_kernel_win.cpp).
void searchFillMode();

// The search, timing each code with `fetchTicks(FILL_SEARCH_BYTES)` while bench.fillMode holds
// it. Codes run from 0x000A up through 0xFFFF and round to 0x0009; the lowest time wins, the
// later code on a tie. Every 1024 codes the bar in bench.progressBar goes to the label and the
// best code ("%8lX") to the value field; at the end the label reads "-" for 50 ms, then "mode".
void searchFillModeWith(u32 (*fetchTicks)(u32 size));

}  // namespace vardelo
