// The start-up sequence up to the test buffer, and the processor check.
#include <windows.h>

#include <cstdio>

#include "kernels/block_read_features.h"
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

ProcessorRefusal refuseProcessor = showProcessorRefusal;

void showProcessorRefusal() {
  ExitProcess(MessageBoxA(nullptr, CPU_NOT_SUPPORTED, nullptr, MB_ICONHAND));
}

void requireProcessor(bool supported) {
  if (!supported) refuseProcessor();
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
  detectWideLoads();
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
  bench.bufferHandle = handle;
  bench.bufferPtr = buffer;
  bench.testArea = area;
  return true;
}

void startupThroughBuffer() {
  pinThreadToProcessor0();
  bench.hInstance = GetModuleHandleA(nullptr);
  requireProcessor(checkProcessor());
  pinProcessToProcessor0();
  settle();
  calibrateClockChecked();
  settle();
  identifyProcessor();
  bench.faceColor = GetSysColor(COLOR_BTNFACE);
  if (!allocateTestBuffer()) return;
  // One access every 32 bytes over the RAM window maps its pages in before any measurement.
  strideReadTicks(0, 0, RAM_BLOCK_BYTES[0]);
}

}  // namespace vardelo
