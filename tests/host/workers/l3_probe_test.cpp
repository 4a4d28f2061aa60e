#include "workers/l3_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

constexpr u32 MiB = 1u << 20;
constexpr u32 KiB = 1024;

// How a cache meets a block it cannot hold whole: it keeps none of it (a walk evicts each line
// before its turn comes again), or it keeps a fixed part of it and every other line misses.
enum class Holds { AllOrNothing, APart };

// A machine's dependent-load latency by block size, 1/256 ticks per load.
struct Machine {
  u32 l2Bytes, l3Bytes;  // l3Bytes 0: no level between the L2 and main memory
  Holds holds;
  u32 l1, l2, l3, memory;
  double memoryRisePerOctave = 0;  // page walks lengthen main memory's loads in larger blocks
  bool burst = false;  // other work makes the first reading of 4 and 6 MiB main memory's

  u32 at(double bytes) const {
    if (bytes <= 32 * KiB) return l1;
    if (bytes <= l2Bytes) return l2;
    const double edge = l3Bytes != 0 ? l3Bytes : l2Bytes;
    const double inner = l3Bytes != 0 ? l3 : l2;
    if (bytes <= edge) return static_cast<u32>(inner);
    const double far = memory * (1 + memoryRisePerOctave * std::log2(bytes / edge));
    const double held = holds == Holds::APart ? edge / bytes : 0;
    return static_cast<u32>(held * inner + (1 - held) * far);
  }
};

// The model the fake kernel reads, and every block it was asked for.
const Machine* model = nullptr;
std::vector<u32> asked;
u32 fromModel(u32 bytes) {
  const bool first = std::find(asked.begin(), asked.end(), bytes) == asked.end();
  asked.push_back(bytes);
  if (model->burst && first && bytes <= 6 * MiB) return model->memory;
  return model->at(bytes);
}

void sweepCurve(const Machine& m, CurveCopy& curve) {
  std::fill(std::begin(curve), std::end(curve), NO_POINT);
  for (u32 i = 0; i < CACHE_POINTS; ++i) curve[i] = m.at(sweepBlockSize(i));
}

// The L2's probe point: about one and a half times a 32 KiB L1.
constexpr u32 L2_PROBE = 48 * KiB;
constexpr u32 SPAN = 2048 * MiB;

L3Probe probe(const Machine& m, u32 limit = SPAN) {
  CurveCopy latency;
  sweepCurve(m, latency);
  model = &m;
  asked.clear();
  return probeL3With(latency, L2_PROBE, m.l2Bytes, limit, fromModel);
}

TEST(L3Probe, SizesOfTodaysLastLevelCaches) {
  const auto A = Holds::AllOrNothing, P = Holds::APart;
  const struct {
    const char* what;
    Machine machine;
    u32 limit;
    u32 expectedMiB;  // 0: no L3
  } cases[] = {
      {"32M that a walk evicts", {1 * MiB, 32 * MiB, A, 1024, 3600, 12800, 102400}, SPAN, 32},
      {"32M keeping a part", {1 * MiB, 32 * MiB, P, 1024, 3600, 12800, 102400}, SPAN, 32},
      {"36M behind a 2M L2, memory 4x the L3",
       {2 * MiB, 36 * MiB, P, 1280, 4096, 17920, 76800},
       SPAN,
       36},
      {"96M, memory slower in larger blocks",
       {1 * MiB, 96 * MiB, A, 1024, 3600, 12800, 102400, 0.05},
       SPAN,
       96},
      {"300M keeping a part", {2 * MiB, 300 * MiB, P, 1280, 4096, 17920, 143360}, SPAN, 300},
      {"300M in a 32-bit span", {2 * MiB, 300 * MiB, A, 1280, 4096, 17920, 143360}, 516 * MiB, 300},
      {"an L3 larger than the span shows no end",
       {2 * MiB, 300 * MiB, A, 1280, 4096, 17920, 143360},
       264 * MiB,
       0},
      {"no L3: main memory behind a 1M L2", {1 * MiB, 0, A, 1024, 3600, 0, 102400}, 8 * MiB, 0},
      {"no L3: a 6M L2 is the last level", {6 * MiB, 0, A, 1024, 3600, 0, 102400}, 32 * MiB, 0},
  };
  for (const auto& c : cases) {
    const L3Probe got = probe(c.machine, c.limit);
    EXPECT_EQ(got.sizeBytes, c.expectedMiB * MiB) << c.what;
    // The record holds each block once, in the order of the first measurement.
    std::vector<u32> distinct;
    for (u32 b : asked) {
      ASSERT_LE(b, c.limit) << c.what;
      if (std::find(distinct.begin(), distinct.end(), b) == distinct.end()) distinct.push_back(b);
    }
    EXPECT_EQ(std::vector<u32>(got.measured.bytes, got.measured.bytes + got.measured.count),
              distinct)
        << c.what;
    if (c.expectedMiB != 0) {
      // The climb stops soon after main memory: within four times the L3 for a cache that
      // keeps a part of each block (its latency nears main memory's slowly), else twice.
      const u32 largest = *std::max_element(asked.begin(), asked.end());
      EXPECT_LE(largest / MiB, c.expectedMiB * (c.machine.holds == P ? 4 : 2)) << c.what;
      EXPECT_LE(asked.size(), 26u) << c.what;
    }
  }
}

TEST(L3Probe, MeasuresNothingWithoutALevelAfterTheL2OrWithoutTheCurve) {
  // The sweep ends in a 6M L2: its latency is the L2's, so nothing is probed at all.
  EXPECT_EQ(probe({6 * MiB, 0, Holds::AllOrNothing, 1024, 3600, 0, 102400}, SPAN).measured.count,
            0u);
  const Machine m{1 * MiB, 32 * MiB, Holds::AllOrNothing, 1024, 3600, 12800, 102400};
  CurveCopy latency;
  sweepCurve(m, latency);
  latency[100] = NO_POINT;  // the latency probe had not finished
  model = &m;
  asked.clear();
  EXPECT_EQ(probeL3With(latency, L2_PROBE, m.l2Bytes, SPAN, fromModel).sizeBytes, 0u);
  EXPECT_TRUE(asked.empty());
}

// zen4-kvm/latency.txt, a chase on a guest of a Zen 4 host whose share of the 32M L3 is a few
// MiB: 18 ns at 3700 KiB, 109 ns at 5550 KiB, rising with page walks to 184 ns at 208 MiB.
TEST(L3Probe, MeasuredGuestWithAFewMiBOfL3) {
  std::ifstream in(std::string(VARDELO_MEASURED_DIR) + "/zen4-kvm/latency.txt");
  ASSERT_TRUE(in.good());
  static std::vector<std::pair<double, double>> samples;  // bytes, ns
  double kib, ns;
  std::string unitSize, unitTime;
  while (in >> kib >> unitSize >> ns >> unitTime) samples.push_back({kib * 1024, ns});
  ASSERT_EQ(samples.size(), 26u);
  // Linear over the logarithm of the size between samples, flat beyond the last.
  static auto nsAt = [](double bytes) {
    if (bytes <= samples.front().first) return samples.front().second;
    for (std::size_t k = 1; k < samples.size(); ++k) {
      const auto& [s0, v0] = samples[k - 1];
      const auto& [s1, v1] = samples[k];
      if (bytes <= s1) return v0 + (v1 - v0) * std::log(bytes / s0) / std::log(s1 / s0);
    }
    return samples.back().second;
  };
  static std::vector<u32> blocks;
  auto measured = [](u32 bytes) {
    blocks.push_back(bytes);
    return static_cast<u32>(nsAt(bytes) * 256);
  };
  CurveCopy latency;
  for (u32 i = 0; i < CACHE_CURVE_ENTRIES; ++i) {
    latency[i] = i < CACHE_POINTS ? static_cast<u32>(nsAt(sweepBlockSize(i)) * 256) : NO_POINT;
  }
  const L3Probe got = probeL3With(latency, 55296, 1 * MiB, 2048 * MiB, measured);
  EXPECT_EQ(got.sizeBytes, 4 * MiB);
  // Main memory from 6 MiB on: the climb ends at 8 MiB once 6 and 8 MiB read it again, and one
  // block narrows the edge.
  EXPECT_EQ(blocks, (std::vector<u32>{4 * MiB, 6 * MiB, 8 * MiB, 6 * MiB, 8 * MiB, 5 * MiB}));
}

TEST(L3Probe, LadderAndSpeedBlock) {
  const u32 ladder[] = {4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128};
  for (u32 k = 0; k < std::size(ladder); ++k) EXPECT_EQ(l3LadderBlock(k), ladder[k] * MiB) << k;
  EXPECT_EQ(l3LadderBlock(19), 3072u * MiB);
  EXPECT_EQ(l3LadderBlock(20), 0u);  // past 32 bits
  // Half the L3, unless that would not lie well past the L2.
  EXPECT_EQ(l3SpeedBlockBytes(32 * MiB, 1 * MiB), 16 * MiB);
  EXPECT_EQ(l3SpeedBlockBytes(4 * MiB, 2 * MiB), 2965504u);  // sqrt(8) MiB, whole pages
  EXPECT_EQ(l3SpeedBlockBytes(300 * MiB, 2 * MiB), 150 * MiB);
}

}  // namespace
}  // namespace vardelo
