#include "kernels/fill_search.h"

namespace vardelo {

void searchFillModeWith(u32 (*fetchTicks)(u32 size), const FillProgress& progress) {
  u16 code = FILL_SEARCH_FIRST;
  // Rejected codes time as BAD_SAMPLE too, but cannot win a tie with it: the first code, 0x000A,
  // is accepted, and its measured time is already below BAD_SAMPLE.
  u32 bestTicks = BAD_SAMPLE;
  u16 bestCode = 0;
  for (u32 tried = 1; tried <= FILL_CODES; ++tried) {
    bench.measuring.fillMode.store(code, std::memory_order_relaxed);
    const u32 ticks = fetchTicks(FILL_SEARCH_BYTES);
    if (ticks <= bestTicks) {
      bestTicks = ticks;
      bestCode = code;
    }
    code = static_cast<u16>(code + 1);
    if (tried % FILL_PROGRESS_EVERY == 0) progress.step(tried, bestCode);
  }
  bench.measuring.fillMode.store(bestCode, std::memory_order_relaxed);
  progress.done();
}

}  // namespace vardelo
