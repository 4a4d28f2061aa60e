#include "kernels/cache_loop.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

constexpr u32 MiB = 1024 * 1024;
constexpr u32 BIG_RATE = 0xFFFFFFFFu;  // a tscRate whose budget no test reaches

// Both kernels of the loop, scripted: each call is recorded (offset for data reads, size for
// code fetches) and answered from the queue, then with `fallback`.
struct Script {
  std::deque<u32> queue;
  u32 fallback = 1000;
  std::vector<u32> dataOffsets;
  std::vector<u32> dataSizes;
  std::vector<u32> codeSizes;

  u32 next() {
    if (queue.empty()) return fallback;
    const u32 t = queue.front();
    queue.pop_front();
    return t;
  }
  std::size_t calls() const { return dataOffsets.size() + codeSizes.size(); }
};
Script script;

u32 scriptedData(u32 offset, u32 size) {
  script.dataOffsets.push_back(offset);
  script.dataSizes.push_back(size);
  return script.next();
}
u32 scriptedCode(u32 size) {
  script.codeSizes.push_back(size);
  return script.next();
}
const CacheKernels SCRIPTED{scriptedData, scriptedCode};

u32 warmupsOf(u32 kind) { return kind == CACHE_KIND_DATA ? 3 : 1; }

class CacheLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    resetBench();
    reset(BIG_RATE, 0);
  }
  void TearDown() override { resetBench(); }
  // A new script, with the counter rate and block offset the case starts from.
  static void reset(u32 tscRate, u32 blockOffset) {
    script = Script{};
    bench.machine.tscRate = tscRate;
    bench.measuring.blockOffset = blockOffset;
    bench.measuring.cacheStableCount = 12345;
  }
};

// The block moves by 4 KiB after the 2nd measurement and then after every 3rd, and starts again
// at 0 where it would reach the end of the 12 MiB area.
TEST_F(CacheLoop, DataBlockWalksThroughTheAreaAndWraps) {
  struct Case {
    const char* what;
    u32 blockOffset, size;
    u32 warmupOffset;
    std::vector<u32> firstMeasurements;
  };
  const Case cases[] = {
      {"from 0", 0, 4608, 0, {0, 0, 4096, 4096, 4096, 8192, 8192, 8192, 12288, 12288}},
      {"8 MiB + 4 MiB reaches the end on entry", 0x800000, 4 * MiB, 0,
       {0, 0, 4096, 4096, 4096, 8192}},
      {"one page less fits, until the first move", 0x7FF000, 4 * MiB, 0x7FF000,
       {0x7FF000, 0x7FF000, 0, 0, 0, 4096, 4096}},
      {"the last fitting 4608-byte blocks", 3068 * 4096, 4608, 3068 * 4096,
       {3068 * 4096, 3068 * 4096, 3069 * 4096, 3069 * 4096, 3069 * 4096, 3070 * 4096,
        3070 * 4096, 3070 * 4096, 0, 0, 0, 4096}},
      {"an offset past the area on entry", 0xC00000, 4608, 0, {0, 0, 4096}},
  };
  for (const Case& c : cases) {
    reset(BIG_RATE, c.blockOffset);
    measureCacheSpeedWith(CACHE_KIND_DATA, c.size, SCRIPTED);
    for (std::size_t i = 0; i < 3 + c.firstMeasurements.size(); ++i) {
      const u32 expected = i < 3 ? c.warmupOffset : c.firstMeasurements[i - 3];
      EXPECT_EQ(script.dataOffsets[i], expected) << c.what << ": call " << i;
    }
  }
}

TEST_F(CacheLoop, EqualResultsEndTheLoopOnTheStableCount) {
  struct Case {
    u32 kind;
    std::deque<u32> queue;  // after the warm-ups' values
    std::size_t measurements;
    u32 blockOffset;  // after the call, from 0x5000
  };
  const Case cases[] = {
      {0, {}, 51, 0x5000 + 17 * 4096},
      {1, {}, 6, 0x5000 + 2 * 4096},  // the code fetches move the data block too
      {2, {}, 6, 0x5000 + 2 * 4096},  // every kind but 0 is a code fetch
      // Stable results need not be consecutive; the count is never reset within a call.
      {1, {2000, 1000, 2000, 2000, 1000}, 5 + 4, 0x5000 + 3 * 4096},
      {0, {1100, 900}, 2 + 51, 0x5000 + 18 * 4096},  // 900 is 100 per mille off, the new best
  };
  for (const Case& c : cases) {
    reset(BIG_RATE, 0x5000);
    script.queue.assign(warmupsOf(c.kind), 1000);
    script.queue.insert(script.queue.end(), c.queue.begin(), c.queue.end());
    script.fallback = c.queue.empty() ? 1000 : c.queue.back();
    measureCacheSpeedWith(c.kind, 8192, SCRIPTED);
    EXPECT_EQ(script.calls(), warmupsOf(c.kind) + c.measurements) << "kind " << c.kind;
    EXPECT_EQ(bench.measuring.cacheStableCount.load(), c.kind == 0 ? 51u : 6u) << "kind " << c.kind;
    EXPECT_EQ(bench.measuring.blockOffset.load(), c.blockOffset) << "kind " << c.kind;
    const std::vector<u32>& sizes = c.kind == 0 ? script.dataSizes : script.codeSizes;
    EXPECT_EQ(sizes.size(), script.calls()) << "kind " << c.kind << ": the other kernel ran";
    for (u32 size : sizes) EXPECT_EQ(size, 8192u) << "kind " << c.kind;
  }
}

TEST_F(CacheLoop, ToleranceIsPerMilleOfTheLastWarmupTruncated) {
  struct Case {
    u32 kind, best, t;
    bool stable;
  };
  const Case cases[] = {
      {0, 1000, 1025, true},        {0, 1000, 1026, false},
      {0, 1000, 975, true},         {0, 1000, 974, false},
      {0, 999, 1024, true},  // 25.03 per mille
      {0, 999, 1025, false},        // 26.03
      {1, 1000, 1050, true},        {1, 1000, 1051, false},
      {1, 1000, 950, true},         {1, 1000, 949, false},
      {9, 1000, 1050, true},        {9, 1000, 1051, false},
      // 2^29 ticks from a best of 1 is 125 * 2^32 per mille: far off, even though the
      // product's low 32 bits are 0.
      {0, 1, 0x20000001, false},
  };
  for (const Case& c : cases) {
    reset(1, 0);  // the budget ends the loop after one measurement
    if (c.kind == CACHE_KIND_DATA) script.queue = {c.best / 2, c.best * 2};  // earlier warm-ups
    script.queue.push_back(c.best);
    script.queue.push_back(c.t);
    measureCacheSpeedWith(c.kind, 4608, SCRIPTED);
    EXPECT_EQ(script.calls(), warmupsOf(c.kind) + 1u) << "kind " << c.kind << ", t " << c.t;
    EXPECT_EQ(bench.measuring.cacheStableCount.load(), c.stable ? 1u : 0u)
        << "kind " << c.kind << ", best " << c.best << ", t " << c.t;
  }
}

TEST_F(CacheLoop, BadSamplesAreRetriedUpToTenTimesThenUsed) {
  struct Case {
    u32 badResults;
    std::size_t measurements;
    u32 stableCount;
  };
  const Case cases[] = {
      {0, 1, 1},
      {1, 2, 1},
      {9, 10, 1},
      {10, 10, 0},  // the tenth BAD_SAMPLE is taken as the time: far from the best
  };
  for (const Case& c : cases) {
    reset(1, 0);
    script.queue.assign(3, 1000);
    script.queue.insert(script.queue.end(), c.badResults, BAD_SAMPLE);
    const u32 speed = measureCacheSpeedWith(CACHE_KIND_DATA, 4608, SCRIPTED);
    EXPECT_EQ(script.calls(), 3u + c.measurements) << c.badResults << " bad";
    EXPECT_EQ(bench.measuring.cacheStableCount.load(), c.stableCount) << c.badResults << " bad";
    EXPECT_EQ(speed, 4608u / 1000u) << c.badResults << " bad";
  }
  // Retries are measurements: ten of them move the block three times.
  EXPECT_EQ(bench.measuring.blockOffset.load(), 3u * 4096u);
}

TEST_F(CacheLoop, KernelWithoutAnyValidTimeGivesATinySpeed) {
  struct Case {
    u32 tscRate;
    std::size_t steps;  // steps of ten tries each
    u32 speed;          // tscRate * 6144 / BAD_SAMPLE
  };
  const Case cases[] = {
      {BIG_RATE, 51, 14043},  // every deviation is 0: the stable count ends it
      {2929687, 1, 9},        // at a real rate the first step's 2^29 / 32 ends the budget
  };
  for (const Case& c : cases) {
    reset(c.tscRate, 0);
    script.fallback = BAD_SAMPLE;
    EXPECT_EQ(measureCacheSpeedWith(CACHE_KIND_DATA, 6144, SCRIPTED), c.speed)
        << "tscRate " << c.tscRate;
    EXPECT_EQ(script.calls(), 3u + 10u * c.steps) << "tscRate " << c.tscRate;
  }
}

TEST_F(CacheLoop, BudgetEndsTheLoopAtOneThirtySecondOfMeasuredTime) {
  // Each result adds 3231 >> 5 = 100 to the budget.
  struct Case {
    u32 tscRate;
    std::size_t measurements;
  };
  const Case cases[] = {{100, 1}, {101, 2}, {1000, 10}, {1001, 11}, {5000, 50}};
  for (const Case& c : cases) {
    reset(c.tscRate, 0);
    script.fallback = 3231;
    const u32 speed = measureCacheSpeedWith(CACHE_KIND_DATA, 4608, SCRIPTED);
    EXPECT_EQ(script.calls(), 3u + c.measurements) << "tscRate " << c.tscRate;
    EXPECT_EQ(speed, c.tscRate * 4608u / 3231u) << "tscRate " << c.tscRate;
  }
}

TEST_F(CacheLoop, SpeedIsRateTimesSizeOverBestIn64Bits) {
  struct Case {
    u32 tscRate, size, best, speed;
  };
  const Case cases[] = {
      {2929687, 6144, 1000, 17999996},
      {1000, 4608, 0, 4608000},  // a best of 0 counts as 1
      {BIG_RATE, 0xBFFF00, 1, 0xFFFFFFFEu},  // too fast for 32 bits: just below NO_POINT
  };
  for (const Case& c : cases) {
    reset(c.tscRate, 0);
    script.fallback = c.best;
    EXPECT_EQ(measureCacheSpeedWith(CACHE_KIND_DATA, c.size, SCRIPTED), c.speed)
        << "tscRate " << c.tscRate << ", size " << c.size << ", best " << c.best;
  }
}

TEST_F(CacheLoop, TheResultThatCompletesTheCountDoesNotJoinTheBest) {
  struct Case {
    u32 kind;
    std::size_t fastAt;  // measurement (from 1) that gives 980 instead of 1000
    u32 best;
  };
  const Case cases[] = {
      {0, 51, 1000}, {0, 50, 980}, {1, 6, 1000}, {1, 5, 980},
  };
  for (const Case& c : cases) {
    reset(1000000, 0);
    script.queue.assign(warmupsOf(c.kind) + c.fastAt - 1, 1000);
    script.queue.push_back(980);
    script.fallback = 1000;
    const u32 speed = measureCacheSpeedWith(c.kind, 8192, SCRIPTED);
    EXPECT_EQ(speed, std::uint64_t{1000000} * 8192 / c.best) << "kind " << c.kind << ", 980 at " << c.fastAt;
  }
}

}  // namespace
}  // namespace vardelo
