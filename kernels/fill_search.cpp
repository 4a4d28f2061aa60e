#include "kernels/fill_search.h"

#include <cstdio>

#include "core/pages.h"
#include "platform/platform.h"

namespace vardelo {

namespace {

constexpr u32 FILL_CODES = 0x10000;
constexpr u32 PROGRESS_EVERY = 1024;
constexpr u32 CODES_PER_BAR = 2560;  // one "|" per 2560 codes tried: 25 at the end

// "<", `bars` times "|", ">". Characters behind the terminator are left as they were.
void drawProgressBar(u32 bars) {
  char* bar = bench.progressBar;
  bar[0] = '<';
  for (u32 i = 1; i <= bars; ++i) bar[i] = '|';
  bar[bars + 1] = '>';
  bar[bars + 2] = '\0';
}

void showProgress(u32 tried, u16 bestCode) {
  drawProgressBar(tried / CODES_PER_BAR);
  platform::setPageText(PAGE_CACHE, FIELD_FILL_LABEL, bench.progressBar);
  std::snprintf(bench.textBuf, sizeof bench.textBuf, "%8lX", static_cast<unsigned long>(bestCode));
  platform::setPageText(PAGE_CACHE, FIELD_FILL_MODE, bench.textBuf);
}

}  // namespace

void searchFillModeWith(u32 (*fetchTicks)(u32 size)) {
  u16 code = FILL_SEARCH_FIRST;
  // Rejected codes time as BAD_SAMPLE too, but cannot win a tie with it: the first code, 0x000A,
  // is accepted, and its measured time is already below BAD_SAMPLE.
  u32 bestTicks = BAD_SAMPLE;
  u16 bestCode = 0;
  for (u32 tried = 1; tried <= FILL_CODES; ++tried) {
    bench.fillMode.store(code, std::memory_order_relaxed);
    const u32 ticks = fetchTicks(FILL_SEARCH_BYTES);
    if (ticks <= bestTicks) {
      bestTicks = ticks;
      bestCode = code;
    }
    code = static_cast<u16>(code + 1);
    if (tried % PROGRESS_EVERY == 0) showProgress(tried, bestCode);
  }
  bench.fillMode.store(bestCode, std::memory_order_relaxed);

  platform::setPageText(PAGE_CACHE, FIELD_FILL_LABEL, "-");
  platform::sleepMs(50);
  platform::setPageText(PAGE_CACHE, FIELD_FILL_LABEL, "mode");
}

}  // namespace vardelo
