#include "workers/refresh.h"

#include "platform/platform.h"

namespace vardelo {
namespace {

// Announces a page's changes. The counter loses only what was seen here: a change counted while
// the message was being posted stays in it and brings the next message.
void post(AtomicU32& dirty, u32 seen, AtomicU8& posted, u32 message) {
  posted.store(1);
  platform::postToMainDialog(message);
  dirty.fetch_sub(seen);
}

}  // namespace

void refreshStep() {
  // The cache page's tick marks a posted paint; it tells the painter it may draw curves only.
  if (const u32 seen = bench.cacheDirty.load(); seen != 0 && bench.cachePosted.load() == 0) {
    bench.cacheTick.fetch_add(1);
    post(bench.cacheDirty, seen, bench.cachePosted, UM_PAINT_CACHE);
  }
  // The RAM pages' ticks are raised by every step that finds changes, posted or not.
  if (const u32 seen = bench.readDirty.load(); seen != 0) {
    bench.readTick.fetch_add(1);
    if (bench.readPosted.load() == 0) post(bench.readDirty, seen, bench.readPosted, UM_PAINT_READ);
  }
  if (const u32 seen = bench.writeDirty.load(); seen != 0) {
    bench.writeTick.fetch_add(1);
    if (bench.writePosted.load() == 0)
      post(bench.writeDirty, seen, bench.writePosted, UM_PAINT_WRITE);
  }
}

void refreshThreadRun() {
  platform::setThreadAffinity(REFRESH_AFFINITY_MASK);  // refused where the process has one
  for (;;) {
    platform::sleepMs(REFRESH_PERIOD_MS);
    refreshStep();
  }
}

DialogAction mainDialogAction(u32 message, u32 wParam, i32 notifyCode, u32 curPage) {
  DialogAction a;
  const Chart shown = chartOfPage(curPage);
  switch (message) {
    case UM_PAINT_CACHE:
    case UM_PAINT_READ:
    case UM_PAINT_WRITE: {
      // Ignored unless its page is shown; the header is drawn in every case.
      const Chart chart = message == UM_PAINT_CACHE  ? Chart::Cache
                          : message == UM_PAINT_READ ? Chart::Read
                                                     : Chart::Write;
      a.handled = true;
      if (chart == shown) {
        a.updatePage = static_cast<i32>(curPage);
        a.painter = chart;
      }
      a.drawHeader = true;
      break;
    }
    case MSG_PAINT:
      // The RAM charts are always drawn whole on a system paint; the cache chart keeps its rule.
      a.handled = true;
      if (shown != Chart::None) {
        a.updatePage = static_cast<i32>(curPage);
        a.raiseRedraw = shown != Chart::Cache;
        a.painter = shown;
      }
      a.drawHeader = true;
      break;
    case UM_SHOW_TAB:
      a.handled = a.showTab = true;
      break;
    case MSG_NOTIFY:
      a.handled = a.showTab = notifyCode == NOTIFY_TAB_SELCHANGE;
      break;
    case MSG_SIZE:
      a.handled = a.updateTabControl = wParam == SIZE_TYPE_RESTORED;
      break;
    case MSG_ACTIVATE:
    case MSG_ACTIVATEAPP:
      a.handled = a.updateTabControl = true;
      break;
    default:
      break;
  }
  return a;
}

ShowTabEffect showTabEffect(u32 page) {
  switch (page) {
    case PAGE_CACHE: return {Chart::Cache, UM_PAINT_CACHE};
    case PAGE_READ: return {Chart::Read, UM_PAINT_READ};
    case PAGE_WRITE: return {Chart::Write, UM_PAINT_WRITE};
    default: return {Chart::None, 0};
  }
}

void announceShownPage(u32 page) {
  const ShowTabEffect effect = showTabEffect(page);
  if (effect.redraw == Chart::None) return;
  raiseRedraw(effect.redraw);
  platform::postToMainDialog(effect.message);
}

void raiseRedraw(Chart chart) {
  if (chart != Chart::None) chartMarks(chart).redraw->fetch_add(1);
}

ChartMarks chartMarks(Chart chart) {
  switch (chart) {
    case Chart::Read:
      return {&bench.readTick, &bench.writeTick, &bench.readNewMax, &bench.readRedraw,
              &bench.readPosted};
    case Chart::Write:
      return {&bench.readTick, &bench.readTick, &bench.writeNewMax, &bench.writeRedraw,
              &bench.writePosted};
    default:
      return {&bench.cacheTick, &bench.cacheTick, &bench.cacheNewMax, &bench.cacheRedraw,
              &bench.cachePosted};
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
