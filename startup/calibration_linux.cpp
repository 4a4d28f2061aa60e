// Clock calibration for the native Linux report: the counter against the raw monotonic clock.
#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/cpu.h"
#include "platform/platform.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

namespace {
constexpr u32 CALIBRATION_LEAD_MS = 50;
constexpr u32 CALIBRATION_MS = 1000;
constexpr int RDTSC_PAIRS = 100;

// The raw monotonic clock in milliseconds: the hardware's own rate, not slewed by time
// adjustments, as the counter is not.
std::uint64_t rawMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
}

// The real-time class of the Windows programs' calibration: SCHED_FIFO where this process may
// have it. Without it the calibration still runs, at normal priority; that is said once.
void raisePriority() {
  static bool said = false;
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  if (sched_setscheduler(0, SCHED_FIFO, &param) == 0 || said) return;
  said = true;
  std::fprintf(stderr, "warning: calibrating at normal priority (real-time scheduling: %s)\n",
               std::strerror(errno));
}

void normalPriority() {
  sched_param param{};
  sched_setscheduler(0, SCHED_OTHER, &param);
}

}  // namespace

void calibrateClock() {
  raisePriority();
  platform::sleepMs(CALIBRATION_LEAD_MS);

  // The clock's interval encloses the counter's: the clock is read first and last.
  const std::uint64_t t0 = rawMilliseconds();
  const u64 c0 = readTsc();
  platform::sleepMs(CALIBRATION_MS);
  const u64 c1 = readTsc();
  const auto ms = static_cast<u32>(rawMilliseconds() - t0);
  bench.machine.tscRate = tscRateFrom(c1 - c0, ms);

  u32 pairTicks[RDTSC_PAIRS];
  for (u32& ticks : pairTicks) ticks = tscPairTicks();
  bench.machine.rdtscOverhead = rdtscOverheadFrom(pairTicks);

  normalPriority();
}

}  // namespace vardelo
