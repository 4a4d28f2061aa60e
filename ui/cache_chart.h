// The "Cache Speed " chart: the data-read and code-execution curves over the shared frame, with
// a two-line legend drawn after the curves on every paint.
//
// A paint is split so that everything but the drawing surface runs on the host: the snapshot of
// the shared state, the display list, the stored scale, and the closing (the texts of the
// figures the cache worker derived, then the end of the paint's marks). The window code only
// plays the list.
#pragma once

#include "core/bench_state.h"
#include "ui/chart_scale.h"
#include "core/curve_copy.h"

namespace vardelo {

// Everything a cache paint reads from the shared state, read once at its start.
struct CacheChartSnapshot {
  bool fullFrame;          // by the frame rule
  u32 maximum;             // cacheMax
  ChartScale storedScale;  // cacheScale, for a curves-only paint
  u32 backColor;           // chartBackColor of the face colour
  CurveCopy dcache;
  CurveCopy icache;
};
CacheChartSnapshot snapshotCacheChart();

// One point every two columns from x = 46; the curve starts with a level stroke from x = 44 and
// stops at its first unmeasured point. Draws with the pen the list has selected.
void drawCacheCurve(DisplayList& list, const ChartScale& scale, const CurveCopy& curve);

// The whole drawing of one cache paint, from its snapshot.
ChartPaint buildCachePaint(const CacheChartSnapshot& snapshot);

// Snapshot, drawing and stored scale of the paint about to run. User-interface thread.
ChartPaint prepareCachePaint();

// After the list is played: the page's figure fields show the figures as they stand, then the
// paint's marks are cleared (with the 25 ms pause of a paint the refresh thread did not
// announce).
void finishCachePaint();

}  // namespace vardelo
