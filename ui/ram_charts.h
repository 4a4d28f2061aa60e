// The "Read RAM" and "Write RAM" charts: per block size of 32, 64, 128 and 256 bytes a curve over
// the gap axis, drawn from a smoothed copy, with a dotted marker at gap 0 and a legend; beside
// the chart, per block size the minimum, maximum, average and linear speed and their ratio, and
// one combined figure. The write page shows the plain and the MMX write curves, and its
// statistics describe the two kinds on alternate paints. The statistics are the RAM worker's
// (workers/ram_stats.h); the page formats them.
//
// As with the cache chart, everything but the drawing surface is platform-free: snapshot, display
// list, statistics as field updates, and the closing of the paint.
#pragma once

#include "core/bench_state.h"
#include "core/curve_copy.h"
#include "core/text_format.h"
#include "ui/chart_scale.h"

namespace vardelo {

// Curves a page draws at most: the write page's four plain and four MMX curves.
inline constexpr int RAM_PAGE_CURVES = 2 * RAM_BLOCK_KINDS;

// Colour of each block size, for its curve and its legend text.
inline constexpr u32 BLOCK_COLORS[RAM_BLOCK_KINDS] = {rgb(0, 150, 255), rgb(100, 225, 225),
                                                      rgb(100, 255, 100), rgb(200, 240, 0)};

// Everything a RAM paint reads from the shared state, read once at its start.
struct RamChartSnapshot {
  Chart chart;                    // Read or Write
  bool fullFrame;                 // by the frame rule
  u32 maximum;                    // readMax or writeMax
  ChartScale storedScale;         // for a curves-only paint
  u32 backColor;
  u8 filterLevel;
  u32 paintCount;                 // write page: this paint's number, counting from 1
  u32 averages[RAM_BLOCK_KINDS];  // stored by earlier paints, MiB/s
  int curveCount;                 // 4 read curves, or 4 plain then 4 MMX write curves
  RamCurveCopy curves[RAM_PAGE_CURVES];
  RamCurveStats stats[RAM_PAGE_CURVES];  // as the RAM worker derived them, in the same order
};
RamChartSnapshot snapshotRamChart(Chart chart);

// One smoothing pass over entries 0..319, in place. Each entry becomes a quarter of the previous
// (already smoothed) entry, half of itself and a quarter of the next; it stops at the first
// unmeasured entry and leaves it in place.
void smoothPass(RamCurveCopy& entries);

// Draws `curve` from a copy smoothed at `level` into `smoothed` (entries 95..98 around linear
// access are kept as measured), one entry per column from x = 44. A curve whose first entry is
// unmeasured, not positive, or above `maximum` is not drawn. Uses the pen the list has selected.
void drawRamCurve(DisplayList& list, const ChartScale& scale, const RamCurveCopy& curve,
                  u8 level, u32 maximum, RamCurveCopy& smoothed);

// The fields of the statistics `stats` of block index `block` on `page` (each only when its
// number is nonzero), its average stored in `averages`, then the page's combined figure from all
// four averages. Nothing at all for a curve that has not started. The fields are
// READ_FIELDS_BASE or WRITE_FIELDS_BASE (core/pages.h) + 10 × block index + column, and base +
// COMBINED_FIELD_OFFSET for the combined figure.
void curveStats(Chart page, int block, const RamCurveStats& stats, u32 (&averages)[RAM_BLOCK_KINDS],
                FieldUpdates& fields);

// The weighted speed of a page in MiB/s: 13, 9, 6 and 4 thirty-seconds of the averages of the
// block sizes 32 to 256.
u32 combinedFigure(const u32 (&averages)[RAM_BLOCK_KINDS]);

struct RamPaint {
  ChartPaint drawing;
  // The statistics of each curve that had them due, in drawing order.
  FieldUpdates fields[RAM_BLOCK_KINDS];
  int fieldGroups;
  u32 averages[RAM_BLOCK_KINDS];  // to store for the next paints
};

// The whole of one RAM paint from its snapshot; `smoothed` is scratch for the curve being drawn.
RamPaint buildRamPaint(const RamChartSnapshot& snapshot, RamCurveCopy& smoothed);

// Counts a write paint, takes the snapshot, builds the paint and stores its scale and averages.
// User-interface thread.
RamPaint prepareRamPaint(Chart chart);

// After the list is played: the statistics go to the page's fields, then the paint's marks are
// cleared (with the pause the frame rule sets).
void finishRamPaint(Chart chart, const RamPaint& paint);

}  // namespace vardelo
