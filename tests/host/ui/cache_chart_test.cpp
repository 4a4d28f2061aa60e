#include "ui/cache_chart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_1251.h"
#include "tests/host/fakes/platform_fake.h"
#include "ui/frame_rule.h"
#include "tests/support/bench_reset.h"
#include "tests/support/display_list_text.h"

namespace vardelo {
namespace {

constexpr u32 BACK = rgb(187, 187, 192);
// "чтение  (D-cache)" and "выполнение(I-cache)" in code page 1251.
const char DATA_LEGEND[] = "\xF7\xF2\xE5\xED\xE8\xE5  (D-cache)";
const char CODE_LEGEND[] = "\xE2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5(I-cache)";

// A curve measured for points 0..measured-1, point i at 1024 × (100 + i) KiB/s.
void fillCurve(CurveCopy& c, int measured) {
  std::fill(std::begin(c), std::end(c), NO_POINT);
  for (int i = 0; i < measured; ++i) c[i] = 1024 * (100 + static_cast<u32>(i));
}

// The x of every line end of a list, in order.
std::vector<i32> lineXs(const DisplayList& list) {
  std::vector<i32> xs;
  for (const DrawItem& i : list.items)
    if (i.op == DrawOp::LineTo) xs.push_back(i.x);
  return xs;
}

TEST(CacheChart, CurveLengthFollowsTheMeasuredPoints) {
  const ChartScale scale = chartScaleFor(10240);
  const struct {
    int measured;
    size_t lines;
    i32 lastX;
  } cases[] = {
      {0, 0, 0},
      {1, 1, 46},
      {42, 42, 128},   // measured up to entry 41
      {160, 160, 364}, // point 159 at the plot's right edge
  };
  for (const auto& c : cases) {
    CurveCopy curve;
    fillCurve(curve, c.measured);
    DisplayList list;
    drawCacheCurve(list, scale, curve);
    const std::vector<i32> xs = lineXs(list);
    ASSERT_EQ(xs.size(), c.lines) << c.measured << " points";
    if (c.lines == 0) {
      EXPECT_TRUE(list.items.empty()) << "an unstarted curve draws nothing";
      continue;
    }
    EXPECT_EQ(xs.back(), c.lastX) << c.measured << " points";
  }
}

TEST(CacheChart, CurveStartsWithALevelStrokeAndPlacesEachPoint) {
  const ChartScale scale = chartScaleFor(3000000);
  CurveCopy curve;
  fillCurve(curve, 0);
  curve[0] = 3000000, curve[1] = 1024000, curve[2] = 0;
  DisplayList want;
  want.moveTo(44, 27);
  want.lineTo(46, 27);
  want.lineTo(48, 256 - 1000000 / 12750);
  want.lineTo(50, 256);
  DisplayList got;
  drawCacheCurve(got, scale, curve);
  EXPECT_EQ(listDifference(got, want), "");
}

CacheChartSnapshot snapshot(bool fullFrame, int measured) {
  CacheChartSnapshot s{};
  s.fullFrame = fullFrame;
  s.maximum = 10240;
  s.storedScale = chartScaleFor(3000000);  // from an earlier full frame
  s.backColor = BACK;
  fillCurve(s.dcache, measured);
  fillCurve(s.icache, measured);
  s.icache[0] = 2048;
  return s;
}

// The curves, then the legend after them, in both kinds of paint; a curves-only paint keeps the
// stored scale, a full one draws the frame and takes a fresh scale from the maximum.
TEST(CacheChart, PaintListsOfBothKinds) {
  for (bool full : {false, true}) {
    SCOPED_TRACE(full ? "full frame" : "curves only");
    const CacheChartSnapshot s = snapshot(full, 2);
    const ChartScale scale = full ? chartScaleFor(10240) : s.storedScale;

    DisplayList want;
    want.selectFont();
    want.setBackColor(BACK);
    if (full) appendFullFrame(want, Chart::Cache, 10240, BACK);
    want.newPen(0, PenStyle::Solid, 2, rgb(200, 200, 0));
    want.moveTo(44, curveY(scale, s.dcache[0]));
    want.lineTo(46, curveY(scale, s.dcache[0]));
    want.lineTo(48, curveY(scale, s.dcache[1]));
    want.freePen(0);
    want.newPen(0, PenStyle::Solid, 2, rgb(0, 200, 0));
    want.moveTo(44, curveY(scale, 2048));
    want.lineTo(46, curveY(scale, 2048));
    want.lineTo(48, curveY(scale, s.icache[1]));
    want.freePen(0);
    want.setBackMode(BackgroundMode::Transparent);
    want.text(244, 16, rgb(255, 255, 0), DATA_LEGEND, 17, 364);
    want.text(244, 31, rgb(0, 255, 0), CODE_LEGEND, 19, 364);

    const ChartPaint got = buildCachePaint(s);
    EXPECT_EQ(listDifference(got.list, want), "");
    EXPECT_EQ(got.fullFrame, full);
    EXPECT_EQ(got.scale.unitsPerPixel, scale.unitsPerPixel);
  }
  // The legend bytes spell the texts.
  char16_t text[24];
  toUtf16From1251(DATA_LEGEND, text, 24);
  EXPECT_EQ(std::u16string(text), u"\u0447\u0442\u0435\u043D\u0438\u0435  (D-cache)");
  toUtf16From1251(CODE_LEGEND, text, 24);
  EXPECT_EQ(std::u16string(text),
            u"\u0432\u044B\u043F\u043E\u043B\u043D\u0435\u043D\u0438\u0435(I-cache)");
}

// The whole paint as the window code runs it, without the surface: marks, pause, stored scale,
// and the analysis filling the page's figures on every paint.
class CachePaint : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    resetBench();
    for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) {
      bench.results.dcacheCurve[i] = i < CACHE_POINTS ? 40960000u : NO_POINT;
      bench.results.icacheCurve[i] = NO_POINT;
    }
    bench.results.cacheMax = 40960000;
    bench.window.cacheScale = chartScaleFor(10240);
    bench.machine.faceColor = rgb(192, 192, 192);
    CacheFigures figures;  // as the cache worker derived them from the curve
    figures.dataSpeed = figure(40960000, FigureSource::Bandwidth);
    bench.results.cacheFigures.store(figures);
  }
  void TearDown() override {
    fake::reset();
    resetBench();
  }
};

TEST_F(CachePaint, FrameRuleAndPause) {
  const struct {
    u8 redraw, newMax, tick;
    bool full;
    std::vector<u32> sleeps;
  } cases[] = {
      {0, 0, 0, true, {25}},  // not announced by the refresh thread
      {0, 0, 1, false, {}},   // announced: curves only, no pause
      {1, 0, 1, true, {}},
      {0, 3, 1, true, {}},
      {2, 1, 0, true, {25}},
  };
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(testing::Message() << "redraw " << +c.redraw << ", new max " << +c.newMax
                                    << ", tick " << +c.tick);
    bench.protocol.cacheRedraw = c.redraw, bench.protocol.cacheNewMax = c.newMax,
    bench.protocol.cacheTick = c.tick;
    bench.protocol.cachePosted = 1;
    const ChartPaint paint = prepareCachePaint();
    finishCachePaint();
    EXPECT_EQ(paint.fullFrame, c.full);
    // A full frame takes its scale from cacheMax; a curves-only paint keeps the stored one.
    EXPECT_EQ(bench.window.cacheScale.top, c.full ? 43520000u : 10880u);
    EXPECT_EQ(fake::platformLog().sleeps, c.sleeps);
    for (AtomicU8* m : {&bench.protocol.cacheTick, &bench.protocol.cacheNewMax,
                        &bench.protocol.cacheRedraw, &bench.protocol.cachePosted})
      EXPECT_EQ(m->load(), 0);
    // The page shows the figures the worker derived: the data peak (40000 MiB/s).
    bool peakShown = false;
    for (const fake::PageText& t : fake::platformLog().texts)
      peakShown |= t.page == 0 && t.controlId == FIELD_DCACHE_SPEED && t.text == "  40000 ";
    EXPECT_TRUE(peakShown);
  }
}

}  // namespace
}  // namespace vardelo
