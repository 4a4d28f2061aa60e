#include "kernels/ram_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

// A kernel that plays back a script of tick counts and records how it was called. Past the end
// of the script it returns a long walk, so a loop that fails to stop still ends on its budget.
struct Call {
  u32 offset;
  i32 gap;
  u32 block;
};
std::vector<u32> script;
std::vector<Call> calls;
constexpr u32 PAST_SCRIPT = 0x6FFFFFFF;

// Flushes and walks in the order they happened: "flush <offset>+<bytes>", "walk <offset>".
std::vector<std::string> events;

void recordFlush(u32 offset, u32 bytes, u32 stride) {
  events.push_back("flush " + std::to_string(offset >> 20) + "M+" + std::to_string(bytes) +
                   (stride != 0 ? "/" + std::to_string(stride) : ""));
}

u32 scriptedKernel(u32 offset, i32 gap, u32 block) {
  const std::size_t i = calls.size();
  events.push_back("walk " + std::to_string(offset >> 20) + "M");
  calls.push_back({offset, gap, block});
  return i < script.size() ? script[i] : PAST_SCRIPT;
}

std::vector<u32> repeat(u32 ticks, std::size_t n) { return std::vector<u32>(n, ticks); }
std::vector<u32> operator+(std::vector<u32> a, const std::vector<u32>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class RamLoop : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    script.clear();
    calls.clear();
    events.clear();
    resetBench();
  }
  // Runs the loop on `ticks` (the first entry is the warm-up) and returns the speed.
  static u32 run(std::vector<u32> ticks, u32 tscRate = 2929687, i32 gap = -3104, u32 block = 32,
                 RamFlushFn flush = nullptr) {
    script = std::move(ticks);
    calls.clear();
    events.clear();
    bench.machine.tscRate = tscRate;
    return measureRamWith(scriptedKernel, gap, block, flush);
  }
};

TEST_F(RamLoop, AgreeingResultsTakeOneWarmUpAndSevenWalksAtOffsetZero) {
  // The warm-up's own result (1 tick) must not become the best.
  const u32 speed = run(std::vector<u32>{1} + repeat(1000000, 20), 2929687, -3328, 256);
  EXPECT_EQ(calls.size(), 8u) << "1 warm-up + 1 walk against BAD_SAMPLE + 6 stable walks";
  EXPECT_EQ(bench.measuring.ramStableCount.load(), 6u);
  EXPECT_EQ(speed, ramSpeedKiBps(2929687, 1000000));
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].offset, 0u) << "call " << i;
    EXPECT_EQ(calls[i].gap, -3328) << "call " << i;
    EXPECT_EQ(calls[i].block, 256u) << "call " << i;
  }
}

// One result at a given distance above a best of 1,000,000 ticks, then agreeing results: a
// stable outlier saves one walk.
TEST_F(RamLoop, ToleranceIs45PerMilleWithATruncatingQuotient) {
  struct Row {
    u32 outlier;
    std::size_t expectedCalls;
  };
  const Row rows[] = {
      {1045000, 8},  // 45 per mille
      {1045999, 8},  // 45.999 truncates to 45
      {1046000, 9},  // 46 per mille
  };
  for (const Row& r : rows) {
    run(std::vector<u32>{0, 1000000, r.outlier} + repeat(1000000, 20));
    EXPECT_EQ(calls.size(), r.expectedCalls) << "outlier " << r.outlier;
  }
}

TEST_F(RamLoop, TheResultThatCompletesTheCountIsNotFoldedIntoBest) {
  // Five stable walks, then a lower one within tolerance: it ends the call but is not used.
  u32 speed = run(std::vector<u32>{0, 1000000} + repeat(1000000, 5) + std::vector<u32>{960000});
  EXPECT_EQ(calls.size(), 8u);
  EXPECT_EQ(speed, ramSpeedKiBps(2929687, 1000000)) << "expected the best of 1,000,000 ticks";

  // The same lower result earlier in the call is a new best.
  speed = run(std::vector<u32>{0, 1000000, 960000} + repeat(960000, 5));
  EXPECT_EQ(calls.size(), 8u);
  EXPECT_EQ(speed, ramSpeedKiBps(2929687, 960000));
}

TEST_F(RamLoop, SpeedIsTscRateTimes8MiBOverBest) {
  EXPECT_EQ(run(repeat(10000000, 8), 2929687), 2457599u);

  struct Row {
    u32 tscRate, best, expected;
  };
  const Row rows[] = {
      {2929687, 10000000, 2457599},       {511, 1, 511u << 23},  // 4,286,578,688: still fits
      {512, 1, RAM_SPEED_CEILING},                               // 2^32: saturates
      {0xFFFFFFFF, 1, RAM_SPEED_CEILING},                        // 2^55
      {0xFFFFFFFF, 0xFFFFFFFF, 8388608},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ramSpeedKiBps(r.tscRate, r.best), r.expected)
        << "tscRate " << r.tscRate << ", best " << r.best;
  }
}

TEST_F(RamLoop, BadSamplesAreRetriedTenTimesAndTheTenthIsUsed) {
  // Three failures, then a result: one step.
  u32 speed = run(std::vector<u32>{0, BAD_SAMPLE, BAD_SAMPLE, BAD_SAMPLE} + repeat(1000000, 7));
  EXPECT_EQ(calls.size(), 11u);
  EXPECT_EQ(speed, ramSpeedKiBps(2929687, 1000000));

  // Ten failures: BAD_SAMPLE is taken as the time, agrees with the starting best and counts as
  // stable; the count is never reset, so five more stable walks after the first real one end it.
  speed = run(std::vector<u32>{0} + repeat(BAD_SAMPLE, 10) + repeat(1000000, 6));
  EXPECT_EQ(calls.size(), 17u);
  EXPECT_EQ(bench.measuring.ramStableCount.load(), 6u);
  EXPECT_EQ(speed, ramSpeedKiBps(2929687, 1000000));
}

// A processor without SSE: every walk of the MMX write kernel is BAD_SAMPLE.
TEST_F(RamLoop, MissingFeatureEndsOnBudgetOrCountAtTscRateOver224) {
  struct Row {
    u32 tscRate;
    std::size_t steps;  // each step adds 917,504 to the budget, or is one more stable result
  };
  const Row rows[] = {
      {2929687, 4},
      {3 * 917504, 3},  // the budget reaches tscRate exactly: done
      {3 * 917504 + 1, 4},
      {1000000000, 6},  // the budget would take longer than the six stable results
  };
  for (const Row& r : rows) {
    const u32 speed = run(repeat(BAD_SAMPLE, 100), r.tscRate);
    EXPECT_EQ(calls.size(), 1 + 10 * r.steps) << "tscRate " << r.tscRate;
    EXPECT_EQ(speed, r.tscRate / 224) << "tscRate " << r.tscRate;
  }
  EXPECT_EQ(run(repeat(BAD_SAMPLE, 100), 2929687), 13078u);
}

TEST_F(RamLoop, BudgetAddsTicksShiftedRightBy11) {
  // Walks that never agree, adding 400 (821,247 >> 11, truncated), 800, 1600 and 3200.
  const std::vector<u32> walks = {0, 819200 + 2047, 2 * 819200, 4 * 819200, 8 * 819200};
  struct Row {
    u32 tscRate;
    std::size_t walks;
  };
  const Row rows[] = {{400, 1}, {401, 2}, {1200, 2}, {1201, 3}, {2800, 3}, {2801, 4}};
  for (const Row& r : rows) {
    run(walks, r.tscRate);
    EXPECT_EQ(calls.size(), 1 + r.walks) << "tscRate " << r.tscRate;
  }
}

// Caches of 2 MiB or less: the span is the window, every walk stays at offset 0 and nothing is
// flushed, even with a flush at hand.
TEST_F(RamLoop, TheWindowAloneIsWalkedInPlaceWithoutFlushing) {
  bench.measuring.ramSpanOffset = 16u << 20;  // left from some earlier span: not used
  run(std::vector<u32>{0} + repeat(1000000, 7), 2929687, 0, 32, recordFlush);
  EXPECT_EQ(events, std::vector<std::string>(8, "walk 0M"));
  EXPECT_EQ(bench.measuring.ramSpanOffset.load(), 16u << 20);
}

// A 32 MiB span: four windows, of which the rotation uses the two clear of the cache sweep's
// area. Each take flushes the other one whole (with the 256 bytes a walk may overrun), the warm-up
// and the retries too; the rotation goes on from call to call. The walks are cold: the stable
// count ends the call from the sixteenth walk on.
TEST_F(RamLoop, ALargerSpanRotatesWindowsFlushedAheadAcrossCalls) {
  bench.machine.ramSpanBytes = 32u << 20;
  bench.measuring.ramSpanOffset = 24u << 20;
  const std::string flush = "+" + std::to_string(RAM_WINDOW_BYTES + 256);
  const u32 speed =
      run(std::vector<u32>{0, BAD_SAMPLE} + repeat(1000000, 20), 2929687, 0, 32, recordFlush);
  EXPECT_EQ(speed, ramSpeedKiBps(2929687, 1000000));
  EXPECT_EQ(calls.size(), 18u) << "warm-up, one retry, sixteen walks";
  std::vector<std::string> expected;
  for (int i = 0; i < 18; ++i) {
    expected.push_back("flush " + std::string(i % 2 ? "24M" : "16M") + flush);
    expected.push_back("walk " + std::string(i % 2 ? "16M" : "24M"));
  }
  EXPECT_EQ(events, expected);
  EXPECT_EQ(bench.measuring.ramSpanOffset.load(), 24u << 20);

  run(std::vector<u32>{0} + repeat(1000000, 20), 2929687, 0, 32, recordFlush);
  EXPECT_EQ(events.front(), "flush 16M" + flush) << "the next call goes on where this one ended";
}

// The rotation over spans of every size, primed as a pass primes it: which windows are walked,
// and that each was readied before its walk with half a turn of other windows readied since
// (every line flushed, or one line a page where the span outgrows the caches); with two windows,
// each flushed by its own take.
TEST_F(RamLoop, EachWindowIsWalkedHalfATurnAfterItsReadying) {
  struct Row {
    u32 spanMiB;
    u32 firstWalked, lastWalked;  // window indices the rotation runs over
    u32 ahead;
    u32 flushedBytes;
  };
  const u32 whole = RAM_WINDOW_BYTES + RAM_WALK_OVERRUN_BYTES;
  const Row rows[] = {
      {16, 0, 1, 0, 4096},  // two windows: the cache sweep's area is walked too
      {32, 2, 3, 1, whole}, {48, 2, 5, 2, whole},    {56, 2, 6, 2, whole},
      {64, 2, 7, 3, whole}, {256, 2, 31, 15, whole}, {2048, 2, 255, 127, whole},
  };
  struct Flush {
    u32 offset, bytes, stride;
  };
  static std::vector<Flush> flushes;
  const RamFlushFn record = [](u32 o, u32 b, u32 s) { flushes.push_back({o, b, s}); };
  for (const Row& r : rows)
    for (const bool outgrows : {false, true})
      for (const u32 startAt : {0u, 5u}) {  // a fresh rotation, and one taken up part way round
        resetBench();
        flushes.clear();
        bench.machine.ramSpanBytes = r.spanMiB << 20;
        bench.machine.ramSpanOutgrowsCaches = outgrows;
        const bool pages = outgrows && r.ahead > 0;
        const u32 bytes = pages ? RAM_WINDOW_BYTES : r.flushedBytes;
        const u32 stride = pages ? 4096 : 0;
        bench.measuring.ramSpanOffset = startAt * RAM_WINDOW_BYTES;
        primeRamWindows(record);
        EXPECT_EQ(flushes.size(), r.ahead) << r.spanMiB << " MiB: the prime";
        const u32 turn = r.lastWalked - r.firstWalked + 1;
        const u32 from =
            startAt >= r.firstWalked && startAt <= r.lastWalked ? startAt : r.firstWalked;
        std::vector<int> flushedAt(r.lastWalked + 1, -1);  // flush event that last flushed a window
        for (std::size_t e = 0; e < flushes.size(); ++e)
          flushedAt[flushes[e].offset / RAM_WINDOW_BYTES] = static_cast<int>(e);
        for (u32 take = 0; take < 2 * turn + 3; ++take) {
          const std::size_t before = flushes.size();
          const u32 window = takeRamWindow(record, 4096) / RAM_WINDOW_BYTES;
          ASSERT_EQ(flushes.size(), before + 1) << r.spanMiB << " MiB: one flush per take";
          const auto [flushed, flushedBytes, flushStride] = flushes.back();
          EXPECT_EQ(flushedBytes, bytes) << r.spanMiB << " MiB";
          EXPECT_EQ(flushStride, stride) << r.spanMiB << " MiB";
          ASSERT_EQ(flushed % RAM_WINDOW_BYTES, 0u);
          ASSERT_LE(flushed / RAM_WINDOW_BYTES, r.lastWalked) << r.spanMiB << " MiB";
          flushedAt[flushed / RAM_WINDOW_BYTES] = static_cast<int>(flushes.size() - 1);
          EXPECT_EQ(window, r.firstWalked + (from - r.firstWalked + take * ramRotationStep(turn)) % turn)
              << r.spanMiB << " MiB, take " << take;
          ASSERT_GE(flushedAt[window], 0)
              << r.spanMiB << " MiB, take " << take << ": never flushed";
          EXPECT_EQ(static_cast<int>(flushes.size()) - 1 - flushedAt[window],
                    static_cast<int>(r.ahead))
              << r.spanMiB << " MiB, take " << take;
        }
      }
}

// Walks that never agree end on the budget: t >> 11 per walk with the window alone, t >> 6 with
// cold walks, so the same walks spend a thirty-second of the time.
TEST_F(RamLoop, ColdWalksEndOnAThirtySecondOfTheBudget) {
  const std::vector<u32> walks = {0, 819200, 2 * 819200, 4 * 819200, 8 * 819200, 16 * 819200};
  run(walks, 2800);  // 400 + 800 + 1600
  EXPECT_EQ(calls.size(), 4u);
  run(walks, 2801);
  EXPECT_EQ(calls.size(), 5u);
  bench.machine.ramSpanBytes = 16u << 20;
  run(walks, 2800 * 32);  // 12800 + 25600 + 51200
  EXPECT_EQ(calls.size(), 4u) << "the same walks against 32 times the rate";
  run(walks, 2800 * 32 + 1);
  EXPECT_EQ(calls.size(), 5u);
}

// The step between takes: one window in small turns; else about 0.618 of the turn, sharing no
// factor with it, so that a turn meets every window once and a point's walks lie far apart.
TEST_F(RamLoop, TakesStepFarAcrossTheSpanAndMeetEveryWindowOnce) {
  for (const u32 turn : {1u, 2u, 6u, 7u, 8u, 14u, 30u, 62u, 126u, 254u, 510u}) {
    const u32 step = ramRotationStep(turn);
    if (turn < RAM_SPREAD_MIN_TURN) {
      EXPECT_EQ(step, 1u) << turn;
      continue;
    }
    EXPECT_GE(std::min(step, turn - step), turn / 4) << turn << ": step " << step;
    std::vector<bool> met(turn, false);
    for (u32 k = 0, p = 0; k < turn; ++k, p = (p + step) % turn) met[p] = true;
    EXPECT_EQ(std::count(met.begin(), met.end(), true), static_cast<long>(turn)) << turn;
  }
}

// Cold walks each take another window: their figure is the median walk, and the stable count
// ends a call only from the sixteenth walk on. The window alone keeps the best.
TEST_F(RamLoop, ColdWalksGiveTheMedianOfAtLeastSixteenWalks) {
  struct Case {
    const char* what;
    u32 spanMiB;
    std::vector<u32> walks;  // after the warm-up
    std::size_t walked;      // walks after the warm-up
    u32 ticks;               // the walk the speed comes from
  };
  std::vector<u32> alternating;
  for (int i = 0; i < 8; ++i) alternating = alternating + std::vector<u32>{1000, 990};
  const std::vector<Case> cases = {
      {"window alone: six agree with the best", 8, repeat(1000, 7), 7, 1000},
      {"window alone: the best of fast and slow windows", 8,
       std::vector<u32>{500} + repeat(1000, 5) + repeat(510, 6), 12, 500},
      {"cold: agreeing walks run on to sixteen", 64, repeat(1000, 20), 16, 1000},
      {"cold: a few fast windows do not set the figure", 64,
       repeat(1000, 10) + repeat(500, 3) + repeat(510, 3), 16, 1000},
      {"cold: an even count takes the faster middle", 64, alternating, 16, 990},
  };
  for (const Case& c : cases) {
    bench.measuring.ramSpanOffset = 0;
    bench.machine.ramSpanBytes = c.spanMiB << 20;
    const u32 speed = run(std::vector<u32>{0} + c.walks, 1u << 20);
    EXPECT_EQ(calls.size() - 1, c.walked) << c.what;
    EXPECT_EQ(speed, ramSpeedKiBps(1u << 20, c.ticks)) << c.what;
  }
}

TEST_F(RamLoop, AnOffsetOutsideASmallerSpanStartsAgainAtTheFirstWindow) {
  bench.machine.ramSpanBytes = 16u << 20;
  bench.measuring.ramSpanOffset = 120u << 20;  // left from a larger span
  EXPECT_EQ(takeRamWindow(nullptr), 0u);
  EXPECT_EQ(takeRamWindow(nullptr), 8u << 20);
  EXPECT_EQ(takeRamWindow(nullptr), 0u);
}

TEST_F(RamLoop, AZeroBestBecomesOne) {
  // Without the clamp the next deviation would divide by zero.
  const u32 speed = run(std::vector<u32>{5, 0} + repeat(1, 6), 100);
  EXPECT_EQ(calls.size(), 8u);
  EXPECT_EQ(speed, 100u * 8388608u);
}

}  // namespace
}  // namespace vardelo
