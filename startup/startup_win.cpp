// The Windows steps of the start-up: failures in a message box, pinning through the affinity
// masks, the test buffer from GlobalAlloc, the module handle and the button-face colour.
#include <windows.h>

#include <cstdio>

#include "kernels/block_read_area.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

void showFatalAndExit(const char* text, unsigned exitCode) {
  MessageBoxA(nullptr, text, "Vardelo", MB_ICONHAND);
  ExitProcess(exitCode);
}

void showProcessorRefusal() {
  ExitProcess(MessageBoxA(nullptr, CPU_NOT_SUPPORTED, nullptr, MB_ICONHAND));
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

void recordPlatformFacts() {
  bench.machine.hInstance = GetModuleHandleA(nullptr);
  bench.machine.faceColor = GetSysColor(COLOR_BTNFACE);
}

// A 32-bit process rarely finds more than 512 MiB in one piece.
u32 ramSpanCap() { return RAM_SPAN_MAX_BYTES; }

namespace {

// Where an allocation attempt stopped, with the system's error code of that step.
struct AllocationFailure {
  const char* what;  // null: the buffer is in place
  unsigned exitCode;
  DWORD error;
};

// One attempt at the test buffer for an area of areaBytes. A failed attempt gives back what it
// got, so that a smaller one can follow.
AllocationFailure attemptTestBuffer(u32 areaBytes) {
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

bool tryAllocateTestBuffer(u32 areaBytes) { return attemptTestBuffer(areaBytes).what == nullptr; }

bool allocateTestBuffer(u32 areaBytes) {
  const AllocationFailure failure = attemptTestBuffer(areaBytes);
  if (failure.what == nullptr) return true;
  SetLastError(failure.error);
  failStep(failure.what, failure.exitCode);
  return false;
}

}  // namespace vardelo
