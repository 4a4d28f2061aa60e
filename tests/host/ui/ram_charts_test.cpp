#include "ui/ram_charts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_1251.h"
#include "tests/host/fakes/platform_fake.h"
#include "ui/frame_rule.h"
#include "workers/ram_stats.h"
#include "tests/support/bench_reset.h"
#include "tests/support/display_list_text.h"

namespace vardelo {
namespace {

constexpr u32 BACK = rgb(187, 187, 192);

// An unstarted curve, then the first entries set from `values`.
void setCurve(RamCurveCopy& c, std::vector<u32> values) {
  std::fill(std::begin(c), std::end(c), NO_POINT);
  std::copy(values.begin(), values.end(), c);
}

// A curve measured for entries 0..measured-1, entry k at value(k).
template <typename F>
void fillCurve(RamCurveCopy& c, int measured, F value) {
  std::fill(std::begin(c), std::end(c), NO_POINT);
  for (int k = 0; k < measured; ++k) c[k] = value(k);
}

std::vector<u32> head(const RamCurveCopy& c, int n) { return std::vector<u32>(c, c + n); }

// "id:text" for every update, in order.
std::string describe(const FieldUpdates& f) {
  std::string s;
  for (int k = 0; k < f.count; ++k)
    s += std::to_string(f.items[k].controlId) + ":\"" + f.items[k].text + "\" ";
  return s;
}

// The points of the lines a list draws: "x,y" for each line end.
std::vector<std::string> lineEnds(const DisplayList& list) {
  std::vector<std::string> ends;
  for (const DrawItem& i : list.items)
    if (i.op == DrawOp::LineTo) ends.push_back(std::to_string(i.x) + "," + std::to_string(i.y));
  return ends;
}

TEST(RamCharts, SmoothPass) {
  const struct {
    const char* name;
    std::vector<u32> in, out;
  } cases[] = {
      {"three entries", {100, 200, 300}, {125, 206, 276, NO_POINT}},
      // Each smoothed entry feeds the next and the divisions truncate, so the run of 2000
      // settles one below its level.
      {"step from 1000 to 2000",
       {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000,
        2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000},
       {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1250,
        1812, 1953, 1988, 1997, 1999, 1999, 1999, 1999, 1999, 1999, NO_POINT}},
      {"unstarted", {}, {NO_POINT, NO_POINT}},
  };
  for (const auto& c : cases) {
    RamCurveCopy e;
    setCurve(e, c.in);
    smoothPass(e);
    EXPECT_EQ(head(e, static_cast<int>(c.out.size())), c.out) << c.name;
  }

  // A finished curve: the last point takes itself for its missing neighbour, and entry 320 stays.
  RamCurveCopy full;
  fillCurve(full, RAM_POINTS, [](int) { return 4000u; });
  full[319] = 4004;
  smoothPass(full);
  EXPECT_EQ(full[317], 4000u);
  EXPECT_EQ(full[318], 1000u + 2000 + 1001);
  EXPECT_EQ(full[319], 1000u + 2002 + 1001);
  EXPECT_EQ(full[320], NO_POINT);
}

TEST(RamCharts, CurveIsDrawnOnlyFromAFirstEntryInRange) {
  const ChartScale scale = chartScaleFor(10240);
  const struct {
    u32 first;
    bool drawn;
  } cases[] = {
      {NO_POINT, false}, {0, false}, {0x80000000u, false},  // not positive as signed
      {1, true},         {10240, true},                      // up to the maximum
      {10241, false},
  };
  for (const auto& c : cases) {
    RamCurveCopy curve, smoothed;
    fillCurve(curve, RAM_POINTS, [](int) { return 5000u; });
    curve[0] = c.first;
    DisplayList list;
    drawRamCurve(list, scale, curve, 0, 10240, smoothed);
    EXPECT_EQ(!list.items.empty(), c.drawn) << "entry 0 = " << c.first;
  }
}

TEST(RamCharts, FinishedCurveEndsAtColumn363AndPartialAtItsLastPoint) {
  const ChartScale scale = chartScaleFor(3000000);
  for (int measured : {RAM_POINTS, 150}) {
    RamCurveCopy curve, smoothed;
    fillCurve(curve, measured, [](int) { return 3000000u; });
    DisplayList list;
    drawRamCurve(list, scale, curve, 4, 3000000, smoothed);
    const std::vector<std::string> ends = lineEnds(list);
    ASSERT_EQ(ends.size(), static_cast<size_t>(measured));
    EXPECT_EQ(describe(list.items.front()), "move (44,27)");
    EXPECT_EQ(ends.front(), "44,27");
    EXPECT_EQ(ends.back(), std::to_string(43 + measured) + ",27");
  }
}

// Level 0 draws the measured curve; level L smooths 2^(L-1) times; entries 95..98 always show
// what was measured.
TEST(RamCharts, FilterLevels) {
  const ChartScale scale = chartScaleFor(20000000);
  RamCurveCopy curve;
  // A saw-tooth that every pass flattens a little further.
  fillCurve(curve, RAM_POINTS, [](int k) { return k % 2 ? 18000000u : 2000000u; });
  auto rowsOf = [&](const RamCurveCopy& c) {
    std::vector<std::string> ends;
    for (int k = 0; k < RAM_POINTS; ++k)
      ends.push_back(std::to_string(44 + k) + "," + std::to_string(curveY(scale, c[k])));
    return ends;
  };
  const struct {
    u8 level;
    int passes;
  } cases[] = {{0, 0}, {1, 1}, {3, 4}, {6, 32}};
  for (const auto& c : cases) {
    RamCurveCopy expected;
    std::copy_n(curve, RAM_CURVE_ENTRIES, expected);
    for (int p = 0; p < c.passes; ++p) smoothPass(expected);
    for (int k = 95; k <= 98; ++k) expected[k] = curve[k];

    RamCurveCopy smoothed;
    DisplayList list;
    drawRamCurve(list, scale, curve, c.level, 20000000, smoothed);
    EXPECT_EQ(lineEnds(list), rowsOf(expected)) << "level " << +c.level;
    EXPECT_EQ(head(smoothed, 324), head(expected, 324)) << "level " << +c.level;
  }
  // The kept entries really differ from their smoothed values at level 6.
  RamCurveCopy sixSmoothed;
  std::copy_n(curve, RAM_CURVE_ENTRIES, sixSmoothed);
  for (int p = 0; p < 32; ++p) smoothPass(sixSmoothed);
  for (int k = 95; k <= 98; ++k) EXPECT_NE(sixSmoothed[k], curve[k]) << k;
}

TEST(RamCharts, CurveStatistics) {
  auto rising = [](int k) { return 1024u * (1000 + static_cast<u32>(k)); };
  const struct {
    const char* name;
    int measured;
    int block;
    std::string fields;
    u32 average;
  } cases[] = {
      // 320 entries: min 1000, max 1319, average 1159.5, linear 1096, 106 %, combined 9/32.
      {"finished", RAM_POINTS, 1,
       "211:\"  1319 \" 210:\"  1000 \" 212:\"  1159 \" 213:\"  1096 \" 214:\"106%\" "
       "299:\"  325MB/s\" ",
       1159},
      // Measured up to entry 149: averaged over 150 entries.
      {"partial", 150, 3,
       "231:\"  1149 \" 230:\"  1000 \" 232:\"  1074 \" 233:\"  1096 \" 234:\" 98%\" "
       "299:\"  134MB/s\" ",
       1074},
      // Entry 96 not measured yet: the linear and ratio fields keep their texts.
      {"before linear access", 90, 0,
       "201:\"  1089 \" 200:\"  1000 \" 202:\"  1044 \" 299:\"  424MB/s\" ", 1044},
  };
  for (const auto& c : cases) {
    RamCurveCopy curve;
    fillCurve(curve, c.measured, rising);
    u32 averages[RAM_BLOCK_KINDS] = {};
    FieldUpdates fields;
    curveStats(Chart::Read, c.block, ramCurveStats(curve), averages, fields);
    EXPECT_EQ(describe(fields), c.fields) << c.name;
    EXPECT_EQ(averages[c.block], c.average) << c.name;
  }
}

TEST(RamCharts, StatisticsWriteOnlyNonzeroNumbers) {
  // Every entry at `level` but entry 96 at `linear` and entry 97 at 2 × level - linear, so the
  // average is `level`.
  const struct {
    const char* name;
    u32 level, linear;
    std::string fields;
    u32 average;
  } cases[] = {
      // Average 5000 against linear 6000: (500000 + 3000) / 6000 = 83 %.
      {"ratio rounds to nearest", 5000, 6000,
       "301:\"     5 \" 300:\"     3 \" 302:\"     4 \" 303:\"     5 \" 304:\" 83%\" "
       "399:\"   36MB/s\" ",
       4},
      // Below 1 MiB/s every speed reads 0 and is left alone; the ratio and the combined figure
      // of the other blocks are still written, and the zero average is stored.
      {"slow", 500, 600, "304:\" 83%\" 399:\"   34MB/s\" ", 0},
      // A linear speed of 0: neither its field nor a ratio; the minimum 0 is left alone too.
      {"no linear speed", 5000, 0, "301:\"     9 \" 302:\"     4 \" 399:\"   36MB/s\" ", 4},
  };
  for (const auto& c : cases) {
    RamCurveCopy curve;
    fillCurve(curve, RAM_POINTS, [&](int) { return c.level; });
    curve[96] = c.linear;
    curve[97] = 2 * c.level - c.linear;
    u32 averages[RAM_BLOCK_KINDS] = {77, 66, 55, 44};
    FieldUpdates fields;
    curveStats(Chart::Write, 0, ramCurveStats(curve), averages, fields);
    EXPECT_EQ(describe(fields), c.fields) << c.name;
    EXPECT_EQ(averages[0], c.average) << c.name;
  }
}

TEST(RamCharts, UnstartedCurveHasNoStatistics) {
  RamCurveCopy curve;
  setCurve(curve, {});
  u32 averages[RAM_BLOCK_KINDS] = {5000, 4000, 3000, 2000};
  FieldUpdates fields;
  curveStats(Chart::Read, 2, ramCurveStats(curve), averages, fields);
  EXPECT_EQ(fields.count, 0);
  EXPECT_EQ(averages[2], 3000u);
}

// 320 × 20,000,000 KiB/s passes 2^32: a 32-bit sum would show 6424 instead of 19531.
TEST(RamCharts, SumOfFastCurveDoesNotWrap) {
  RamCurveCopy curve;
  fillCurve(curve, RAM_POINTS, [](int) { return 20000000u; });
  u32 averages[RAM_BLOCK_KINDS] = {};
  FieldUpdates fields;
  curveStats(Chart::Read, 0, ramCurveStats(curve), averages, fields);
  EXPECT_EQ(averages[0], 19531u);
  EXPECT_EQ(describe(fields),
            "201:\" 19531 \" 200:\" 19531 \" 202:\" 19531 \" 203:\" 19531 \" 204:\"100%\" "
            "299:\" 7934MB/s\" ");
}

TEST(RamCharts, CombinedFigure) {
  const struct {
    u32 a[RAM_BLOCK_KINDS];
    u32 figure;
  } cases[] = {
      {{5000, 4000, 3000, 2000}, 3968},  // (65000 + 36000 + 18000 + 8000) / 32
      {{1, 1, 1, 1}, 1},
      {{2, 0, 0, 0}, 0},
      {{0, 0, 0, 8}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(combinedFigure(c.a), c.figure)
        << c.a[0] << " " << c.a[1] << " " << c.a[2] << " " << c.a[3];
  }
  // Through the statistics of the 32-byte curve, last of a paint.
  RamCurveCopy curve;
  fillCurve(curve, RAM_POINTS, [](int) { return 5000u * 1024; });
  u32 averages[RAM_BLOCK_KINDS] = {0, 4000, 3000, 2000};
  FieldUpdates fields;
  curveStats(Chart::Read, 0, ramCurveStats(curve), averages, fields);
  ASSERT_GT(fields.count, 0);
  EXPECT_STREQ(fields.items[fields.count - 1].text, " 3968MB/s");
}

RamChartSnapshot snapshot(Chart chart, bool full, u32 paintCount) {
  RamChartSnapshot s{};
  s.chart = chart;
  s.fullFrame = full;
  s.maximum = 10240;
  s.storedScale = chartScaleFor(10240);
  s.backColor = BACK;
  s.filterLevel = 0;
  s.paintCount = paintCount;
  s.curveCount = chart == Chart::Write ? RAM_PAGE_CURVES : RAM_BLOCK_KINDS;
  for (int c = 0; c < s.curveCount; ++c) {
    // Curve c of block b: 2 points at (c + 1) MiB/s.
    setCurve(s.curves[c], {1024u * (c + 1), 1024u * (c + 1)});
    s.stats[c] = ramCurveStats(s.curves[c]);
  }
  return s;
}

// The items of a RAM paint: marker and legend only in full frames, then the curves from 256 down
// to 32, each with the pen of its block size.
TEST(RamCharts, PaintLists) {
  const std::string legendRead =  // "Чтение блока:"
      "back mode transparent\n"
      "text (274,11) rgb(200,200,200) "
      "\"\\xD7\\xF2\\xE5\\xED\\xE8\\xE5 \\xE1\\xEB\\xEE\\xEA\\xE0:\" before x 364\n";
  const std::string legendWrite =  // "Запись блока:"
      "back mode transparent\n"
      "text (274,11) rgb(200,200,200) "
      "\"\\xC7\\xE0\\xEF\\xE8\\xF1\\xFC \\xE1\\xEB\\xEE\\xEA\\xE0:\" before x 364\n";
  const std::string blocks =
      "text (274,26) rgb(0,150,255) \"32\" before x 293\n"
      "text (293,26) rgb(100,225,225) \"64\" before x 312\n"
      "text (312,26) rgb(100,255,100) \"128\" before x 338\n"
      "text (338,26) rgb(200,240,0) \"256\" before x 364\n";
  auto curve = [](const char* pen, int c) {
    const i32 y = curveY(chartScaleFor(10240), 1024u * (c + 1));
    const std::string p = "(" + std::to_string(44) + "," + std::to_string(y) + ")";
    return std::string(pen) + "\nmove " + p + "\nline " + p + "\nline (45," + std::to_string(y) +
           ")\nfree pen 0\n";
  };
  const std::string solid[] = {"pen 0 solid 1 rgb(0,150,255)", "pen 0 solid 1 rgb(100,225,225)",
                               "pen 0 solid 1 rgb(100,255,100)", "pen 0 solid 1 rgb(200,240,0)"};
  const std::string dot[] = {"pen 0 dot 1 rgb(0,150,255)", "pen 0 dot 1 rgb(100,225,225)",
                             "pen 0 dot 1 rgb(100,255,100)", "pen 0 dot 1 rgb(200,240,0)"};
  std::string readCurves, writeCurves;
  for (int b = 3; b >= 0; --b) readCurves += curve(solid[b].c_str(), b);
  writeCurves = readCurves;
  for (int b = 3; b >= 0; --b) writeCurves += curve(dot[b].c_str(), 4 + b);

  const struct {
    Chart chart;
    bool full;
    std::string afterFrame;
  } cases[] = {
      {Chart::Read, true,
       "pen 0 dot 1 rgb(1,1,1)\nmove (140,6)\nline (140,256)\nfree pen 0\n" + legendRead +
           blocks + readCurves},
      {Chart::Read, false, readCurves},
      {Chart::Write, true,
       "pen 0 dot 1 rgb(0,0,0)\nmove (140,6)\nline (140,256)\nfree pen 0\n" + legendWrite +
           blocks + writeCurves},
      {Chart::Write, false, writeCurves},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.chart == Chart::Read ? "read" : "write") +
                 (c.full ? ", full frame" : ", curves only"));
    RamCurveCopy smoothed;
    const RamPaint paint = buildRamPaint(snapshot(c.chart, c.full, 1), smoothed);
    DisplayList opening;
    appendPaintOpening(opening, BACK);
    if (c.full) appendFullFrame(opening, c.chart, 10240, BACK);
    EXPECT_EQ(describe(paint.drawing.list), describe(opening) + c.afterFrame);
  }
}

// The legend titles as the page shows them, from their code page 1251 bytes.
TEST(RamCharts, LegendTitlesSpellTheirTexts) {
  const struct {
    Chart chart;
    std::u16string title;
  } cases[] = {
      {Chart::Read, u"\u0427\u0442\u0435\u043D\u0438\u0435 \u0431\u043B\u043E\u043A\u0430:"},
      {Chart::Write, u"\u0417\u0430\u043F\u0438\u0441\u044C \u0431\u043B\u043E\u043A\u0430:"},
  };
  for (const auto& c : cases) {
    RamCurveCopy smoothed;
    const RamPaint paint = buildRamPaint(snapshot(c.chart, true, 1), smoothed);
    std::u16string title;
    for (const DrawItem& i : paint.drawing.list.items) {
      if (i.op != DrawOp::Text || i.y != 11) continue;
      char16_t text[DRAW_TEXT_MAX + 1];
      toUtf16From1251(i.text, i.textLength, text, DRAW_TEXT_MAX + 1);
      title = text;
    }
    EXPECT_TRUE(title == c.title) << (c.chart == Chart::Read ? "read" : "write");
  }
}

// The write page's statistics alternate: plain writes on odd paints, MMX writes on even ones.
TEST(RamCharts, WriteStatisticsAlternate) {
  for (u32 count : {1u, 2u, 3u, 4u}) {
    RamCurveCopy smoothed;
    const RamPaint paint = buildRamPaint(snapshot(Chart::Write, false, count), smoothed);
    ASSERT_EQ(paint.fieldGroups, 4);
    // Curves 0..3 are the plain kind at 1..4 MiB/s, 4..7 the MMX kind at 5..8 MiB/s.
    const bool mmx = count % 2 == 0;
    std::string averages, first;
    for (int b = 0; b < RAM_BLOCK_KINDS; ++b) averages += std::to_string(paint.averages[b]) + " ";
    EXPECT_EQ(averages, mmx ? "5 6 7 8 " : "1 2 3 4 ") << "paint " << count;
    // 256 first, so the first group is block 3's.
    const std::string maxOf256 = mmx ? "331:\"     8 \" " : "331:\"     4 \" ";
    EXPECT_EQ(describe(paint.fields[0]).substr(0, 14), maxOf256) << "paint " << count;
  }
  RamCurveCopy smoothed;
  EXPECT_EQ(buildRamPaint(snapshot(Chart::Read, false, 2), smoothed).fieldGroups, 4);
}

// The full paint without the surface: the frame rule and pause of each RAM chart, the stored
// scale and averages, the counted write paints, and the fields sent at the end.
class RamPaintRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    resetBench();
    for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
      for (int k = 0; k < RAM_CURVE_ENTRIES; ++k) {
        const bool measured = k < RAM_POINTS;
        bench.results.readCurves[b][k] = measured ? 2048000u : NO_POINT;
        bench.results.writeCurves[b][k] = measured ? 1024000u : NO_POINT;
        bench.results.writeMmxCurves[b][k] = measured ? 3072000u : NO_POINT;
      }
      // The statistics the RAM worker derives as it stores the points.
      publishRamStats(bench.results.readCurves[b]);
      publishRamStats(bench.results.writeCurves[b]);
      publishRamStats(bench.results.writeMmxCurves[b]);
    }
    bench.results.readMax = bench.results.writeMax = 3072000;
    bench.window.readScale = bench.window.writeScale = chartScaleFor(10240);
    bench.machine.faceColor = rgb(192, 192, 192);
  }
  void TearDown() override {
    resetBench();
    fake::reset();
  }
};

TEST_F(RamPaintRun, FrameRuleAndPausePerChart) {
  const struct {
    Chart chart;
    u8 redraw, newMax, readTick, writeTick;
    bool full;
    std::vector<u32> sleeps;
    u8 readTickAfter, writeTickAfter;
  } cases[] = {
      // The read chart chooses by readTick, pauses on and clears writeTick.
      {Chart::Read, 0, 0, 1, 0, false, {25}, 1, 0},
      {Chart::Read, 0, 0, 1, 1, false, {}, 1, 0},
      {Chart::Read, 0, 0, 0, 1, true, {}, 0, 0},
      {Chart::Read, 1, 0, 1, 1, true, {}, 1, 0},
      {Chart::Read, 0, 1, 1, 1, true, {}, 1, 0},
      // The write chart uses readTick for both and leaves writeTick alone.
      {Chart::Write, 0, 0, 1, 0, false, {}, 0, 0},
      {Chart::Write, 0, 0, 0, 1, true, {25}, 0, 1},
      {Chart::Write, 1, 0, 1, 1, true, {}, 0, 1},
      {Chart::Write, 0, 2, 1, 1, true, {}, 0, 1},
  };
  for (const auto& c : cases) {
    SetUp();
    const bool read = c.chart == Chart::Read;
    SCOPED_TRACE(testing::Message() << (read ? "read" : "write") << ": redraw " << +c.redraw
                                    << ", new max " << +c.newMax << ", readTick " << +c.readTick
                                    << ", writeTick " << +c.writeTick);
    (read ? bench.protocol.readRedraw : bench.protocol.writeRedraw) = c.redraw;
    (read ? bench.protocol.readNewMax : bench.protocol.writeNewMax) = c.newMax;
    (read ? bench.protocol.readPosted : bench.protocol.writePosted) = 1;
    bench.protocol.readTick = c.readTick, bench.protocol.writeTick = c.writeTick;

    const RamPaint paint = prepareRamPaint(c.chart);
    finishRamPaint(c.chart, paint);
    EXPECT_EQ(paint.drawing.fullFrame, c.full);
    EXPECT_EQ((read ? bench.window.readScale : bench.window.writeScale).top,
              c.full ? 3264000u : 10880u);
    EXPECT_EQ(fake::platformLog().sleeps, c.sleeps);
    EXPECT_EQ(bench.protocol.readTick.load(), c.readTickAfter);
    EXPECT_EQ(bench.protocol.writeTick.load(), c.writeTickAfter);
    EXPECT_EQ((read ? bench.protocol.readRedraw : bench.protocol.writeRedraw).load(), 0);
    EXPECT_EQ((read ? bench.protocol.readNewMax : bench.protocol.writeNewMax).load(), 0);
    EXPECT_EQ((read ? bench.protocol.readPosted : bench.protocol.writePosted).load(), 0);
  }
}

// Three write paints: statistics of plain, MMX, plain writes, sent to page 2 after the drawing;
// each paint counted.
TEST_F(RamPaintRun, WritePaintsCountAndAlternate) {
  const char* expectedAverage[] = {"  1000 ", "  3000 ", "  1000 "};
  for (int p = 0; p < 3; ++p) {
    fake::reset();
    bench.protocol.writeRedraw = 1;
    finishRamPaint(Chart::Write, prepareRamPaint(Chart::Write));
    EXPECT_EQ(bench.window.writePaintCount, static_cast<u32>(p + 1));
    std::vector<std::string> averages;
    for (const fake::PageText& t : fake::platformLog().texts) {
      EXPECT_EQ(t.page, 2u);
      if (t.controlId % 10 == 2 && t.controlId < 399) averages.push_back(t.text);
    }
    EXPECT_EQ(averages, std::vector<std::string>(4, expectedAverage[p])) << "paint " << p + 1;
    EXPECT_EQ(bench.window.writeAverages[0], p == 1 ? 3000u : 1000u);
  }
}

// A curve whose first entry exceeds the chart's maximum is left out of the drawing but its
// statistics are still shown.
TEST_F(RamPaintRun, CurveAboveTheMaximumIsCountedNotDrawn) {
  bench.results.readMax = 2047999;
  bench.protocol.readRedraw = 1;
  const RamPaint paint = prepareRamPaint(Chart::Read);
  int curveLines = 0;
  bool afterFrame = false;
  for (const DrawItem& i : paint.drawing.list.items) {
    if (i.op == DrawOp::SetBackMode) afterFrame = true;
    if (afterFrame && i.op == DrawOp::LineTo && i.x != 140) ++curveLines;
  }
  EXPECT_EQ(curveLines, 0);
  ASSERT_EQ(paint.fieldGroups, 4);
  EXPECT_EQ(describe(paint.fields[3]),
            "201:\"  2000 \" 200:\"  2000 \" 202:\"  2000 \" 203:\"  2000 \" 204:\"100%\" "
            "299:\" 2000MB/s\" ");
}

}  // namespace
}  // namespace vardelo
