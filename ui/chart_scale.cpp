#include "ui/chart_scale.h"

#include <cstdint>

#include "core/text_format.h"

namespace vardelo {

namespace {

// The label step is chosen on the leading digits of the grid's top: reduce it below 75, then
// take 5 from 30 up, 2 from 15 up, else 1.
constexpr u32 LEADING_LIMIT = 75;

// Vertical lines every 8 and every 32 columns, both from the plot's left edge to its right edge.
constexpr i32 FINE_GRID_SPACING = 8;
constexpr i32 COARSE_GRID_SPACING = 32;
constexpr i32 NUMBER_LABEL_X = 4;
constexpr i32 NUMBER_LABEL_RISE = 5;
constexpr i32 UNIT_LABEL_X = 8;
constexpr char UNIT_LABEL[] = "(Mb/s)";
constexpr int LABEL_CHARS = 6;

constexpr i32 MARGIN_LEFT = 2;
constexpr i32 MARGIN_BOTTOM = 360;

// A stored scale always has unitsPerPixel >= 1; a scale that was never computed must not divide
// by zero either.
u32 rowsDivisor(const ChartScale& scale) {
  return scale.unitsPerPixel != 0 ? scale.unitsPerPixel : 1;
}

void verticalGrid(DisplayList& list, i32 spacing) {
  for (i32 x = PLOT_LEFT; x <= PLOT_RIGHT; x += spacing) {
    list.moveTo(x, PLOT_TOP);
    list.lineTo(x, PLOT_BOTTOM);
  }
}

}  // namespace

ChartScale chartScaleFor(u32 maximum) {
  ChartScale s;
  // Saturates: above 0xF0F0F0F0 the sum would wrap to a small top, and every curve would be
  // drawn far above a grid made for a tiny maximum.
  const std::uint64_t top = std::uint64_t{maximum} + (maximum >> 4);
  s.top = top > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(top);
  u32 leading = s.top;
  u32 power = 1;
  while (leading >= LEADING_LIMIT) {
    power *= 10;
    leading /= 10;
  }
  const u32 multiplier = leading >= 30 ? 5 : leading >= 15 ? 2 : 1;
  s.majorStep = power * multiplier;
  if (s.majorStep == 0) s.majorStep = 1;
  s.lineStep = s.majorStep / 2;
  if (s.lineStep == 0) s.lineStep = 1;
  s.unitsPerPixel = s.top / PLOT_HEIGHT;
  if (s.unitsPerPixel == 0) s.unitsPerPixel = 1;
  return s;
}

namespace {

// A value above the grid lands above the page; one so far above that its row would pass the
// 32-bit range sticks at the top of that range instead of wrapping to a row below the plot.
i32 rowOf(u32 rowsUp) {
  const std::int64_t row = std::int64_t{PLOT_BOTTOM} - rowsUp;
  return row < INT32_MIN ? INT32_MIN : static_cast<i32>(row);
}

}  // namespace

i32 gridY(const ChartScale& scale, u32 value) { return rowOf(value / rowsDivisor(scale)); }

i32 curveY(const ChartScale& scale, u32 value) {
  const u32 grid = static_cast<u32>(static_cast<std::uint64_t>(value) * 1000 / 1024);
  return rowOf(grid / rowsDivisor(scale));
}

u32 chartBackColor(u32 faceColor) {
  const u32 red = redOf(faceColor) > 5 ? redOf(faceColor) - 5 : 0;
  const u32 green = greenOf(faceColor) > 5 ? greenOf(faceColor) - 5 : 0;
  return rgb(red, green, blueOf(faceColor));
}

FrameStyle frameStyle(Chart chart) {
  switch (chart) {
    case Chart::Read: return {rgb(0, 50, 50), rgb(0, 75, 75), 44, 365, 7, 376};
    case Chart::Write: return {rgb(50, 15, 50), rgb(75, 22, 75), 44, 365, 7, 376};
    default: return {rgb(0, 100, 100), rgb(0, 150, 150), 45, 364, 5, 375};
  }
}

void appendPaintOpening(DisplayList& list, u32 backColor) {
  list.selectFont();
  list.setBackColor(backColor);
}

ChartScale appendFullFrame(DisplayList& list, Chart chart, u32 maximum, u32 backColor) {
  const FrameStyle style = frameStyle(chart);

  list.fillRect(PLOT_LEFT, PLOT_TOP, PLOT_RIGHT, PLOT_BOTTOM, BLACK);
  list.fillRect(MARGIN_LEFT, 0, PLOT_LEFT, PLOT_BOTTOM, backColor);
  list.fillRect(MARGIN_LEFT, 0, PLOT_RIGHT, PLOT_TOP, backColor);
  list.fillRect(MARGIN_LEFT, PLOT_BOTTOM, PLOT_RIGHT, MARGIN_BOTTOM, backColor);
  list.fillRect(PLOT_RIGHT, 0, style.marginRight, MARGIN_BOTTOM, backColor);

  list.newPen(FINE_PEN, PenStyle::Solid, 1, style.finePen);
  verticalGrid(list, FINE_GRID_SPACING);
  list.newPen(COARSE_PEN, PenStyle::Solid, 1, style.coarsePen);
  verticalGrid(list, COARSE_GRID_SPACING);

  const ChartScale scale = chartScaleFor(maximum);

  // Labelled coarse lines alternate with unlabelled fine ones. The value runs in 64 bits so the
  // loop ends even when the grid's top lies within one step of the 32-bit limit.
  u32 n = 0;
  for (std::uint64_t value = 0;;) {
    const u32 s = static_cast<u32>(value);
    const bool labelled = n % 2 == 0;
    list.selectPen(labelled ? COARSE_PEN : FINE_PEN);
    const i32 row = gridY(scale, s);
    list.moveTo(style.lineLeft, row);
    list.lineTo(style.lineRight, row);
    if (labelled) {
      if (s == 0) {
        // The axis labels stay left of the plot.
        list.text(UNIT_LABEL_X, gridY(scale, 0) - style.unitLabelRise, BLACK, UNIT_LABEL,
                  LABEL_CHARS, PLOT_LEFT);
      } else {
        char label[16];
        formatText(label, sizeof label, "%6lu", static_cast<unsigned long>(s / 1000));
        list.text(NUMBER_LABEL_X, row - NUMBER_LABEL_RISE, BLACK, label, LABEL_CHARS, PLOT_LEFT);
      }
    }
    value += scale.lineStep;
    ++n;
    if (value >= scale.top) break;
  }

  list.freePen(FINE_PEN);
  list.freePen(COARSE_PEN);
  return scale;
}

}  // namespace vardelo
