#include "kernels/cache_loop.h"

#include <cstdint>

namespace vardelo {

namespace {

using u64 = std::uint64_t;

// Results that do not fit in 32 bits become the largest value that can stand for them. They do
// not arise with the kernels and sizes in use (a speed above 4 TiB/s, a time four million times
// the best), but a wrapped value would turn a wild outlier into a stable or fast-looking one.
constexpr u32 clampU32(u64 v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(v); }

// The largest speed: one below NO_POINT, which in a curve means "not measured" and ends it.
constexpr u32 MAX_SPEED = NO_POINT - 1;

// The block must end inside the test area; at the end it starts again at 0.
u32 wrapOffset(u32 offset, u32 size) {
  return u64{offset} + size >= TEST_AREA_BYTES ? 0 : offset;
}

// Distance of t from best in per mille of best, truncated; a best of 0 counts as 1.
u32 deviationPerMille(u32 t, u32 best) {
  const u32 distance = t > best ? t - best : best - t;
  return clampU32(u64{distance} * 1000 / (best == 0 ? 1 : best));
}

}  // namespace

u32 measureCacheSpeedWith(u32 kind, u32 size, const CacheKernels& kernels) {
  const bool data = kind == CACHE_KIND_DATA;
  const u32 tolerance = data ? CACHE_DATA_TOLERANCE : CACHE_CODE_TOLERANCE;
  const u32 stableToFinish = data ? CACHE_DATA_STABLE : CACHE_CODE_STABLE;
  const u32 tscRate = bench.machine.tscRate.load(std::memory_order_relaxed);

  u32 offset = wrapOffset(bench.measuring.blockOffset.load(std::memory_order_relaxed), size);
  u32 phase = CACHE_MOVE_PERIOD - 1;
  auto measure = [&]() {
    return data ? kernels.dataPassTicks(offset, size) : kernels.codeFetchTicks(size);
  };

  u32 best = 0;
  for (u32 i = 0; i < (data ? CACHE_DATA_WARMUPS : CACHE_CODE_WARMUPS); ++i) best = measure();

  u64 budget = 0;  // 64 bits: below tscRate plus one step, which may pass 2^32
  bench.measuring.cacheStableCount.store(0, std::memory_order_relaxed);
  for (;;) {
    // Every try is a measurement and counts towards moving the block, the code-fetch ones too.
    u32 t = 0;
    for (u32 tries = CACHE_TRIES; tries > 0; --tries) {
      t = measure();
      if (--phase == 0) {
        phase = CACHE_MOVE_PERIOD;
        offset = wrapOffset(offset + CACHE_BLOCK_STEP, size);
      }
      if (t != BAD_SAMPLE) break;
    }

    if (deviationPerMille(t, best) <= tolerance) {
      const u32 stable = bench.measuring.cacheStableCount.load(std::memory_order_relaxed) + 1;
      bench.measuring.cacheStableCount.store(stable, std::memory_order_relaxed);
      if (stable >= stableToFinish) break;  // this last result does not join the best
    }
    if (t < best) best = t;
    // The budget sums t / 32 until it reaches tscRate: 1/32 second of measured time.
    budget += t >> 5;
    if (budget >= tscRate) break;
  }

  bench.measuring.blockOffset.store(offset, std::memory_order_relaxed);
  const u64 speed = u64{tscRate} * size / (best == 0 ? 1 : best);
  return speed > MAX_SPEED ? MAX_SPEED : static_cast<u32>(speed);
}

}  // namespace vardelo
