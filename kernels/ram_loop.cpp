#include "kernels/ram_loop.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>

namespace vardelo {

u32 ramSpeedKiBps(u32 tscRate, u32 bestTicks) {
  const std::uint64_t speed = std::uint64_t{tscRate} * RAM_WINDOW_BYTES / bestTicks;
  return speed > RAM_SPEED_CEILING ? RAM_SPEED_CEILING : static_cast<u32>(speed);
}

bool ramWalksAreCold() {
  return bench.machine.ramSpanBytes.load(std::memory_order_relaxed) > RAM_WINDOW_BYTES;
}

namespace {

// The rotation: where the span has room for it, the windows clear of the cache sweep's area, each
// readied half a turn before its walk; with fewer windows all of them, each flushed by its own
// take (ahead 0).
struct Rotation {
  u32 first;  // the first window index of the turn
  u32 turn;   // windows in the turn
  u32 ahead;  // windows between a flush and the walk of its window
  u32 step;   // windows from one take to the next, ramRotationStep(turn)
};

Rotation rotationOf(u32 windows) {
  if (windows < RAM_AHEAD_MIN_WINDOWS) return {0, windows, 0, 1};
  const u32 turn = windows - RAM_SWEEP_AREA_WINDOWS;
  return {RAM_SWEEP_AREA_WINDOWS, turn, turn / 2, ramRotationStep(turn)};
}

u32 windowsOfSpan() {
  return bench.machine.ramSpanBytes.load(std::memory_order_relaxed) / RAM_WINDOW_BYTES;
}

// The window index the next take returns, within the rotation.
u32 nextIndex(const Rotation& r) {
  const u32 index =
      bench.measuring.ramSpanOffset.load(std::memory_order_relaxed) / RAM_WINDOW_BYTES;
  return index < r.first || index >= r.first + r.turn ? r.first : index;
}

u32 indexAfter(const Rotation& r, u32 index, u32 steps) {
  const std::uint64_t position = index - r.first + std::uint64_t{steps} * r.step;
  return r.first + static_cast<u32>(position % r.turn);
}

void readyWindow(RamFlushFn flush, u32 index) {
  if (bench.machine.ramSpanOutgrowsCaches.load(std::memory_order_relaxed) != 0) {
    flush(index * RAM_WINDOW_BYTES, RAM_WINDOW_BYTES, RAM_READY_STRIDE_BYTES);
  } else {
    flush(index * RAM_WINDOW_BYTES, RAM_WINDOW_BYTES + RAM_WALK_OVERRUN_BYTES, 0);
  }
}

}  // namespace

u32 ramRotationStep(u32 turn) {
  if (turn < RAM_SPREAD_MIN_TURN) return 1;
  u32 step = turn * 618 / 1000;
  while (std::gcd(step, turn) != 1) --step;
  return step;
}

u32 takeRamWindow(RamFlushFn flush, u32 bytes) {
  const u32 windows = windowsOfSpan();
  if (windows <= 1) return 0;

  const Rotation r = rotationOf(windows);
  const u32 index = nextIndex(r);
  bench.measuring.ramSpanOffset.store(indexAfter(r, index, 1) * RAM_WINDOW_BYTES,
                                      std::memory_order_relaxed);
  if (flush == nullptr) return index * RAM_WINDOW_BYTES;
  if (r.ahead == 0) {
    flush(index * RAM_WINDOW_BYTES, bytes, 0);  // too few windows to ready one ahead
  } else {
    readyWindow(flush, indexAfter(r, index, r.ahead));
  }
  return index * RAM_WINDOW_BYTES;
}

void primeRamWindows(RamFlushFn flush) {
  const u32 windows = windowsOfSpan();
  if (flush == nullptr || windows <= 1) return;
  const Rotation r = rotationOf(windows);
  const u32 index = nextIndex(r);
  for (u32 k = 0; k < r.ahead; ++k) readyWindow(flush, indexAfter(r, index, k));
}

u32 measureRamWith(RamKernelFn kernel, i32 gap, u32 block, RamFlushFn flush) {
  auto walk = [&] { return kernel(takeRamWindow(flush), gap, block); };
  walk();  // warm-up; its time is not used

  const u32 tscRate = bench.machine.tscRate.load(std::memory_order_relaxed);
  const bool cold = ramWalksAreCold();
  const u32 budgetShift = cold ? RAM_COLD_BUDGET_SHIFT : RAM_BUDGET_SHIFT;
  u32 best = BAD_SAMPLE;
  // Cold walks each take another window, so the best of them is the window that lies best in
  // physical memory, not the memory's speed: their figure is the median walk.
  std::array<u32, RAM_COLD_MAX_WALKS> coldTimes;
  u32 coldWalks = 0;
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
    if (cold) coldTimes[coldWalks++] = t;

    // |t - best| * 1000 needs up to 42 bits, and so may the quotient when best is small.
    const u32 distance = t > best ? t - best : best - t;
    const std::uint64_t perMille = std::uint64_t{distance} * 1000 / best;
    if (perMille <= RAM_TOLERANCE_PER_MILLE) {
      // The result that completes the count is not folded into best.
      if (bench.measuring.ramStableCount.fetch_add(1, std::memory_order_relaxed) + 1 >
              RAM_STABLE_LIMIT &&
          (!cold || coldWalks >= RAM_COLD_MIN_WALKS))
        break;
    }
    if (t < best) best = t;
    if (best == 0) best = 1;

    budget += t >> budgetShift;
    if (budget >= tscRate || coldWalks == RAM_COLD_MAX_WALKS) break;
  }
  if (!cold) return ramSpeedKiBps(tscRate, best);
  const auto middle = coldTimes.begin() + (coldWalks - 1) / 2;
  std::nth_element(coldTimes.begin(), middle, coldTimes.begin() + coldWalks);
  return ramSpeedKiBps(tscRate, *middle == 0 ? 1 : *middle);
}

}  // namespace vardelo
