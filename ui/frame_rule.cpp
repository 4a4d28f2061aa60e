#include "ui/frame_rule.h"

#include "platform/platform.h"

namespace vardelo {

void raiseRedraw(Chart chart) {
  if (chart != Chart::None) chartMarks(chart).redraw->fetch_add(1);
}

ChartMarks chartMarks(Chart chart) {
  Protocol& p = bench.protocol;
  switch (chart) {
    case Chart::Read:
      return {&p.readTick,   &p.writeTick,  &p.readNewMax,
              &p.readRedraw, &p.readPosted, &p.readPaints};
    case Chart::Write:
      return {&p.readTick,    &p.readTick,    &p.writeNewMax,
              &p.writeRedraw, &p.writePosted, &p.writePaints};
    default:
      return {&p.cacheTick,   &p.cacheTick,   &p.cacheNewMax,
              &p.cacheRedraw, &p.cachePosted, &p.cachePaints};
  }
}

bool chartWantsFullFrame(Chart chart) {
  const ChartMarks m = chartMarks(chart);
  return fullFrameWanted(m.redraw->load(), m.newMax->load(), m.frameTick->load());
}

void endChartPaint(Chart chart) {
  const ChartMarks m = chartMarks(chart);
  if (m.pauseTick->load() == 0) platform::sleepMs(PAINT_PAUSE_MS);
  // Cleared only after drawing: a mark raised while the paint ran goes with it, and the change
  // counter, untouched here, carries that change to the next message.
  m.pauseTick->store(0);
  m.newMax->store(0);
  m.redraw->store(0);
  m.posted->store(0);
  m.paints->fetch_add(1);
}

}  // namespace vardelo
