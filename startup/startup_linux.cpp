// The start-up sequence up to the test buffer, and the processor check, for the native Linux
// report: the same steps as the Windows programs', with the failures said on stderr.
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kernels/block_read_area.h"
#include "kernels/block_read_features.h"
#include "kernels/stride_kernels.h"
#include "platform/cpu.h"
#include "platform/measuring_processor.h"
#include "platform/platform.h"
#include "startup/cache_description.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

StartupFatal startupFatal = showFatalAndExit;

void showFatalAndExit(const char* text, unsigned exitCode) {
  std::fprintf(stderr, "%s\n", text);
  platform::exitProcess(exitCode);
}

ProcessorRefusal refuseProcessor = showProcessorRefusal;

void showProcessorRefusal() { showFatalAndExit(CPU_NOT_SUPPORTED, EXIT_NO_CPU); }

void requireProcessor(bool supported) {
  if (!supported) refuseProcessor();
}

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

bool checkProcessor() {
  const bool idToggles = idFlagToggles();
  // Without the ID flag there is no CPUID to execute.
  const u32 leaf1Edx = idToggles ? cpuid(1).edx : 0;
  const ProcessorCheck check = checkProcessorFeatures(idToggles, leaf1Edx);
  if (!check.ok) return false;
  bench.machine.mmx = check.mmx;
  bench.machine.sse = check.sse;
  detectWideLoads();
  return true;
}

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
AllocationFailure tryAllocateTestBuffer(u32 areaBytes) {
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

bool allocateTestBuffer(u32 areaBytes) {
  const AllocationFailure failure = tryAllocateTestBuffer(areaBytes);
  if (failure.what == nullptr) return true;
  failStep(failure.what, failure.error, failure.exitCode);
  return false;
}

bool allocateForRamSpan(u32 spanBytes) {
  for (u32 span = spanBytes; span > RAM_WINDOW_BYTES; span = nextSmallerSpan(span)) {
    if (tryAllocateTestBuffer(testAreaBytesFor(span)).what == nullptr) {
      bench.machine.ramSpanBytes = span;
      return true;
    }
  }
  bench.machine.ramSpanBytes = RAM_WINDOW_BYTES;
  return allocateTestBuffer(testAreaBytesFor(RAM_WINDOW_BYTES));
}

void readCacheDescription() {
  bench.machine.caches = describeCaches(cpuidSub);
  const CpuidRegs leaf1 = cpuid(1);
  bench.machine.clflushBytes = clflushLineBytes(leaf1.ebx, leaf1.edx);
}

void startupThroughBuffer() {
  pinThreadToProcessor0();
  requireProcessor(checkProcessor());
  pinProcessToProcessor0();
  settle();
  calibrateClockChecked();
  settle();
  identifyProcessor();
  readCacheDescription();
  const u32 span = ramSpanBytesFor(largestCacheBytes(bench.machine.caches),
                                   platform::totalPhysicalMemoryBytes(), RAM_SPAN_MAX_BYTES_64BIT);
  if (!allocateForRamSpan(span)) return;
  // One access every 32 bytes over the first RAM window before any measurement.
  strideReadTicks(0, 0, RAM_BLOCK_BYTES[0]);
}

}  // namespace vardelo
