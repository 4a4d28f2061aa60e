// The start-up sequence up to the test buffer, and the processor check.
#include <windows.h>

#include <cstdio>

#include "kernels/block_read_area.h"
#include "kernels/block_read_features.h"
#include "kernels/stride_kernels.h"
#include "platform/cpu.h"
#include "platform/platform.h"
#include "startup/cache_description.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

StartupFatal startupFatal = showFatalAndExit;

void showFatalAndExit(const char* text, unsigned exitCode) {
  MessageBoxA(nullptr, text, "Vardelo", MB_ICONHAND);
  ExitProcess(exitCode);
}

ProcessorRefusal refuseProcessor = showProcessorRefusal;

void showProcessorRefusal() {
  ExitProcess(MessageBoxA(nullptr, CPU_NOT_SUPPORTED, nullptr, MB_ICONHAND));
}

void requireProcessor(bool supported) {
  if (!supported) refuseProcessor();
}

namespace {

// Formats "<what> failed (error N)." and hands it to startupFatal.
void failStep(const char* what, unsigned exitCode) {
  char text[160];
  std::snprintf(text, sizeof text, "Vardelo cannot start: %s failed (error %lu).", what,
                static_cast<unsigned long>(GetLastError()));
  startupFatal(text, exitCode);
}

}  // namespace

void pinThreadToProcessor0() { SetThreadAffinityMask(GetCurrentThread(), PROCESSOR_0_MASK); }

void pinProcessToProcessor0() { SetProcessAffinityMask(GetCurrentProcess(), PROCESSOR_0_MASK); }

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

// Where an allocation attempt stopped, with the system's error code of that step.
struct AllocationFailure {
  const char* what;  // null: the buffer is in place
  unsigned exitCode;
  DWORD error;
};

// One attempt at the test buffer for an area of areaBytes. A failed attempt gives back what it
// got, so that a smaller one can follow.
AllocationFailure tryAllocateTestBuffer(u32 areaBytes) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, SIZE_T{areaBytes} + TEST_AREA_ALIGN);
  if (handle == nullptr) return {"allocating the test buffer", EXIT_NO_BUFFER, GetLastError()};
  auto* buffer = static_cast<u8*>(GlobalLock(handle));
  if (buffer == nullptr) {
    const DWORD error = GetLastError();
    GlobalFree(handle);
    return {"locking the test buffer", EXIT_NO_LOCK, error};
  }
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  u8* area = buffer + (alignUp(start, TEST_AREA_ALIGN) - start);
  // The fetch test writes machine code into the area and runs it there.
  DWORD oldProtection = 0;
  if (!VirtualProtect(area, areaBytes, PAGE_EXECUTE_READWRITE, &oldProtection)) {
    const DWORD error = GetLastError();
    GlobalUnlock(handle);
    GlobalFree(handle);
    return {"making the test area executable", EXIT_NO_PROTECTION, error};
  }
  // Every page its own memory before any measurement, the RAM span's included (block_read_area.h).
  fillWithOwnPages(area, areaBytes);
  bench.machine.bufferHandle = handle;
  bench.machine.testArea = area;
  bench.machine.testAreaBytes = areaBytes;
  return {nullptr, 0, 0};
}

}  // namespace

bool allocateTestBuffer(u32 areaBytes) {
  const AllocationFailure failure = tryAllocateTestBuffer(areaBytes);
  if (failure.what == nullptr) return true;
  SetLastError(failure.error);
  failStep(failure.what, failure.exitCode);
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
  bench.machine.hInstance = GetModuleHandleA(nullptr);
  requireProcessor(checkProcessor());
  pinProcessToProcessor0();
  settle();
  calibrateClockChecked();
  settle();
  identifyProcessor();
  readCacheDescription();
  bench.machine.faceColor = GetSysColor(COLOR_BTNFACE);
  const u32 span = ramSpanBytesFor(largestCacheBytes(bench.machine.caches),
                                   platform::totalPhysicalMemoryBytes());
  if (!allocateForRamSpan(span)) return;
  // One access every 32 bytes over the first RAM window before any measurement.
  strideReadTicks(0, 0, RAM_BLOCK_BYTES[0]);
}

}  // namespace vardelo
