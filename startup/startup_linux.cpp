// The Linux steps of the start-up, for the native report: failures said on stderr, pinning
// through the thread's affinity, the test buffer from mmap.
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kernels/block_read_area.h"
#include "platform/measuring_processor.h"
#include "platform/platform.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

void showFatalAndExit(const char* text, unsigned exitCode) {
  std::fprintf(stderr, "%s\n", text);
  platform::exitProcess(exitCode);
}

void showProcessorRefusal() { showFatalAndExit(CPU_NOT_SUPPORTED, EXIT_NO_CPU); }

namespace {

// Formats "<what> failed (<the system's reason>)." and hands it to startupFatal.
void failStep(const char* what, int error, unsigned exitCode) {
  char text[200];
  std::snprintf(text, sizeof text, "Vardelo cannot start: %s failed (%s).", what,
                std::strerror(error));
  startupFatal(text, exitCode);
}

}  // namespace

// A Linux process has no mask of its own: each thread has one, and a thread inherits its
// creator's. Pinning the start-up's thread before any other exists pins the whole process.
void pinThreadToProcessor0() {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(platform::measuringProcessor, &set);
  const int error = pthread_setaffinity_np(pthread_self(), sizeof set, &set);
  if (error == 0) return;
  char what[80];
  std::snprintf(what, sizeof what, "running on processor %u",
                static_cast<unsigned>(platform::measuringProcessor));
  failStep(what, error, EXIT_NO_CPU);
}

void pinProcessToProcessor0() { pinThreadToProcessor0(); }

// The report has no window: no module handle, no colours.
void recordPlatformFacts() {}

// A 64-bit process has the room for a larger span.
u32 ramSpanCap() { return RAM_SPAN_MAX_BYTES_64BIT; }

namespace {

// Where an allocation attempt stopped, with errno of that step.
struct AllocationFailure {
  const char* what;  // null: the buffer is in place
  unsigned exitCode;
  int error;
};

// Locking the buffer keeps its pages in memory while the walks measure them. The usual limit on
// locked memory is far below the buffer, so a refusal is said once and the run goes on.
void lockOrSayWhyNot(void* buffer, std::size_t bytes) {
  static bool said = false;
  if (mlock(buffer, bytes) == 0 || said) return;
  said = true;
  rlimit limit{};
  getrlimit(RLIMIT_MEMLOCK, &limit);
  std::fprintf(stderr,
               "warning: the test buffer (%zu KiB) is not locked in memory (%s; the limit is "
               "%llu KiB)\n",
               bytes / 1024, std::strerror(errno),
               static_cast<unsigned long long>(limit.rlim_cur == RLIM_INFINITY
                                                   ? 0
                                                   : limit.rlim_cur / 1024));
}

// One attempt at the test buffer for an area of areaBytes. A failed attempt gives back what it
// got, so that a smaller one can follow.
AllocationFailure attemptTestBuffer(u32 areaBytes) {
  const std::size_t bytes = std::size_t{areaBytes} + TEST_AREA_ALIGN;
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return {"allocating the test buffer", EXIT_NO_BUFFER, errno};
  auto* buffer = static_cast<u8*>(mapped);
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  u8* area = buffer + (alignUp(start, TEST_AREA_ALIGN) - start);
  // The fetch test writes machine code into the area and runs it there.
  if (mprotect(area, areaBytes, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) {
    const int error = errno;
    munmap(mapped, bytes);
    return {"making the test area executable", EXIT_NO_PROTECTION, error};
  }
  lockOrSayWhyNot(mapped, bytes);
  // Every page its own memory before any measurement, the RAM span's included (block_read_area.h).
  fillWithOwnPages(area, areaBytes);
  bench.machine.bufferHandle = mapped;
  bench.machine.testArea = area;
  bench.machine.testAreaBytes = areaBytes;
  return {nullptr, 0, 0};
}

}  // namespace

bool tryAllocateTestBuffer(u32 areaBytes) { return attemptTestBuffer(areaBytes).what == nullptr; }

bool allocateTestBuffer(u32 areaBytes) {
  const AllocationFailure failure = attemptTestBuffer(areaBytes);
  if (failure.what == nullptr) return true;
  failStep(failure.what, failure.error, failure.exitCode);
  return false;
}

}  // namespace vardelo
