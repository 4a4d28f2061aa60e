// The start-up sequence up to the test buffer, and the processor check.
#include <windows.h>

#include <cstdio>

#include "kernels/stride_kernels.h"
#include "platform/cpu.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

StartupFatal startupFatal = showFatalAndExit;

void showFatalAndExit(const char* text, unsigned exitCode) {
  MessageBoxA(nullptr, text, "Vardelo", MB_ICONHAND);
  ExitProcess(exitCode);
}

namespace {

constexpr DWORD_PTR PROCESSOR_0 = 1;

// Formats "<what> failed (error N)." and hands it to startupFatal.
void failStep(const char* what, unsigned exitCode) {
  char text[160];
  std::snprintf(text, sizeof text, "Vardelo cannot start: %s failed (error %lu).", what,
                static_cast<unsigned long>(GetLastError()));
  startupFatal(text, exitCode);
}

// Under Wine on Linux, a page of fresh memory that has only been read is the kernel's one shared
// zero page: read-only walks of any size then hit the same 4 KiB in the first-level cache, and
// every curve measured before the first write pass is a cache curve. A write to each page gives
// it memory of its own. On Windows demand-zero pages are private anyway; there it only maps them
// in before the first measurement.
void giveEveryPageItsOwnMemory(u8* area, u32 bytes) {
  volatile u8* page = area;
  for (u32 offset = 0; offset < bytes; offset += TEST_AREA_ALIGN) page[offset] = 0;
}

}  // namespace

void pinThreadToProcessor0() { SetThreadAffinityMask(GetCurrentThread(), PROCESSOR_0); }

void pinProcessToProcessor0() { SetProcessAffinityMask(GetCurrentProcess(), PROCESSOR_0); }

bool checkProcessor() {
  const bool idToggles = idFlagToggles();
  // Without the ID flag there is no CPUID to execute.
  const u32 leaf1Edx = idToggles ? cpuid(1).edx : 0;
  const ProcessorCheck check = checkProcessorFeatures(idToggles, leaf1Edx);
  if (!check.ok) return false;
  bench.mmx = check.mmx;
  bench.sse = check.sse;
  return true;
}

bool allocateTestBuffer(u32 areaBytes) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, SIZE_T{areaBytes} + TEST_AREA_ALIGN);
  if (handle == nullptr) {
    failStep("allocating the test buffer", EXIT_NO_BUFFER);
    return false;
  }
  auto* buffer = static_cast<u8*>(GlobalLock(handle));
  if (buffer == nullptr) {
    failStep("locking the test buffer", EXIT_NO_LOCK);
    return false;
  }
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  u8* area = buffer + (alignUp(start, TEST_AREA_ALIGN) - start);
  // The fetch test writes machine code into the area and runs it there.
  DWORD oldProtection = 0;
  if (!VirtualProtect(area, areaBytes, PAGE_EXECUTE_READWRITE, &oldProtection)) {
    failStep("making the test area executable", EXIT_NO_PROTECTION);
    return false;
  }
  giveEveryPageItsOwnMemory(area, areaBytes);
  bench.bufferHandle = handle;
  bench.bufferPtr = buffer;
  bench.testArea = area;
  return true;
}

void startupThroughBuffer() {
  pinThreadToProcessor0();
  bench.hInstance = GetModuleHandleA(nullptr);
  if (!checkProcessor()) {
    ExitProcess(MessageBoxA(nullptr, "CPU not support!", nullptr, MB_ICONHAND));
  }
  pinProcessToProcessor0();
  settle();
  calibrateClock();
  settle();
  identifyProcessor();
  bench.faceColor = GetSysColor(COLOR_BTNFACE);
  if (!allocateTestBuffer()) return;
  // One access every 32 bytes over the RAM window maps its pages in before any measurement.
  strideReadTicks(0, 0, RAM_BLOCK_BYTES[0]);
}

}  // namespace vardelo
