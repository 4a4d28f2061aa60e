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
  EXPECT_EQ(s.protocol.cacheBusy.load(), 1);
  EXPECT_EQ(s.measuring.lineSize.load(), 32);
  EXPECT_EQ(s.results.cacheFigures.load().l2ProbeSize, 0xFFFFFFFFu);
  EXPECT_FALSE(s.results.cacheFigures.load().dcacheSize.isSet());
  EXPECT_EQ(s.results.readStats[0].load().points, 0u);
  EXPECT_EQ(s.window.readFilter.load(), 4);
  EXPECT_EQ(s.window.writeFilter.load(), 4);
  EXPECT_EQ(s.results.cacheMax.load(), 10240u);
  EXPECT_EQ(s.results.readMax.load(), 10240u);
  EXPECT_EQ(s.results.writeMax.load(), 10240u);
  EXPECT_EQ(s.protocol.ramBusy.load(), 0);
  EXPECT_EQ(s.machine.tscRate.load(), 0u);
  EXPECT_EQ(s.results.dcacheCurve[0].load(), 0u);
  EXPECT_EQ(s.results.readCurves[3][323].load(), 0u);
}

TEST(BenchState, ProgressBarStartsAsOpenBracketAndFortyEightBars) {
  BenchState s;
  ASSERT_EQ(std::strlen(s.measuring.progressBar), 49u);
  EXPECT_EQ(s.measuring.progressBar[0], '<');
  for (int i = 1; i <= 48; ++i) EXPECT_EQ(s.measuring.progressBar[i], '|') << "position " << i;
}

// The tests' one reset of the shared record: every field, from the first to the last, plain and
// atomic, scalar, array and record, gets its start value back.
TEST(BenchState, ResetBenchGivesEveryFieldItsStartValue) {
  static BenchState fresh;  // statically initialised, as the program's own record
  bench.machine.hInstance = &fresh;
  bench.protocol.cacheBusy = 0;
  CacheFigures figures;
  figures.l2ProbeSize = 0;
  figures.dcacheSize = figure(32768, FigureSource::Latency);
  bench.results.cacheFigures.store(figures);
  bench.results.writeMmxStats[3].store({1, 2, 3, 4, 5});
  bench.measuring.progressBar[5] = 'x';
  bench.results.readCurves[3][323] = 7;
  bench.machine.caches.levels[7].sizeBytes = 1;
  bench.window.tabItem.textMax = 9;
  bench.window.readScale.top = 1;
  bench.window.writePaintCount = 5;
  bench.window.filterLabel[31] = 'z';

  resetBench();

  EXPECT_EQ(bench.machine.hInstance.load(), nullptr);
  EXPECT_EQ(bench.protocol.cacheBusy.load(), 1);
  EXPECT_EQ(bench.results.cacheFigures.load(), CacheFigures{});
  EXPECT_EQ(bench.measuring.progressBar[5], '|');
  EXPECT_EQ(bench.results.readCurves[3][323].load(), 0u);
  EXPECT_EQ(bench.window.filterLabel[31], 0);
  EXPECT_EQ(std::memcmp(&bench, &fresh, sizeof fresh), 0) << "a field kept a value of the test's";
}

// Shared fields are read without locks; they must be lock-free atomics of their stated width so
// that a load is one aligned access.
TEST(BenchState, SharedFieldsAreLockFreeOfTheirWidth) {
  static_assert(sizeof(AtomicU32) == 4 && sizeof(AtomicU8) == 1 && sizeof(AtomicU16) == 2);
  BenchState s;
  EXPECT_TRUE(s.protocol.cacheDirty.is_lock_free());
  EXPECT_TRUE(s.protocol.cacheBusy.is_lock_free());
  EXPECT_TRUE(s.measuring.fillMode.is_lock_free());
  EXPECT_EQ(sizeof(s.results.dcacheCurve), 164u * 4u);
  EXPECT_EQ(sizeof(s.results.readCurves), 4u * 324u * 4u);
}

}  // namespace
}  // namespace vardelo
