// The settle routine run before the start-up's calibration and before each RAM pass.
#include <pthread.h>
#include <sched.h>

#include "platform/cpu.h"
#include "platform/platform.h"

namespace vardelo {

namespace {
constexpr u32 SETTLE_MEASURE_MS = 25;
constexpr u32 SETTLE_AFTER_MS = 20;
}  // namespace

// On Linux each thread has its own mask: the calling thread's is kept and put back.
void settle() {
  cpu_set_t saved;
  const bool haveSaved = pthread_getaffinity_np(pthread_self(), sizeof saved, &saved) == 0;
  platform::setThreadAffinity(PROCESSOR_0_MASK);
  platform::sleepMs(0);

  const u64 c0 = readTsc();
  platform::sleepMs(SETTLE_MEASURE_MS);
  const auto span = static_cast<std::int64_t>(readTsc() - c0);
  const i32 rounds = settleRounds(span, bench.machine.cpuClass);
  if (rounds > 0) spinTsc(static_cast<u32>(rounds));

  platform::sleepMs(SETTLE_AFTER_MS);
  if (haveSaved) pthread_setaffinity_np(pthread_self(), sizeof saved, &saved);
}

}  // namespace vardelo
