#include "kernels/ram_loop.h"

#include <cstdint>

namespace vardelo {

u32 ramSpeedKiBps(u32 tscRate, u32 bestTicks) {
  const std::uint64_t speed = std::uint64_t{tscRate} * RAM_WINDOW_BYTES / bestTicks;
  return speed > RAM_SPEED_CEILING ? RAM_SPEED_CEILING : static_cast<u32>(speed);
}

bool ramWalksAreCold() {
  return bench.machine.ramSpanBytes.load(std::memory_order_relaxed) > RAM_WINDOW_BYTES;
}

u32 takeRamWindow(RamFlushFn flush, u32 bytes) {
  const u32 span = bench.machine.ramSpanBytes.load(std::memory_order_relaxed);
  if (span <= RAM_WINDOW_BYTES) return 0;
  const u32 windows = span / RAM_WINDOW_BYTES;
  u32 index = bench.measuring.ramSpanOffset.load(std::memory_order_relaxed) / RAM_WINDOW_BYTES;

  if (windows < RAM_AHEAD_MIN_WINDOWS) {
    // Too few windows to keep one clear of the cache sweep and flush another well ahead: every
    // window in turn, flushed just before its walk.
    if (index >= windows) index = 0;
    bench.measuring.ramSpanOffset.store((index + 1 == windows ? 0 : index + 1) * RAM_WINDOW_BYTES,
                                        std::memory_order_relaxed);
    if (flush != nullptr) flush(index * RAM_WINDOW_BYTES, bytes);
    return index * RAM_WINDOW_BYTES;
  }

  // The windows clear of the cache sweep's area, in turn. The one flushed now is half the turn
  // ahead of the one walked, whole whatever this walk touches: by the time its own walk comes,
  // its lines have left the caches and its pages the address translation caches, as they have
  // for a walk through memory that nothing has touched for a while.
  const u32 first = RAM_SWEEP_AREA_WINDOWS;
  const u32 turn = windows - first;
  if (index < first || index >= windows) index = first;
  bench.measuring.ramSpanOffset.store((index + 1 == windows ? first : index + 1) * RAM_WINDOW_BYTES,
                                      std::memory_order_relaxed);
  const u32 ahead = first + (index - first + turn / 2) % turn;
  if (flush != nullptr) flush(ahead * RAM_WINDOW_BYTES, RAM_WINDOW_BYTES + RAM_WALK_OVERRUN_BYTES);
  return index * RAM_WINDOW_BYTES;
}

u32 measureRamWith(RamKernelFn kernel, i32 gap, u32 block, RamFlushFn flush) {
  auto walk = [&] { return kernel(takeRamWindow(flush), gap, block); };
  walk();  // warm-up; its time is not used

  const u32 tscRate = bench.machine.tscRate.load(std::memory_order_relaxed);
  const u32 budgetShift = ramWalksAreCold() ? RAM_COLD_BUDGET_SHIFT : RAM_BUDGET_SHIFT;
  u32 best = BAD_SAMPLE;
  // The budget is summed in 64 bits: t / 2048 added to a tscRate near 2^32 must not wrap.
  std::uint64_t budget = 0;
  bench.measuring.ramStableCount.store(0, std::memory_order_relaxed);

  for (;;) {
    u32 t;
    u32 tries = RAM_TRIES;
    do {
      t = walk();
      --tries;
    } while (tries > 0 && t == BAD_SAMPLE);

    // |t - best| * 1000 needs up to 42 bits, and so may the quotient when best is small.
    const u32 distance = t > best ? t - best : best - t;
    const std::uint64_t perMille = std::uint64_t{distance} * 1000 / best;
    if (perMille <= RAM_TOLERANCE_PER_MILLE) {
      // The result that completes the count is not folded into best.
      if (bench.measuring.ramStableCount.fetch_add(1, std::memory_order_relaxed) + 1 >
          RAM_STABLE_LIMIT)
        break;
    }
    if (t < best) best = t;
    if (best == 0) best = 1;

    budget += t >> budgetShift;
    if (budget >= tscRate) break;
  }
  return ramSpeedKiBps(tscRate, best);
}

}  // namespace vardelo
