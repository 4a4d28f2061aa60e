#include "kernels/stride_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <sstream>
#include <string>
#include <vector>

namespace vardelo {
namespace {

constexpr StrideFamily W = StrideFamily::Words32;
constexpr StrideFamily R = StrideFamily::Runs64;

// Touches of one iteration, as text: 4-byte touches as their offset, contiguous 8-byte stores
// merged into "from..to" runs; then "| next" and where the next iteration starts.
std::string describeIteration(StrideFamily family, i32 gap, u32 block, i32 lineSize, u32 iteration = 0) {
  std::vector<StrideTouch> touches;
  u32 next = 0;
  bool haveNext = false;
  walkStride(planStrideWalk(family, gap, block, lineSize), [&](const StrideTouch& t) {
    if (t.iteration == iteration) touches.push_back(t);
    if (t.iteration == iteration + 1 && !haveNext) next = t.offset, haveNext = true;
  });
  std::ostringstream out;
  for (size_t i = 0; i < touches.size(); ++i) {
    const StrideTouch& t = touches[i];
    if (t.bytes == 4) {
      out << t.offset << ' ';
      continue;
    }
    size_t j = i;
    while (j + 1 < touches.size() && touches[j + 1].offset == touches[j].offset + 8) ++j;
    out << t.offset << ".." << touches[j].offset + 8 << ' ';
    i = j;
  }
  out << "| " << next;
  return out.str();
}

TEST(StridePattern, LineSizeClassesUseSignedCompareAndExactMatches) {
  struct Row {
    i32 lineSize;
    LineClass expected;
  };
  const Row rows[] = {
      {INT_MIN, LineClass::UpTo32}, {-1, LineClass::UpTo32}, {0, LineClass::UpTo32},
      {16, LineClass::UpTo32},      {32, LineClass::UpTo32}, {33, LineClass::Other},
      {63, LineClass::Other},       {64, LineClass::Is64},   {65, LineClass::Other},
      {96, LineClass::Other},       {127, LineClass::Other}, {128, LineClass::Is128},
      {129, LineClass::Other},      {256, LineClass::Other}, {INT_MAX, LineClass::Other},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(static_cast<int>(lineSizeClass(r.lineSize)), static_cast<int>(r.expected))
        << "lineSize " << r.lineSize;
  }
}

TEST(StridePattern, StepRule) {
  struct Row {
    i32 gap;
    u32 block;
    u32 step;
  };
  const Row rows[] = {
      {0, 32, 32},         {1024, 256, 1280},      {7168, 256, 7424},
      {-3136, 64, 3072},   {-3136, 256, 2880},     {-32, 32, 32},  // step 0: walks as gap 0
      {-256, 256, 256},    {-33, 32, 1},           {-257, 256, 1},
      {-3072, 32, 3040},   {INT_MAX, 32, 2147483617u},  // wraps to a negative step, negated
  };
  for (const Row& r : rows) {
    EXPECT_EQ(strideStepBytes(r.gap, r.block), r.step) << "gap " << r.gap << " block " << r.block;
  }
}

TEST(StridePattern, AnyOtherBlockIsWalkedAs256) {
  const u32 blocks[] = {0, 1, 31, 100, 255, 256, 512, 0xFFFFFFFFu};
  for (u32 block : blocks) {
    for (StrideFamily family : {W, R}) {
      for (i32 lineSize : {32, 64, 128, 96}) {
        const StrideWalk walk = planStrideWalk(family, 0, block, lineSize);
        EXPECT_EQ(walk.iterations, 32768u) << "block " << block;
        EXPECT_EQ(walk.pattern, stridePattern(family, 256, lineSize)) << "block " << block << " line " << lineSize;
      }
    }
  }
  EXPECT_EQ(strideIterations(32), 262144u);
  EXPECT_EQ(strideIterations(64), 131072u);
  EXPECT_EQ(strideIterations(128), 65536u);
}

// Every block and line-size class, with a gap that makes the sub-steps visible: the touches of
// the first iteration and where the second starts.
TEST(StridePattern, EveryBlockAndLineClass) {
  struct Row {
    StrideFamily family;
    u32 block;
    i32 lineSize;
    const char* expected;
  };
  const Row rows[] = {
      {W, 32, 32, "0 | 1056"},
      {W, 32, 64, "0 | 1056"},
      {W, 32, 128, "0 | 1056"},
      {W, 32, 96, "0 | 1056"},
      {W, 64, 32, "0 32 | 1088"},
      {W, 64, -7, "0 32 | 1088"},
      {W, 64, 64, "0 | 1088"},
      {W, 64, 128, "0 | 1088"},
      {W, 64, 96, "0 | 1088"},
      {W, 128, 32, "0 32 1152 1184 | 2304"},
      {W, 128, 64, "0 64 | 1152"},
      {W, 128, 128, "0 | 1152"},
      {W, 128, 96, "0 | 1152"},
      {W, 256, 32, "0 32 320 352 640 672 960 992 | 1280"},
      {W, 256, 64, "0 64 640 704 | 1280"},
      {W, 256, 128, "0 128 | 1280"},
      {W, 256, 96, "0 | 1280"},
      {R, 32, 32, "0..32 | 1056"},
      {R, 32, 128, "0..32 | 1056"},
      {R, 64, 32, "0..64 | 1088"},
      {R, 64, 64, "0..64 | 1088"},
      {R, 64, 96, "0..64 | 1088"},
      {R, 128, 32, "0..64 1152..1216 | 2304"},
      {R, 128, 64, "0..128 | 1152"},
      {R, 128, 128, "0..128 | 1152"},
      {R, 128, 96, "0..128 | 1152"},
      {R, 256, 32, "0..64 320..384 640..704 960..1024 | 1280"},
      {R, 256, 64, "0..128 640..768 | 1280"},
      {R, 256, 128, "0..256 | 1280"},
      {R, 256, 96, "0..256 | 1280"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(describeIteration(r.family, 1024, r.block, r.lineSize), r.expected)
        << (r.family == W ? "Words32" : "Runs64") << " block " << r.block << " lineSize " << r.lineSize;
  }
}

TEST(StridePattern, WorkedExamples) {
  EXPECT_EQ(describeIteration(W, 0, 256, 32), "0 32 64 96 128 160 192 224 | 256");
  EXPECT_EQ(describeIteration(W, 1024, 256, 32), "0 32 320 352 640 672 960 992 | 1280");
  EXPECT_EQ(describeIteration(W, 0, 128, 32), "0 32 128 160 | 256");
  EXPECT_EQ(describeIteration(W, -3136, 64, 64), "0 | 3072");
  EXPECT_EQ(describeIteration(W, -3136, 64, 64, 1), "3072 | 6144");
}

// gap -block-1 gives step 1; the quarter and half sub-steps of block 256 then shift to 0.
TEST(StridePattern, GapMinusBlockMinusOneStepsOneByte) {
  EXPECT_EQ(describeIteration(W, -33, 32, 32, 5), "5 | 6");
  EXPECT_EQ(describeIteration(R, -65, 64, 64, 7), "7..71 | 8");
  EXPECT_EQ(describeIteration(W, -129, 128, 32, 3), "6 38 7 39 | 8");
  EXPECT_EQ(describeIteration(W, -257, 256, 32, 9), "0 32 0 32 0 32 0 32 | 0");
  EXPECT_EQ(describeIteration(W, -257, 256, 128, 9), "9 137 | 10");
}

TEST(StridePattern, SmallBlockWithLongLinesStillStoresWholeBlock) {
  EXPECT_EQ(describeIteration(W, 0, 32, 128), "0 | 32");
  EXPECT_EQ(describeIteration(R, 0, 32, 128), "0..32 | 32");
  EXPECT_EQ(describeIteration(W, 0, 256, 96), "0 | 256");
  EXPECT_EQ(describeIteration(R, 0, 256, 96), "0..256 | 256");
}

TEST(StridePattern, LongStepWrapsTwentyNineTimesBackToTheStart) {
  for (StrideFamily family : {W, R}) {
    const StrideWalkEnd end = walkStride(planStrideWalk(family, 7168, 256, 128), nullptr);
    EXPECT_EQ(end.wraps, 29u);
    EXPECT_EQ(end.offset, 0u);
    EXPECT_EQ(end.touchCount, family == W ? 2u * 32768u : 32u * 32768u);
  }
}

// Step 7200, sub-step 1800: iteration 1165 starts at 8388000 and its first group crosses the
// window end, so it ends after that group and iteration 1166 starts at 8389800 - 8 MiB.
TEST(StridePattern, WrapInFirstGroupEndsTheIteration) {
  EXPECT_EQ(describeIteration(W, 6944, 256, 32, 1164), "8380800 8380832 8382600 8382632 8384400 8384432 8386200 8386232 | 8388000");
  EXPECT_EQ(describeIteration(W, 6944, 256, 32, 1165), "8388000 8388032 | 1192");
  EXPECT_EQ(describeIteration(R, 6944, 256, 32, 1165), "8388000..8388064 | 1192");
}

// Every touch stays within the window plus 255 bytes: the wrap is checked after every group,
// not once per iteration. Multi-group and whole-block patterns are the ones that could overrun.
TEST(StridePattern, TouchesStayWithinWindowPlus255) {
  for (StrideFamily family : {W, R}) {
    for (u32 block : {128u, 256u}) {
      for (i32 lineSize : {32, 64, 96}) {
        for (i32 gap : {-3136, 6944, 7168}) {
          u32 highest = 0;
          const StrideWalkEnd end = walkStride(planStrideWalk(family, gap, block, lineSize), [&](const StrideTouch& t) {
            highest = std::max(highest, t.offset + t.bytes);
          });
          EXPECT_LE(highest, RAM_WINDOW_BYTES + 255) << "block " << block << " line " << lineSize << " gap " << gap;
          EXPECT_LT(end.offset, RAM_WINDOW_BYTES);
        }
      }
    }
  }
}

TEST(StridePattern, TickDifferenceAbove32BitsIsBadSample) {
  EXPECT_EQ(strideTicksResult(0), 0u);
  EXPECT_EQ(strideTicksResult(123456), 123456u);
  EXPECT_EQ(strideTicksResult(0xFFFFFFFFull), 0xFFFFFFFFu);
  EXPECT_EQ(strideTicksResult(0x100000000ull), BAD_SAMPLE);
  EXPECT_EQ(strideTicksResult(0x100000005ull), BAD_SAMPLE);
}

}  // namespace
}  // namespace vardelo
