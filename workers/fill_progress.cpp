#include "workers/fill_progress.h"

#include "core/pages.h"
#include "platform/platform.h"
#include "workers/cache_figures.h"

namespace vardelo {
namespace {

constexpr u32 CODES_PER_BAR = 2560;  // one "|" per 2560 codes tried: 25 at the end
constexpr u32 DONE_PAUSE_MS = 50;

// "<", `bars` times "|", ">". Characters behind the terminator are left as they were.
void drawProgressBar(u32 bars) {
  char* bar = bench.measuring.progressBar;
  bar[0] = '<';
  for (u32 i = 1; i <= bars; ++i) bar[i] = '|';
  bar[bars + 1] = '>';
  bar[bars + 2] = '\0';
}

}  // namespace

void showFillProgress(u32 tried, u16 bestCode) {
  drawProgressBar(tried / CODES_PER_BAR);
  platform::setPageText(PAGE_CACHE, FIELD_FILL_LABEL, bench.measuring.progressBar);
  const FieldText best = fillModeText(bestCode);
  platform::setPageText(PAGE_CACHE, best.controlId, best.text);
}

void showFillDone() {
  platform::setPageText(PAGE_CACHE, FIELD_FILL_LABEL, "-");
  platform::sleepMs(DONE_PAUSE_MS);
  platform::setPageText(PAGE_CACHE, FIELD_FILL_LABEL, "mode");
}

}  // namespace vardelo
