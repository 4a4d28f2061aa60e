#include "ui/chart_scale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/display_list_text.h"

namespace vardelo {
namespace {

constexpr u32 CLASSIC_FACE = rgb(192, 192, 192);
constexpr u32 CLASSIC_BACK = rgb(187, 187, 192);

// The horizontal grid of a frame as drawn: each line's row and end columns, and the labels.
struct HorizontalGrid {
  std::vector<i32> rows;
  std::vector<i32> lefts, rights;
  std::vector<std::string> labels;  // "text@x,y"
};

HorizontalGrid horizontalGrid(const DisplayList& list) {
  HorizontalGrid g;
  const auto& items = list.items;
  for (size_t k = 0; k + 1 < items.size(); ++k) {
    const DrawItem& a = items[k];
    const DrawItem& b = items[k + 1];
    if (a.op == DrawOp::MoveTo && b.op == DrawOp::LineTo && a.y == b.y && a.x != b.x) {
      g.rows.push_back(a.y);
      g.lefts.push_back(a.x);
      g.rights.push_back(b.x);
    }
    if (a.op == DrawOp::Text) {
      g.labels.push_back(std::string(a.text, a.textLength) + "@" + std::to_string(a.x) + "," +
                         std::to_string(a.y));
    }
  }
  return g;
}

TEST(ChartScale, ScaleRuleAndItsGrid) {
  const struct {
    u32 maximum;
    ChartScale scale;
    size_t lines;
    i32 topRow;  // row of the last (highest) grid line
    std::vector<std::string> labels;
  } cases[] = {
      {10240, {10880, 1000, 500, 43}, 22, 12,
       {"(Mb/s)@8,251", "     1@4,228", "     2@4,205", "     3@4,182", "     4@4,158",
        "     5@4,135", "     6@4,112", "     7@4,89", "     8@4,65", "     9@4,42",
        "    10@4,19"}},
      {1500000, {1593750, 200000, 100000, 6375}, 16, 256 - 1500000 / 6375,
       {"(Mb/s)@8,251", "   200@4,220", "   400@4,189", "   600@4,157", "   800@4,126",
        "  1000@4,95", "  1200@4,63", "  1400@4,32"}},
      {3000000, {3187500, 500000, 250000, 12750}, 13, 256 - 3000000 / 12750,
       {"(Mb/s)@8,251", "   500@4,212", "  1000@4,173", "  1500@4,134", "  2000@4,95",
        "  2500@4,55", "  3000@4,16"}},
      {20000000, {21250000, 2000000, 1000000, 85000}, 22, 256 - 21000000 / 85000,
       {"(Mb/s)@8,251", "  2000@4,228", "  4000@4,204", "  6000@4,181", "  8000@4,157",
        " 10000@4,134", " 12000@4,110", " 14000@4,87", " 16000@4,63", " 18000@4,40",
        " 20000@4,16"}},
      // Below 75 no power of ten: lines every 2, labels every 4, all reading 0.
      {50, {53, 5, 2, 1}, 27, 256 - 52,
       {"(Mb/s)@8,251", "     0@4,247", "     0@4,243", "     0@4,239", "     0@4,235",
        "     0@4,231", "     0@4,227", "     0@4,223", "     0@4,219", "     0@4,215",
        "     0@4,211", "     0@4,207", "     0@4,203", "     0@4,199"}},
      // A grid whose top is 0 still has its baseline and unit label.
      {0, {0, 1, 1, 1}, 1, 256, {"(Mb/s)@8,251"}},
      // unitsPerPixel is truncated, so the line for 1050 lands above the page.
      {1000, {1062, 100, 50, 4}, 22, -6,
       {"(Mb/s)@8,251", "     0@4,226", "     0@4,201", "     0@4,176", "     0@4,151",
        "     0@4,126", "     0@4,101", "     0@4,76", "     0@4,51", "     0@4,26",
        "     1@4,1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("maximum " + std::to_string(c.maximum));
    const ChartScale s = chartScaleFor(c.maximum);
    EXPECT_EQ(s.top, c.scale.top);
    EXPECT_EQ(s.majorStep, c.scale.majorStep);
    EXPECT_EQ(s.lineStep, c.scale.lineStep);
    EXPECT_EQ(s.unitsPerPixel, c.scale.unitsPerPixel);

    DisplayList list;
    const ChartScale drawn = appendFullFrame(list, Chart::Cache, c.maximum, CLASSIC_BACK);
    EXPECT_EQ(drawn.top, c.scale.top);
    const HorizontalGrid g = horizontalGrid(list);
    ASSERT_EQ(g.rows.size(), c.lines);
    EXPECT_EQ(g.rows.front(), 256);
    EXPECT_EQ(g.rows.back(), c.topRow);
    EXPECT_EQ(g.labels, c.labels);
  }
}

TEST(ChartScale, RowsOfGridAndCurveValues) {
  const ChartScale initial = chartScaleFor(10240);
  const ChartScale big = chartScaleFor(3000000);
  const struct {
    const char* what;
    i32 got, expected;
  } cases[] = {
      {"grid 0", gridY(initial, 0), 256},
      {"grid 10500 at 43 per row", gridY(initial, 10500), 12},
      {"grid below one row", gridY(initial, 42), 256},
      {"curve 0", curveY(initial, 0), 256},
      // 10240 KiB/s is 10000 grid units, 232 rows up.
      {"curve 10240", curveY(initial, 10240), 24},
      // A value equal to the maximum sits at about 92 % of the height.
      {"curve at maximum 3000000", curveY(big, 3000000), 27},
      // 4000000000 × 1000 needs more than 32 bits before the division.
      {"curve 4000000000", curveY(big, 4000000000u), 256 - 3906250000 / 12750},
      {"curve of a scale never computed", curveY(ChartScale{}, 1024), 256 - 1000},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(ChartScale, BackColourLowersRedAndGreenOnly) {
  const struct {
    u32 face, back;
  } cases[] = {
      {CLASSIC_FACE, CLASSIC_BACK},
      {rgb(236, 233, 216), rgb(231, 228, 216)},
      {rgb(5, 6, 7), rgb(0, 1, 7)},
      {rgb(3, 0, 255), rgb(0, 0, 255)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(chartBackColor(c.face), c.back) << std::hex << "face 0x" << c.face;
  }
}

// The frame of the initial maxima on the cache chart, item by item.
TEST(ChartScale, FullFrameOfTheInitialMaxima) {
  DisplayList want;
  want.fillRect(44, 6, 364, 256, rgb(0, 0, 0));
  want.fillRect(2, 0, 44, 256, CLASSIC_BACK);
  want.fillRect(2, 0, 364, 6, CLASSIC_BACK);
  want.fillRect(2, 256, 364, 360, CLASSIC_BACK);
  want.fillRect(364, 0, 375, 360, CLASSIC_BACK);
  want.newPen(0, PenStyle::Solid, 1, rgb(0, 100, 100));
  for (int k = 0; k <= 40; ++k) want.moveTo(44 + 8 * k, 6), want.lineTo(44 + 8 * k, 256);
  want.newPen(1, PenStyle::Solid, 1, rgb(0, 150, 150));
  for (int k = 0; k <= 10; ++k) want.moveTo(44 + 32 * k, 6), want.lineTo(44 + 32 * k, 256);
  for (u32 n = 0; n < 22; ++n) {
    const u32 value = 500 * n;
    const i32 row = 256 - static_cast<i32>(value / 43);
    want.selectPen(n % 2 == 0 ? 1 : 0);
    want.moveTo(45, row);
    want.lineTo(364, row);
    if (n == 0) want.text(8, 251, 0, "(Mb/s)", 6, 44);
    if (n != 0 && n % 2 == 0) {
      const std::string label = std::string(n / 2 < 10 ? "     " : "    ") + std::to_string(n / 2);
      want.text(4, row - 5, 0, label.c_str(), 6, 44);
    }
  }
  want.freePen(0);
  want.freePen(1);

  DisplayList got;
  appendFullFrame(got, Chart::Cache, 10240, CLASSIC_BACK);
  EXPECT_EQ(listDifference(got, want), "");
}

// What differs between the charts' frames: pens, horizontal line ends, the unit label's row and
// the right margin.
TEST(ChartScale, PerChartFrameItems) {
  const struct {
    Chart chart;
    u32 fine, coarse;
    i32 left, right;
    std::string unitLabel;
    i32 marginRight;
  } cases[] = {
      {Chart::Cache, rgb(0, 100, 100), rgb(0, 150, 150), 45, 364, "(Mb/s)@8,251", 375},
      {Chart::Read, rgb(0, 50, 50), rgb(0, 75, 75), 44, 365, "(Mb/s)@8,249", 376},
      {Chart::Write, rgb(50, 15, 50), rgb(75, 22, 75), 44, 365, "(Mb/s)@8,249", 376},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.chart));
    DisplayList list;
    appendFullFrame(list, c.chart, 1500000, CLASSIC_BACK);
    std::vector<u32> penColors;
    for (const DrawItem& i : list.items)
      if (i.op == DrawOp::NewPen) penColors.push_back(i.color);
    EXPECT_EQ(penColors, (std::vector<u32>{c.fine, c.coarse}));
    EXPECT_EQ(describe(list.items[4]),
              "fill (364,0)-(" + std::to_string(c.marginRight) + ",360) rgb(187,187,192)");
    const HorizontalGrid g = horizontalGrid(list);
    EXPECT_EQ(g.lefts, std::vector<i32>(g.rows.size(), c.left));
    EXPECT_EQ(g.rights, std::vector<i32>(g.rows.size(), c.right));
    EXPECT_EQ(g.labels.front(), c.unitLabel);
  }
}

// Maxima whose grid top lies near the 32-bit limit: the grid still ends, below the top.
TEST(ChartScale, GridEndsNearTheTopOfTheRange) {
  for (u32 maximum : {4000000000u, 4042322160u}) {
    DisplayList list;
    const ChartScale s = appendFullFrame(list, Chart::Read, maximum, CLASSIC_BACK);
    const HorizontalGrid g = horizontalGrid(list);
    const std::uint64_t lines = (std::uint64_t{s.top} + s.lineStep - 1) / s.lineStep;
    EXPECT_EQ(g.rows.size(), lines) << "maximum " << maximum;
  }
}

// Above 0xF0F0F0F0 the maximum plus a sixteenth no longer fits 32 bits: the top saturates, and
// the curve's highest point still lands inside the plot, near where a smaller maximum puts it.
TEST(ChartScale, MaximaAboveTheLastSixteenthSaturateTheTop) {
  for (u32 maximum : {0xF0F0F0F1u, 0xF8000000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    SCOPED_TRACE("maximum " + std::to_string(maximum));
    const ChartScale s = chartScaleFor(maximum);
    EXPECT_EQ(s.top, 0xFFFFFFFFu);
    EXPECT_EQ(s.unitsPerPixel, 0xFFFFFFFFu / 250);
    EXPECT_EQ(s.majorStep, 500000000u);
    const i32 highest = curveY(s, maximum);
    EXPECT_GE(highest, 6) << "above the plot";
    EXPECT_LE(highest, 256 - 200) << "the curve's top sits low on its own scale";

    DisplayList list;
    appendFullFrame(list, Chart::Write, maximum, CLASSIC_BACK);
    const HorizontalGrid g = horizontalGrid(list);
    EXPECT_EQ(g.rows.size(), 18u);  // every 250000000 up to the top
    const std::string topLabel = g.labels.back();
    EXPECT_EQ(topLabel.substr(topLabel.find('@')),
              "@4," + std::to_string(gridY(s, 4000000000u) - 5));
  }
  // Just below, nothing changes: the top is the maximum plus a sixteenth.
  EXPECT_EQ(chartScaleFor(0xF0F0F0F0u).top, 0xFFFFFFFFu);
  EXPECT_EQ(chartScaleFor(0xF0F0F0E0u).top, 0xF0F0F0E0u + 0x0F0F0F0Eu);
}

// A value far above a small scale's grid gives a row far above the plot, never one below it.
TEST(ChartScale, RowsOfValuesFarAboveTheGridStayAbove) {
  const ChartScale tiny = chartScaleFor(50);  // one grid unit per row
  for (u32 value : {0x7FFFFFFFu, 0x80000100u, 0xC0000000u, 0xFFFFFFFFu}) {
    EXPECT_LT(gridY(tiny, value), 6) << "grid value " << value;
    EXPECT_LT(curveY(tiny, value), 6) << "curve value " << value;
  }
  EXPECT_EQ(gridY(tiny, 0xFFFFFFFFu), INT32_MIN);
  EXPECT_EQ(gridY(tiny, 0x80000100u), INT32_MIN);
  EXPECT_EQ(gridY(tiny, 0x80000000u), 256 - 2147483648LL);
}

}  // namespace
}  // namespace vardelo
