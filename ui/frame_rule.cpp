#include "ui/frame_rule.h"

#include "platform/platform.h"

namespace vardelo {

void raiseRedraw(Chart chart) {
  if (chart != Chart::None) chartMarks(chart).redraw->fetch_add(1);
}

ChartMarks chartMarks(Chart chart) {
  switch (chart) {
    case Chart::Read:
      return {&bench.protocol.readTick, &bench.protocol.writeTick, &bench.protocol.readNewMax,
              &bench.protocol.readRedraw, &bench.protocol.readPosted};
    case Chart::Write:
      return {&bench.protocol.readTick, &bench.protocol.readTick, &bench.protocol.writeNewMax,
              &bench.protocol.writeRedraw, &bench.protocol.writePosted};
    default:
      return {&bench.protocol.cacheTick, &bench.protocol.cacheTick, &bench.protocol.cacheNewMax,
              &bench.protocol.cacheRedraw, &bench.protocol.cachePosted};
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
}

}  // namespace vardelo
