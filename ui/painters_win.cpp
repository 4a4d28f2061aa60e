// The three chart painters: each builds its paint from one snapshot of the shared state, plays
// it onto its page inside the paint bracket, and closes by the page's rules (the cache page runs
// the analysis, the RAM pages send their statistics; then the marks are cleared).
#include <windows.h>

#include "core/bench_state.h"
#include "ui/cache_chart.h"
#include "ui/gdi_player_win.h"
#include "ui/painters.h"
#include "ui/ram_charts.h"

namespace vardelo {

namespace {

// Opens the paint on the chart's page. Without the page (no dialog yet) there is nothing to draw
// on, GetDC of no window being the whole screen; the paint then only keeps the protocol going.
bool openPage(ChartPaintBracket& bracket, Chart chart) {
  const HWND window = static_cast<HWND>(
      bench.window.hPages[static_cast<int>(chart)].load(std::memory_order_relaxed));
  if (window == nullptr) return false;
  openChartPaint(bracket, window);
  return true;
}

void paintRamChart(Chart chart) {
  ChartPaintBracket bracket;
  const bool onPage = openPage(bracket, chart);
  const RamPaint paint = prepareRamPaint(chart);
  if (onPage) playDisplayList(bracket.playback, paint.drawing.list);
  finishRamPaint(chart, paint);
  if (onPage) closeChartPaint(bracket);
}

}  // namespace

void paintCacheChart() {
  ChartPaintBracket bracket;
  const bool onPage = openPage(bracket, Chart::Cache);
  const ChartPaint paint = prepareCachePaint();
  if (onPage) playDisplayList(bracket.playback, paint.list);
  finishCachePaint();
  if (onPage) closeChartPaint(bracket);
}

void paintReadChart() { paintRamChart(Chart::Read); }

void paintWriteChart() { paintRamChart(Chart::Write); }

}  // namespace vardelo
