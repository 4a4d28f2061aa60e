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
  u32 offset = bench.measuring.ramSpanOffset.load(std::memory_order_relaxed);
  if (offset > span - RAM_WINDOW_BYTES) offset = 0;
  const u32 next = offset + RAM_WINDOW_BYTES;
  bench.measuring.ramSpanOffset.store(next > span - RAM_WINDOW_BYTES ? 0 : next,
                                      std::memory_order_relaxed);
  if (flush != nullptr) flush(offset, bytes);
  return offset;
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
