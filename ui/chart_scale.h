// The frame the three charts share: a black plot of 320 by 250 pixels, margins in a shade of the
// system's face colour, a two-level vertical grid, and a horizontal grid with labels in MiB/s
// whose spacing follows the chart's maximum.
//
// The vertical axis counts grid units of a thousandth of a displayed MiB/s: grid value g is
// labelled g / 1000, and a curve value v (KiB/s) sits at grid value v × 1000 / 1024, so a label
// reads the same figure that the page's fields show.
#pragma once

#include "core/bench_state.h"
#include "ui/display_list.h"
#include "ui/frame_rule.h"

namespace vardelo {

// The plot area, right column and bottom row excluded; row 256 stands for the value 0.
inline constexpr i32 PLOT_LEFT = 44;
inline constexpr i32 PLOT_TOP = 6;
inline constexpr i32 PLOT_RIGHT = 364;
inline constexpr i32 PLOT_BOTTOM = 256;
inline constexpr u32 PLOT_HEIGHT = 250;

inline constexpr u32 BLACK = rgb(0, 0, 0);

// The scale for a chart whose maximum is `maximum` KiB/s: the grid runs to the maximum plus a
// sixteenth, labelled every 1, 2 or 5 times a power of ten.
ChartScale chartScaleFor(u32 maximum);

// Pixel row of grid value `value`. Small maxima put the upper grid lines above the page, so the
// row may be negative.
i32 gridY(const ChartScale& scale, u32 value);

// Pixel row of curve value `value` (KiB/s).
i32 curveY(const ChartScale& scale, u32 value);

// The margin colour: the face colour with red and green lowered by 5 (not below 0).
u32 chartBackColor(u32 faceColor);

// Per-chart colours and positions of the frame.
struct FrameStyle {
  u32 finePen;        // fine vertical lines and odd horizontal lines
  u32 coarsePen;      // coarse vertical lines and the labelled horizontal lines
  i32 lineLeft;       // horizontal lines run from lineLeft to lineRight
  i32 lineRight;
  i32 unitLabelRise;  // "(Mb/s)" sits this many rows above the baseline
  i32 marginRight;    // the right margin ends before this column
};
FrameStyle frameStyle(Chart chart);  // Cache, Read or Write

// The drawing of one chart paint.
struct ChartPaint {
  DisplayList list;
  bool fullFrame;
  ChartScale scale;  // the scale the curves were placed with, stored for the next paints
};

// Pen slots of the frame's two grid pens.
inline constexpr u8 FINE_PEN = 0;
inline constexpr u8 COARSE_PEN = 1;

// The opening of every chart paint: the chart font, then the margin colour behind text cells and
// dotted pens. Text colours travel with each text item.
void appendPaintOpening(DisplayList& list, u32 backColor);

// The full frame of `chart` in its order: plot, margins, fine and coarse vertical grid, the
// horizontal grid with its labels. Returns the scale it drew, for the curves-only paints that
// follow. Leaves no pen in the list's slots.
ChartScale appendFullFrame(DisplayList& list, Chart chart, u32 maximum, u32 backColor);

}  // namespace vardelo
