#include "ui/cache_chart.h"

#include "platform/platform.h"
#include "ui/cache_fields.h"
#include "ui/chart_scale.h"
#include "ui/frame_rule.h"

namespace vardelo {

namespace {

constexpr u8 CURVE_PEN = 0;
constexpr u8 CURVE_PEN_WIDTH = 2;
constexpr i32 FIRST_POINT_X = 46;
constexpr i32 POINT_SPACING = 2;

struct CurveLook {
  u32 pen;
  u32 legendColor;
  i32 legendX, legendY;
  const char* legend;  // code page 1251
  int legendChars;
};

constexpr CurveLook DATA_LOOK{rgb(200, 200, 0), rgb(255, 255, 0), 244, 16,
                              "\xF7\xF2\xE5\xED\xE8\xE5  (D-cache)", 17};  // "чтение  (D-cache)"
constexpr CurveLook CODE_LOOK{rgb(0, 200, 0), rgb(0, 255, 0), 244, 31,
                              "\xE2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5(I-cache)",
                              19};  // "выполнение(I-cache)"

void drawCurveWithPen(DisplayList& list, const ChartScale& scale, const CurveCopy& curve,
                      const CurveLook& look) {
  list.newPen(CURVE_PEN, PenStyle::Solid, CURVE_PEN_WIDTH, look.pen);
  drawCacheCurve(list, scale, curve);
  list.freePen(CURVE_PEN);
}

void drawLegend(DisplayList& list, const CurveLook& look) {
  list.text(look.legendX, look.legendY, look.legendColor, look.legend, look.legendChars,
            PLOT_RIGHT);
}

}  // namespace

CacheChartSnapshot snapshotCacheChart() {
  CacheChartSnapshot s;
  s.fullFrame = chartWantsFullFrame(Chart::Cache);
  s.maximum = bench.results.cacheMax.load(std::memory_order_relaxed);
  s.storedScale = bench.window.cacheScale;
  s.backColor = chartBackColor(bench.machine.faceColor.load(std::memory_order_relaxed));
  copyCurve(bench.results.dcacheCurve, s.dcache);
  copyCurve(bench.results.icacheCurve, s.icache);
  return s;
}

void drawCacheCurve(DisplayList& list, const ChartScale& scale, const CurveCopy& curve) {
  if (curve[0] == NO_POINT) return;
  list.moveTo(PLOT_LEFT, curveY(scale, curve[0]));
  for (i32 i = 0; i < CACHE_POINTS; ++i) {
    if (curve[i] == NO_POINT) return;
    list.lineTo(FIRST_POINT_X + POINT_SPACING * i, curveY(scale, curve[i]));
  }
}

ChartPaint buildCachePaint(const CacheChartSnapshot& snapshot) {
  ChartPaint paint{{}, snapshot.fullFrame, snapshot.storedScale};
  DisplayList& list = paint.list;
  appendPaintOpening(list, snapshot.backColor);
  if (snapshot.fullFrame) {
    paint.scale = appendFullFrame(list, Chart::Cache, snapshot.maximum, snapshot.backColor);
  }
  drawCurveWithPen(list, paint.scale, snapshot.dcache, DATA_LOOK);
  drawCurveWithPen(list, paint.scale, snapshot.icache, CODE_LOOK);
  list.setBackMode(BackgroundMode::Transparent);
  drawLegend(list, DATA_LOOK);
  drawLegend(list, CODE_LOOK);
  return paint;
}

ChartPaint prepareCachePaint() {
  ChartPaint paint = buildCachePaint(snapshotCacheChart());
  bench.window.cacheScale = paint.scale;
  return paint;
}

void finishCachePaint() {
  const CacheFigures figures = bench.results.cacheFigures.load();
  platform::sendFieldUpdates(
      PAGE_CACHE, cacheFieldTexts(figures, bench.machine.cpuClass.load(std::memory_order_relaxed)));
  // The L3 column stays greyed, as on processors without one, until an L3 is measured.
  platform::setL3ColumnEnabled(showsL3(figures));
  endChartPaint(Chart::Cache);
}

}  // namespace vardelo
