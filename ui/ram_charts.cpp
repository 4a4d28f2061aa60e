#include "ui/ram_charts.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "ui/frame_rule.h"

namespace vardelo {

namespace {

constexpr u32 KIB = 1024;
constexpr u8 PEN = 0;

// The dotted marker stands under gap 0, the column of entry 96.
constexpr i32 MARKER_X = PLOT_LEFT + RAM_LINEAR_ENTRY;

// Entries around linear access that every filter level leaves as measured: smoothing would
// smear the sharp step at gap 0 into its neighbours.
constexpr int UNSMOOTHED_FIRST = 95;
constexpr int UNSMOOTHED_LAST = 98;

constexpr u32 LEGEND_TITLE_COLOR = rgb(200, 200, 200);
constexpr i32 LEGEND_X[RAM_BLOCK_KINDS] = {274, 293, 312, 338};
constexpr i32 LEGEND_TITLE_Y = 11;
constexpr i32 LEGEND_Y = 26;
constexpr const char* LEGEND_TEXT[RAM_BLOCK_KINDS] = {"32", "64", "128", "256"};

struct PageLook {
  const char* title;  // code page 1251, 13 characters
  u32 markerPen;
  u32 fieldsBase;
};

constexpr PageLook READ_LOOK{"\xD7\xF2\xE5\xED\xE8\xE5 \xE1\xEB\xEE\xEA\xE0:",  // "Чтение блока:"
                             rgb(1, 1, 1), READ_FIELDS_BASE};
constexpr PageLook WRITE_LOOK{"\xC7\xE0\xEF\xE8\xF1\xFC \xE1\xEB\xEE\xEA\xE0:",  // "Запись блока:"
                              rgb(0, 0, 0), WRITE_FIELDS_BASE};
constexpr int LEGEND_TITLE_CHARS = 13;

const PageLook& pageLook(Chart chart) { return chart == Chart::Write ? WRITE_LOOK : READ_LOOK; }

// Statistics columns.
constexpr u32 COL_MIN = 0, COL_MAX = 1, COL_AVERAGE = 2, COL_LINEAR = 3, COL_RATIO = 4;
constexpr char SPEED_FORMAT[] = " %5lu ";
constexpr char RATIO_FORMAT[] = "%3lu%%";
constexpr char COMBINED_FORMAT[] = "%5luMB/s";

i32 asSigned(u32 v) { return static_cast<i32>(v); }

void addIfNonzero(FieldUpdates& fields, u32 id, const char* format, u32 value) {
  if (value != 0) fields.add(id, format, value);
}

void drawMarkerAndLegend(DisplayList& list, Chart chart) {
  const PageLook& look = pageLook(chart);
  list.newPen(PEN, PenStyle::Dot, 1, look.markerPen);
  list.moveTo(MARKER_X, PLOT_TOP);
  list.lineTo(MARKER_X, PLOT_BOTTOM);
  list.freePen(PEN);
  list.setBackMode(BackgroundMode::Transparent);
  // The legend stays inside the plot, each block size before the next one.
  list.text(LEGEND_X[0], LEGEND_TITLE_Y, LEGEND_TITLE_COLOR, look.title, LEGEND_TITLE_CHARS,
            PLOT_RIGHT);
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
    const char* text = LEGEND_TEXT[b];
    list.text(LEGEND_X[b], LEGEND_Y, BLOCK_COLORS[b], text, static_cast<int>(std::strlen(text)),
              b + 1 < RAM_BLOCK_KINDS ? LEGEND_X[b + 1] : PLOT_RIGHT);
  }
}

}  // namespace

RamChartSnapshot snapshotRamChart(Chart chart) {
  const bool write = chart == Chart::Write;
  RamChartSnapshot s;
  s.chart = chart;
  s.fullFrame = chartWantsFullFrame(chart);
  s.maximum =
      (write ? bench.results.writeMax : bench.results.readMax).load(std::memory_order_relaxed);
  s.storedScale = write ? bench.window.writeScale : bench.window.readScale;
  s.backColor = chartBackColor(bench.machine.faceColor.load(std::memory_order_relaxed));
  s.filterLevel =
      (write ? bench.window.writeFilter : bench.window.readFilter).load(std::memory_order_relaxed);
  s.paintCount = bench.window.writePaintCount;
  std::copy_n(write ? bench.window.writeAverages : bench.window.readAverages, RAM_BLOCK_KINDS,
              s.averages);
  s.curveCount = write ? RAM_PAGE_CURVES : RAM_BLOCK_KINDS;
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
    copyRamCurve(write ? bench.results.writeCurves[b] : bench.results.readCurves[b], s.curves[b]);
    s.stats[b] = (write ? bench.results.writeStats[b] : bench.results.readStats[b]).load();
    if (write) {
      copyRamCurve(bench.results.writeMmxCurves[b], s.curves[RAM_BLOCK_KINDS + b]);
      s.stats[RAM_BLOCK_KINDS + b] = bench.results.writeMmxStats[b].load();
    }
  }
  return s;
}

void smoothPass(RamCurveCopy& e) {
  u32 prev = e[0];
  u32 cur = e[0];
  for (int i = 0; i < RAM_POINTS; ++i) {
    u32 next = e[i + 1];  // entry 320 for the last point: NO_POINT on a finished curve
    if (prev == NO_POINT || cur == NO_POINT) return;
    if (next == NO_POINT) next = cur;
    // Each term is divided first, so the sum stays below 2^32.
    e[i] = prev / 4 + cur / 2 + next / 4;
    prev = e[i];
    cur = e[i + 1];
  }
}

void drawRamCurve(DisplayList& list, const ChartScale& scale, const RamCurveCopy& curve,
                  u8 level, u32 maximum, RamCurveCopy& smoothed) {
  if (asSigned(curve[0]) <= 0 || asSigned(curve[0]) > asSigned(maximum)) return;
  std::copy_n(curve, RAM_CURVE_ENTRIES, smoothed);
  if (level >= 1) {
    const u32 passes = 1u << (std::min(level, FILTER_LEVEL_MAX) - 1);
    for (u32 p = 0; p < passes; ++p) smoothPass(smoothed);
    for (int k = UNSMOOTHED_FIRST; k <= UNSMOOTHED_LAST; ++k) smoothed[k] = curve[k];
  }
  list.moveTo(PLOT_LEFT, curveY(scale, smoothed[0]));
  for (int k = 0; k <= RAM_POINTS; ++k) {
    if (smoothed[k] == NO_POINT) return;
    list.lineTo(PLOT_LEFT + k, curveY(scale, smoothed[k]));
  }
}

u32 combinedFigure(const u32 (&a)[RAM_BLOCK_KINDS]) {
  // MiB/s figures: the weighted sum stays far below 2^32 (13 × 4 TiB/s would be needed).
  return (13 * a[0] + 9 * a[1] + 6 * a[2] + 4 * a[3]) / 32;
}

void curveStats(Chart page, int block, const RamCurveStats& stats, u32 (&averages)[RAM_BLOCK_KINDS],
                FieldUpdates& fields) {
  if (stats.points == 0) return;
  const u32 base = pageLook(page).fieldsBase + 10 * static_cast<u32>(block);
  addIfNonzero(fields, base + COL_MAX, SPEED_FORMAT, stats.maxKiBps / KIB);
  addIfNonzero(fields, base + COL_MIN, SPEED_FORMAT, stats.minKiBps / KIB);
  averages[block] = stats.averageKiBps / KIB;
  addIfNonzero(fields, base + COL_AVERAGE, SPEED_FORMAT, stats.averageKiBps / KIB);
  if (stats.linearKiBps != NO_POINT) {
    addIfNonzero(fields, base + COL_LINEAR, SPEED_FORMAT, stats.linearKiBps / KIB);
  }
  addIfNonzero(fields, base + COL_RATIO, RATIO_FORMAT, ratioPercent(stats));
  addIfNonzero(fields, pageLook(page).fieldsBase + COMBINED_FIELD_OFFSET, COMBINED_FORMAT,
               combinedFigure(averages));
}

RamPaint buildRamPaint(const RamChartSnapshot& s, RamCurveCopy& smoothed) {
  RamPaint paint{{{}, s.fullFrame, s.storedScale}, {}, 0, {}};
  std::copy_n(s.averages, RAM_BLOCK_KINDS, paint.averages);
  DisplayList& list = paint.drawing.list;

  appendPaintOpening(list, s.backColor);
  if (s.fullFrame) {
    paint.drawing.scale = appendFullFrame(list, s.chart, s.maximum, s.backColor);
    drawMarkerAndLegend(list, s.chart);
  }
  const ChartScale scale = paint.drawing.scale;

  // Largest block first, so the 32-byte curve ends on top; on the write page the plain curves
  // (solid) come before the MMX ones (dotted). Statistics: every read curve; on the write page
  // the plain curves on odd paints, the MMX curves on even ones.
  for (int c = 0; c < s.curveCount; ++c) {
    const bool mmx = c >= RAM_BLOCK_KINDS;
    const int block = RAM_BLOCK_KINDS - 1 - c % RAM_BLOCK_KINDS;
    const int slot = mmx ? RAM_BLOCK_KINDS + block : block;
    const RamCurveCopy& curve = s.curves[slot];
    list.newPen(PEN, mmx ? PenStyle::Dot : PenStyle::Solid, 1, BLOCK_COLORS[block]);
    drawRamCurve(list, scale, curve, s.filterLevel, s.maximum, smoothed);
    const bool statsDue = s.chart == Chart::Read || (s.paintCount % 2 == 1) != mmx;
    if (statsDue) {
      curveStats(s.chart, block, s.stats[slot], paint.averages, paint.fields[paint.fieldGroups++]);
    }
    list.freePen(PEN);
  }
  return paint;
}

RamPaint prepareRamPaint(Chart chart) {
  if (chart == Chart::Write) ++bench.window.writePaintCount;
  RamCurveCopy& smoothed =
      chart == Chart::Write ? bench.window.writeSmoothed : bench.window.readSmoothed;
  RamPaint paint = buildRamPaint(snapshotRamChart(chart), smoothed);
  (chart == Chart::Write ? bench.window.writeScale : bench.window.readScale) = paint.drawing.scale;
  std::copy_n(paint.averages, RAM_BLOCK_KINDS,
              chart == Chart::Write ? bench.window.writeAverages : bench.window.readAverages);
  return paint;
}

void finishRamPaint(Chart chart, const RamPaint& paint) {
  for (int g = 0; g < paint.fieldGroups; ++g) {
    platform::sendFieldUpdates(static_cast<u32>(chart), paint.fields[g]);
  }
  endChartPaint(chart);
}

}  // namespace vardelo
