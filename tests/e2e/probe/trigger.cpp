// `press-during` and `marks`: acting at the moment a pass starts, and telling when a page has
// painted what the workers measured.
#include <cstdio>
#include <cstring>
#include <string>

#include "probe_common.h"

namespace probe {

namespace {

using vardelo::BenchState;

std::size_t flagOffset(const std::string& name) {
  if (name == "cacheBusy") return offsetof(BenchState, protocol.cacheBusy);
  if (name == "ramBusy") return offsetof(BenchState, protocol.ramBusy);
  if (name == "ramRestart") return offsetof(BenchState, protocol.ramRestart);
  if (name == "cacheRestart") return offsetof(BenchState, protocol.cacheRestart);
  return static_cast<std::size_t>(-1);
}

class Clock {
 public:
  Clock() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
  }
  double ms() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start_.QuadPart) * 1000.0 / frequency_.QuadPart;
  }

 private:
  LARGE_INTEGER frequency_, start_;
};

bool pageShown(HWND main, int index) { return visiblePages(main) == std::string(1, '0' + index); }

}  // namespace

// Waits until (FLAG & MASK) != 0 and page FRONT is the one shown (the worker has brought its page
// up), half a second more, then clicks tab TAB until its page shows and clicks button ID on it, checking just before
// the button's click that the page is still the one on view. Prints one line:
//   "held <ms> tab <ms> pressed <ms> during <0|1>"   (during: the flag still set after the press)
// or "missed <reason>". Exits 0 only when the press went in while the flag was set.
int pressDuring(HWND main, double seconds, const char* flag, unsigned mask, int front, int tab,
                int id) {
  BenchReader bench(main);
  const std::size_t offset = flagOffset(flag);
  if (!bench.ok() || offset == static_cast<std::size_t>(-1)) {
    std::printf("missed cannot read %s\n", flag);
    return 2;
  }
  const Clock clock;
  auto set = [&] { return bench.update() && (bench.byte(offset) & mask) != 0; };
  while (!(set() && pageShown(main, front))) {
    if (clock.ms() > seconds * 1000 || !IsWindow(main)) {
      std::printf("missed %s&%u with page %d in front not seen within %.0f s\n", flag, mask, front,
                  seconds);
      return 1;
    }
    Sleep(5);
  }
  const double held = clock.ms();
  // A person's moment to see the page come up; it also lets the monitor see it.
  Sleep(500);
  double shownAt = -1;
  // A click sent while a pass holds the processor may be answered late: click again only after
  // a second without an answer.
  for (int attempt = 0; attempt < 20 && shownAt < 0 && set(); ++attempt) {
    POINT at;
    if (!tabCentre(main, tab, &at)) break;
    click(at);
    const double clicked = clock.ms();
    while (clock.ms() - clicked < 1000) {
      if (pageShown(main, tab)) {
        shownAt = clock.ms();
        break;
      }
      Sleep(5);
    }
  }
  if (shownAt < 0) {
    std::printf("missed tab %d not shown while %s&%u held (held at %.0f ms)\n", tab, flag, mask, held);
    return 1;
  }
  if (!pageShown(main, tab) || !clickControl(main, tab, id)) {
    std::printf("missed page %d left the front before the press\n", tab);
    return 1;
  }
  const double pressed = clock.ms();
  const bool during = set();
  std::printf("held %.0f tab %.0f pressed %.0f during %d\n", held, shownAt, pressed, during ? 1 : 0);
  return during ? 0 : 1;
}

// "dirty posted redraw paints" of one chart page: the first three all 0 once the page has painted
// every change; the last counts the paints it has finished.
std::string marks(HWND main, int chart) {
  BenchReader bench(main);
  std::size_t dirty, posted, redraw, paints;
  switch (chart) {
    case 0:
      dirty = offsetof(BenchState, protocol.cacheDirty),
      posted = offsetof(BenchState, protocol.cachePosted);
      redraw = offsetof(BenchState, protocol.cacheRedraw);
      paints = offsetof(BenchState, protocol.cachePaints);
      break;
    case 1:
      dirty = offsetof(BenchState, protocol.readDirty),
      posted = offsetof(BenchState, protocol.readPosted);
      redraw = offsetof(BenchState, protocol.readRedraw);
      paints = offsetof(BenchState, protocol.readPaints);
      break;
    default:
      dirty = offsetof(BenchState, protocol.writeDirty),
      posted = offsetof(BenchState, protocol.writePosted);
      redraw = offsetof(BenchState, protocol.writeRedraw);
      paints = offsetof(BenchState, protocol.writePaints);
      break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%lu %u %u %lu",
                static_cast<unsigned long>(bench.read<std::uint32_t>(dirty)), bench.byte(posted),
                bench.byte(redraw), static_cast<unsigned long>(bench.read<std::uint32_t>(paints)));
  return text;
}

}  // namespace probe
