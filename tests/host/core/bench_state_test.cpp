#include "core/bench_state.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

// The threads rely on these start values: cacheBusy 1 holds the RAM worker back until the first
// cache sweep ends; l2ProbeSize all ones means "not known yet"; the charts start at 10240.
TEST(BenchState, StartsWithTheValuesTheThreadsRelyOn) {
  BenchState s;
  EXPECT_EQ(s.cacheBusy.load(), 1);
  EXPECT_EQ(s.lineSize.load(), 32);
  EXPECT_EQ(s.cacheFigures.load().l2ProbeSize, 0xFFFFFFFFu);
  EXPECT_FALSE(s.cacheFigures.load().dcacheSize.isSet());
  EXPECT_EQ(s.readStats[0].load().points, 0u);
  EXPECT_EQ(s.readFilter.load(), 4);
  EXPECT_EQ(s.writeFilter.load(), 4);
  EXPECT_EQ(s.cacheMax.load(), 10240u);
  EXPECT_EQ(s.readMax.load(), 10240u);
  EXPECT_EQ(s.writeMax.load(), 10240u);
  EXPECT_EQ(s.ramBusy.load(), 0);
  EXPECT_EQ(s.tscRate.load(), 0u);
  EXPECT_EQ(s.dcacheCurve[0].load(), 0u);
  EXPECT_EQ(s.readCurves[3][323].load(), 0u);
}

TEST(BenchState, ProgressBarStartsAsOpenBracketAndFortyEightBars) {
  BenchState s;
  ASSERT_EQ(std::strlen(s.progressBar), 49u);
  EXPECT_EQ(s.progressBar[0], '<');
  for (int i = 1; i <= 48; ++i) EXPECT_EQ(s.progressBar[i], '|') << "position " << i;
}

// The tests' one reset of the shared record: every field, from the first to the last, plain and
// atomic, scalar, array and record, gets its start value back.
TEST(BenchState, ResetBenchGivesEveryFieldItsStartValue) {
  static BenchState fresh;  // statically initialised, as the program's own record
  bench.hInstance = &fresh;
  bench.cacheBusy = 0;
  CacheFigures figures;
  figures.l2ProbeSize = 0;
  figures.dcacheSize = figure(32768, FigureSource::Latency);
  bench.cacheFigures.store(figures);
  bench.writeMmxStats[3].store({1, 2, 3, 4, 5});
  bench.progressBar[5] = 'x';
  bench.readCurves[3][323] = 7;
  bench.caches.levels[7].sizeBytes = 1;
  bench.tabItem.textMax = 9;
  bench.readScale.top = 1;
  bench.writePaintCount = 5;
  bench.filterLabel[31] = 'z';

  resetBench();

  EXPECT_EQ(bench.hInstance.load(), nullptr);
  EXPECT_EQ(bench.cacheBusy.load(), 1);
  EXPECT_EQ(bench.cacheFigures.load(), CacheFigures{});
  EXPECT_EQ(bench.progressBar[5], '|');
  EXPECT_EQ(bench.readCurves[3][323].load(), 0u);
  EXPECT_EQ(bench.filterLabel[31], 0);
  EXPECT_EQ(std::memcmp(&bench, &fresh, sizeof fresh), 0) << "a field kept a value of the test's";
}

// Shared fields are read without locks; they must be lock-free atomics of their stated width so
// that a load is one aligned access.
TEST(BenchState, SharedFieldsAreLockFreeOfTheirWidth) {
  static_assert(sizeof(AtomicU32) == 4 && sizeof(AtomicU8) == 1 && sizeof(AtomicU16) == 2);
  BenchState s;
  EXPECT_TRUE(s.cacheDirty.is_lock_free());
  EXPECT_TRUE(s.cacheBusy.is_lock_free());
  EXPECT_TRUE(s.fillMode.is_lock_free());
  EXPECT_EQ(sizeof(s.dcacheCurve), 164u * 4u);
  EXPECT_EQ(sizeof(s.readCurves), 4u * 324u * 4u);
}

}  // namespace
}  // namespace vardelo
