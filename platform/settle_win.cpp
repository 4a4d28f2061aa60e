// The settle routine run before the start-up's calibration and before each RAM pass.
#include <windows.h>

#include "platform/cpu.h"

namespace vardelo {

namespace {
constexpr DWORD SETTLE_MEASURE_MS = 25;
constexpr DWORD SETTLE_AFTER_MS = 20;
}  // namespace

void settle() {
  HANDLE process = GetCurrentProcess();
  DWORD_PTR savedMask = 0, systemMask = 0;
  GetProcessAffinityMask(process, &savedMask, &systemMask);
  SetProcessAffinityMask(process, PROCESSOR_0_MASK);
  Sleep(0);

  const u64 c0 = readTsc();
  Sleep(SETTLE_MEASURE_MS);
  const auto span = static_cast<std::int64_t>(readTsc() - c0);
  const i32 rounds = settleRounds(span, bench.machine.cpuClass);
  if (rounds > 0) spinTsc(static_cast<u32>(rounds));

  Sleep(SETTLE_AFTER_MS);
  SetProcessAffinityMask(process, savedMask);
}

}  // namespace vardelo
