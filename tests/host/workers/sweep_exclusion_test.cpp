#include "workers/sweep_exclusion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/bench_state.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

class SweepExclusion : public ::testing::Test {
 protected:
  void SetUp() override { resetBench(); }  // cacheBusy 1, ramBusy 0: as at start-up
  void TearDown() override {
    if (sweepOwner() == 1) endCacheSweep();
    if (sweepOwner() == 2) endRamPasses();
    resetBench();
  }
};

TEST_F(SweepExclusion, RamWaitsForTheFirstCacheSweep) {
  EXPECT_FALSE(tryBeginRamPasses()) << "cacheBusy starts at 1";
  ASSERT_TRUE(tryBeginCacheSweep());
  EXPECT_EQ(bench.protocol.cacheBusy.load(), 2) << "raised by one";
  EXPECT_FALSE(tryBeginRamPasses());
  endCacheSweep();
  EXPECT_EQ(bench.protocol.cacheBusy.load(), 0);
  EXPECT_TRUE(tryBeginRamPasses());
  EXPECT_EQ(sweepOwner(), 2);
}

TEST_F(SweepExclusion, CacheWaitsWhileARamPassRunsOrIsClaimed) {
  bench.protocol.cacheBusy = 0;
  ASSERT_TRUE(tryBeginRamPasses());
  EXPECT_FALSE(tryBeginCacheSweep()) << "claimed, ramBusy not yet set";
  bench.protocol.ramBusy = 1;
  EXPECT_FALSE(tryBeginCacheSweep());
  bench.protocol.ramBusy = 0;
  endRamPasses();
  EXPECT_TRUE(tryBeginCacheSweep());
}

// Two threads hammer the claims; they must never both hold the right to measure.
TEST_F(SweepExclusion, NeverBothMeasureUnderContention) {
  bench.protocol.cacheBusy = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto work = [&](bool cache) {
    for (int i = 0; i < 20000; ++i) {
      if (cache ? tryBeginCacheSweep() : tryBeginRamPasses()) {
        if (inside.fetch_add(1) != 0) overlap = true;
        if (!cache) bench.protocol.ramBusy = 1;
        if (!cache) bench.protocol.ramBusy = 0;
        inside.fetch_sub(1);
        cache ? endCacheSweep() : endRamPasses();
      }
    }
  };
  std::thread a(work, true), b(work, false);
  a.join();
  b.join();
  EXPECT_FALSE(overlap.load());
}

}  // namespace
}  // namespace vardelo
