// Clock calibration: the counter against the system's millisecond clock, at real-time priority.
#include <windows.h>

#include "platform/cpu.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

namespace {
constexpr DWORD CALIBRATION_LEAD_MS = 50;
constexpr DWORD CALIBRATION_MS = 1000;
constexpr int RDTSC_PAIRS = 100;
}  // namespace

void calibrateClock() {
  HANDLE process = GetCurrentProcess();
  SetPriorityClass(process, REALTIME_PRIORITY_CLASS);
  Sleep(CALIBRATION_LEAD_MS);

  // The tick interval encloses the counter interval: ticks are read first and last.
  const DWORD t0 = GetTickCount();
  const u64 c0 = readTsc();
  Sleep(CALIBRATION_MS);
  const u64 c1 = readTsc();
  const DWORD ms = GetTickCount() - t0;
  bench.machine.tscRate = tscRateFrom(c1 - c0, ms);

  u32 pairTicks[RDTSC_PAIRS];
  for (u32& ticks : pairTicks) ticks = tscPairTicks();
  bench.machine.rdtscOverhead = rdtscOverheadFrom(pairTicks);

  SetPriorityClass(process, NORMAL_PRIORITY_CLASS);
}

}  // namespace vardelo
