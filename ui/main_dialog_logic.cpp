#include "ui/main_dialog_logic.h"

#include <cstring>

#include "core/processor.h"
#include "core/text_format.h"
#include "platform/platform.h"

namespace vardelo {

u32 pageForSelection(i32 selection, u32 current) {
  return selection >= 0 && static_cast<u32>(selection) < PAGE_COUNT ? static_cast<u32>(selection)
                                                                     : current;
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

const char* headerFormat(u8 cpuVendor) {
  if (cpuVendor < VENDOR_AMD) return HEADER_FORMAT_OTHER;
  if (cpuVendor == VENDOR_AMD) return HEADER_FORMAT_AMD;
  return HEADER_FORMAT_INTEL;
}

u32 formatHeader(char* out, std::size_t cap, u8 cpuVendor, u32 family, u32 model, u32 stepping,
                 u32 tscRate) {
  // The formats are the three above, each with three %lX and one %lu.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int length = formatText(out, cap, headerFormat(cpuVendor), static_cast<unsigned long>(family),
                                static_cast<unsigned long>(model),
                                static_cast<unsigned long>(stepping),
                                static_cast<unsigned long>(shownMhz(tscRate)));
#pragma GCC diagnostic pop
  const std::size_t written = length < 0 ? 0 : std::strlen(out);
  return static_cast<u32>(written < HEADER_DRAWN_CHARS ? written : HEADER_DRAWN_CHARS);
}

u32 formatHeaderText() {
  return formatHeader(bench.window.headerText, sizeof bench.window.headerText,
                      bench.machine.cpuVendor.load(), bench.machine.cpuFamily.load(),
                      bench.machine.cpuModel.load(), bench.machine.cpuStepping.load(),
                      bench.machine.tscRate.load());
}

void formatFilterCaption(u8 level, char* out, std::size_t cap) {
  if (level == 0) {
    formatText(out, cap, "%s", FILTER_OFF);
  } else {
    formatText(out, cap, FILTER_FORMAT, static_cast<unsigned long>(level));
  }
}

namespace {

PageCommandEffect restart(AtomicU32& dirty, AtomicU8& request, u8 bit) {
  dirty.fetch_add(1);
  request.fetch_or(bit);
  return {.handled = true};
}

PageCommandEffect filterStep(AtomicU8& level, u32 control, Chart chart, u32 message) {
  const u8 next = nextFilterLevel(level.load());
  level.store(next);
  formatFilterCaption(next, bench.window.filterLabel, sizeof bench.window.filterLabel);
  raiseRedraw(chart);
  return {.handled = true,
          .captionControl = control,
          .caption = bench.window.filterLabel,
          .postMessage = message};
}

}  // namespace

PageCommandEffect pageCommand(u32 page, u32 wParam) {
  switch (page) {
    case PAGE_CACHE:
      if (wParam == ID_CACHE_RESTART)
        return restart(bench.protocol.cacheDirty, bench.protocol.cacheRestart, CACHE_RESTART_BIT);
      break;
    case PAGE_READ:
      if (wParam == ID_READ_RESTART)
        return restart(bench.protocol.readDirty, bench.protocol.ramRestart, RAM_READ_BIT);
      if (wParam == ID_READ_FILTER)
        return filterStep(bench.window.readFilter, ID_READ_FILTER, Chart::Read, UM_PAINT_READ);
      break;
    case PAGE_WRITE:
      if (wParam == ID_WRITE_RESTART)
        return restart(bench.protocol.writeDirty, bench.protocol.ramRestart, RAM_WRITE_BIT);
      if (wParam == ID_WRITE_FILTER)
        return filterStep(bench.window.writeFilter, ID_WRITE_FILTER, Chart::Write, UM_PAINT_WRITE);
      break;
    case PAGE_ABOUT:
      if (wParam == ID_ABOUT_CLOSE) return {.handled = true, .destroyMainDialog = true};
      if (wParam == ID_ABOUT_HOME) return {.handled = true, .shellAddress = HOME_PAGE_ADDRESS};
      if (wParam == ID_ABOUT_MAIL) return {.handled = true, .shellAddress = MAIL_ADDRESS};
      break;
    default:
      break;
  }
  return {};
}

PriorityChoice toggleRealtime() {
  const u8 on = bench.window.realtimeOn.load() ^ 1;
  bench.window.realtimeOn.store(on);
  return on != 0 ? PriorityChoice{PRIORITY_CLASS_REALTIME, THREAD_PRIORITY_TOP}
                 : PriorityChoice{PRIORITY_CLASS_NORMAL, THREAD_PRIORITY_PLAIN};
}

}  // namespace vardelo
