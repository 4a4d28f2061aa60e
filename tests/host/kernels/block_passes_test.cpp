#include "kernels/block_passes.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace vardelo {
namespace {

TEST(BlockReadPasses, FollowTheBlockSize) {
  struct Case {
    u32 size, passes;
  };
  const Case cases[] = {
      {256, 512},     {4096, 512},      {4608, 512},     {5461, 512},   {5462, 511},
      {6144, 455},    {8192, 341},      {65536, 42},     {262144, 10},  {1048576, 2},
      {1398101, 2},   {1398102, 1},     {4194304, 1},    {0xBFFF00, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(blockReadPasses(c.size), c.passes) << "size " << c.size;
  }
}

TEST(BlockTicksFromDiff, RejectsWideDiffsAndSubtractsTheOverheadModulo32Bits) {
  struct Case {
    std::uint64_t diff;
    u32 overhead, expected;
  };
  const Case cases[] = {
      {1000, 0, 1000},
      {1000, 40, 960},
      {0xFFFFFFFFull, 0, 0xFFFFFFFFu},
      {10, 30, 0xFFFFFFECu},            // a diff below the overhead wraps
      {0x100000000ull, 0, BAD_SAMPLE},  // 2^32 ticks no longer fit
      {0x100000005ull, 5, BAD_SAMPLE},  // not even after the overhead
      {~0ull, 0, BAD_SAMPLE},           // the counter ran backwards
  };
  for (const Case& c : cases) {
    EXPECT_EQ(blockTicksFromDiff(c.diff, c.overhead), c.expected)
        << "diff " << c.diff << ", overhead " << c.overhead;
  }
}

TEST(MeanPassTicksFromDiff, DividesWhatIsLeftAfterTheOverheadAmongThePasses) {
  struct Case {
    std::uint64_t diff;
    u32 overhead, passes, expected;
  };
  const Case cases[] = {
      {512 * 60 + 40, 40, 512, 60},             // the overhead is paid once, not per pass
      {1000, 0, 3, 333},                        // truncated
      {30, 40, 1, 0},                           // below the overhead: nothing, not a wrap
      {40, 40, 7, 0},
      {0x1000000000ull, 0, 512, 0x8000000u},    // a sum past 32 bits, a mean within them
      {0x70000000ull * 2, 0, 2, BAD_SAMPLE},    // a mean of BAD_SAMPLE itself is no mean
      {0x70000000ull * 2 - 1, 0, 2, 0x6FFFFFFFu},
      {0xFFFFFFFFFFull, 0, 1, BAD_SAMPLE},      // a mean past 32 bits
      {~0ull - 5, 0, 512, BAD_SAMPLE},          // the counter ran backwards
      {1000, 0, 0, BAD_SAMPLE},                 // no passes
  };
  for (const Case& c : cases) {
    EXPECT_EQ(meanPassTicksFromDiff(c.diff, c.overhead, c.passes), c.expected)
        << "diff " << c.diff << ", overhead " << c.overhead << ", passes " << c.passes;
  }
}

// A kernel that records its calls and returns queued values, then `fallback`.
struct ScriptedTicks {
  std::deque<u32> queue;
  u32 fallback = 0;
  std::vector<u32> offsets, lengths;
};
ScriptedTicks script;

u32 scriptedTicks(u32 offset, u32 length) {
  script.offsets.push_back(offset);
  script.lengths.push_back(length);
  if (script.queue.empty()) return script.fallback;
  const u32 t = script.queue.front();
  script.queue.pop_front();
  return t;
}

class BlockReadPassTicks : public ::testing::Test {
 protected:
  void SetUp() override { script = ScriptedTicks{}; }
};

TEST_F(BlockReadPassTicks, ReadsTheSameBlockEveryPassAndReturnsTheTruncatedMean) {
  // 455 passes at 6144 bytes: 454 of 1000 ticks and one of 1454 make 455454, mean 1000.99...
  script.queue = {1454};
  script.fallback = 1000;
  EXPECT_EQ(blockReadPassTicksWith(0x3000, 6144, scriptedTicks), 1000u);
  ASSERT_EQ(script.offsets.size(), 455u);
  for (std::size_t i = 0; i < script.offsets.size(); ++i) {
    ASSERT_EQ(script.offsets[i], 0x3000u) << "pass " << i;
    ASSERT_EQ(script.lengths[i], 6144u) << "pass " << i;
  }
}

// 512 passes of 0x01000000 ticks sum to 2^33: a 32-bit sum would make the mean 0.
TEST_F(BlockReadPassTicks, MeanOfSlowPassesNeedsMoreThan32BitsOfSum) {
  const struct {
    u32 size, ticks;
  } cases[] = {{4608, 0x01000000u}, {4608, 0x6FFFFFFFu}, {65536, 0xFFFFFFFEu}};
  for (const auto& c : cases) {
    script = ScriptedTicks{};
    script.fallback = c.ticks;
    EXPECT_EQ(blockReadPassTicksWith(0, c.size, scriptedTicks), c.ticks)
        << "size " << c.size << ", " << c.ticks << " ticks a pass";
  }
  // Unequal passes: one of 0xF0000000 and 511 of 0x10000000 average 0x10700000 exactly.
  script = ScriptedTicks{};
  script.queue = {0xF0000000u};
  script.fallback = 0x10000000u;
  EXPECT_EQ(blockReadPassTicksWith(0, 4096, scriptedTicks), 0x10700000u);
}

TEST_F(BlockReadPassTicks, OneBadPassMakesTheWholeResultBad) {
  // The bad pass first, in the middle and last of the 455.
  for (std::size_t bad : {std::size_t{0}, std::size_t{200}, std::size_t{454}}) {
    script = ScriptedTicks{};
    script.queue.assign(455, 1000);
    script.queue[bad] = BAD_SAMPLE;
    EXPECT_EQ(blockReadPassTicksWith(0, 6144, scriptedTicks), BAD_SAMPLE) << "bad pass " << bad;
    EXPECT_EQ(script.offsets.size(), 455u) << "bad pass " << bad;
  }
}

}  // namespace
}  // namespace vardelo
