// The cache sweep worker and the RAM sweep worker on real threads, with fake kernels that note
// who is measuring, while a third thread presses the restart buttons at random. They must never
// measure at the same time, and every request must be served.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "core/bench_state.h"
#include "workers/cache_worker.h"
#include "workers/ram_worker.h"

namespace vardelo {
namespace {

std::atomic<int> measuring{0};
std::atomic<bool> overlapped{false};
std::atomic<int> cacheMeasurements{0}, ramMeasurements{0};

u32 note(std::atomic<int>& count) {
  if (measuring.fetch_add(1) != 0) overlapped = true;
  count.fetch_add(1);
  std::this_thread::yield();
  measuring.fetch_sub(1);
  return 1000;
}

u32 cacheMeasure(u32, u32) { return note(cacheMeasurements); }
void cacheSearch(const FillProgress&) { note(cacheMeasurements); }
std::uint64_t linePass(u32, u32 stride) { return note(cacheMeasurements) * 1000ull / stride; }
u32 ramMeasure(i32, u32) { return note(ramMeasurements); }
void settleNothing() {}

TEST(WorkerExclusion, CacheAndRamWorkersNeverMeasureAtOnce) {
  static const CacheOps cacheOps{cacheMeasure, cacheSearch, linePass};
  static const RamOps ramOps{ramMeasure, ramMeasure, ramMeasure, settleNothing};
  std::atomic<bool> stop{false};
  std::atomic<int> cacheSweeps{0}, ramTurns{0};

  std::thread cache([&] {
    cacheWorkerStart();
    while (!stop) {
      cacheSweep(cacheOps);
      ++cacheSweeps;
      while (!stop && !cacheIdleTurn()) {
      }
    }
  });
  std::thread ram([&] {
    ramWorkerStart();
    while (!stop) {
      ramWorkerTurn(ramOps);
      ++ramTurns;
    }
  });
  std::thread user([&] {
    std::mt19937 random(12345);
    for (int press = 0; press < 600; ++press) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
      switch (random() % 3) {
        case 0: bench.protocol.cacheRestart.fetch_or(1); break;
        case 1: bench.protocol.ramRestart.fetch_or(1); break;
        default: bench.protocol.ramRestart.fetch_or(2); break;
      }
    }
  });
  user.join();
  // Let the last requests be served: both request words drain to 0 once nothing is pressed.
  for (int wait = 0; wait < 2000; ++wait) {
    if (bench.protocol.cacheRestart.load() == 0 && bench.protocol.ramRestart.load() == 0 &&
        bench.protocol.cacheBusy.load() == 0 && bench.protocol.ramBusy.load() == 0) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(bench.protocol.cacheRestart.load(), 0) << "a cache restart was never served";
  EXPECT_EQ(bench.protocol.ramRestart.load(), 0) << "a RAM pass request was never served";
  stop = true;
  cache.join();
  ram.join();

  EXPECT_FALSE(overlapped.load()) << "both workers measured at the same time";
  EXPECT_GE(cacheSweeps.load(), 2);
  EXPECT_GT(ramMeasurements.load(), 0);
  EXPECT_GT(cacheMeasurements.load(), 0);
}

}  // namespace
}  // namespace vardelo
