// How the cache page shows the fill-pattern search (kernels/fill_search.h): the greyed "mode"
// label turns into a bar, "<>" growing to "<|||…|>" (one bar per 2560 codes tried, 25 at the
// end), the value field beside it shows the best code so far, and at the end the label reads
// "-" for 50 ms, then "mode" again.
#pragma once

#include "core/bench_state.h"
#include "kernels/fill_search.h"

namespace vardelo {

// Draws the bar for `tried` codes into bench.measuring.progressBar and sends it to the label, then
// the best code ("%8lX") to the value field.
void showFillProgress(u32 tried, u16 bestCode);

// "-" on the label, 50 ms, "mode".
void showFillDone();

inline constexpr FillProgress FILL_PROGRESS_ON_PAGE{showFillProgress, showFillDone};

}  // namespace vardelo
