// The platform services for the native Linux report: no window, so page texts go to the sink and
// tab selections and posted messages go nowhere.
#include "platform/platform.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/bench_state.h"
#include "platform/measuring_processor.h"

namespace vardelo::platform {
namespace {

std::atomic<PageTextSink> textSink{nullptr};

}  // namespace

void sleepMs(std::uint32_t ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::uint32_t millisecondsNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u);
}

void exitProcess(unsigned exitCode) {
  // _exit runs no static destructors, as ExitProcess does not, but would drop buffered output.
  std::fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}

// The pinned process has one processor, the measuring one, which mask bit 0 stands for: a mask
// without it names processors outside the process and is refused, as it is on Windows.
void setThreadAffinity(std::uint32_t mask) {
  if ((mask & 1u) == 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(measuringProcessor, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

void selectTab(std::uint32_t) {}

void postToMainDialog(std::uint32_t) {}

std::uint64_t totalPhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageBytes = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageBytes <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageBytes);
}

void callReturnAtTestArea() {
  std::uint8_t* area = bench.machine.testArea.load();
  area[0] = 0xC3;  // ret
  reinterpret_cast<void (*)()>(area)();
}

void setPageTextSink(PageTextSink sink) { textSink.store(sink); }

void setPageText(std::uint32_t page, std::uint32_t controlId, const char* text) {
  if (PageTextSink sink = textSink.load()) sink(page, controlId, text);
}

void setL3ColumnEnabled(bool) {}

}  // namespace vardelo::platform
