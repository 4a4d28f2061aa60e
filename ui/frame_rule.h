// The charts' frame rule: from the marks the workers, the refresh thread and the dialog raise,
// whether a paint draws the whole frame or only the curves over the last one, and how a paint
// closes so that the next one is announced.
#pragma once

#include "core/bench_state.h"
#include "core/pages.h"

namespace vardelo {

inline constexpr u32 PAINT_PAUSE_MS = 25;

// Raises the chart's redraw request (nothing for Chart::None).
void raiseRedraw(Chart chart);

// The marks a chart's painter reads and clears. The read chart chooses its frame by readTick
// but pauses on and clears writeTick; the write chart uses readTick for both. So nothing raises
// the write chart's tick while a write pass runs, and every write paint draws the full frame.
struct ChartMarks {
  AtomicU8* frameTick;  // raised: the refresh thread announced this paint
  AtomicU8* pauseTick;  // clear at the end of the paint: pause 25 ms; then cleared
  AtomicU8* newMax;
  AtomicU8* redraw;
  AtomicU8* posted;
  AtomicU32* paints;  // raised as each paint closes
};
ChartMarks chartMarks(Chart chart);  // chart must not be None

// The frame rule: a full frame when a redraw is asked for, the maximum changed, or the paint was
// not announced by the refresh thread; otherwise only the curves over the last frame.
constexpr bool fullFrameWanted(u8 redraw, u8 newMax, u8 frameTick) {
  return redraw != 0 || newMax != 0 || frameTick == 0;
}
// The rule applied to the chart's marks as they stand; read once at the opening of a paint.
bool chartWantsFullFrame(Chart chart);

// Closing of a chart paint: pause 25 ms when the pause tick is clear, then clear the pause tick,
// the new-maximum mark, the redraw request and the one-shot, in this order, and count the paint.
void endChartPaint(Chart chart);

}  // namespace vardelo
