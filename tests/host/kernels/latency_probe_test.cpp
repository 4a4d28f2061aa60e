#include "kernels/latency_probe.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernels/latency_chain.h"
#include "tests/support/chase_chain.h"

namespace vardelo {
namespace {

constexpr std::uintptr_t AREA_ADDRESS = 0x7F0000400000;  // above 4 GiB: no address cut to 32 bits

TEST(LatencyProbe, RoundsCoverALapAndTheMinimumLoads) {
  const struct {
    u32 block, rounds;
  } cases[] = {
      {4608, 1024},     // 72 lines: the minimum of 16384 loads
      {1048576, 1024},  // 16384 lines exactly
      {1048640, 1025},  // one line more: a whole round more
      {4063232, 3968},  // 63488 lines
  };
  for (const auto& c : cases) EXPECT_EQ(latencyRounds(c.block), c.rounds) << "block " << c.block;
}

// A chase over the built chain in host memory, as the kernel walks it, with scripted times.
struct ChaseScript {
  std::vector<u8>* area = nullptr;
  std::vector<u32> rounds;
  std::vector<std::uintptr_t> cursors;  // where each call started
  std::vector<std::uint64_t> ticks;     // returned in turn
  std::size_t next = 0;
  u32 loads = 0;
};
ChaseScript script;

std::uint64_t scriptedChase(std::uintptr_t& cursor, u32 rounds) {
  script.rounds.push_back(rounds);
  script.cursors.push_back(cursor);
  u32 offset = static_cast<u32>(cursor - AREA_ADDRESS);
  for (u32 k = 0; k < rounds * LATENCY_LOADS_PER_ROUND; ++k) {
    offset = chaseNextOffset(script.area->data(), AREA_ADDRESS, offset);
  }
  script.loads += rounds * LATENCY_LOADS_PER_ROUND;
  cursor = AREA_ADDRESS + offset;
  return script.ticks.at(script.next++);
}

u32 probe(u32 block, std::vector<std::uint64_t> ticks, u32 overhead = 0) {
  static std::vector<u8> area;
  area.assign(block + 64, 0);
  script = ChaseScript{&area, {}, {}, std::move(ticks), 0, 0};
  return measureLatencyWith(block, area.data(), AREA_ADDRESS, overhead, scriptedChase);
}

TEST(LatencyProbe, OneUntimedLapThenTheFastestOfFiveWalks) {
  // 16384 loads per walk: 4096 ticks are 0.25 ticks, 64 units of 1/256, per load.
  const u32 got = probe(4608, {999999, 9000, 4096 * 3, 4096, 5000, 4096 * 2});
  EXPECT_EQ(got, 64u);
  // 72 lines: the warm-up lap is 5 rounds (80 loads); then five walks of 1024 rounds.
  EXPECT_EQ(script.rounds, (std::vector<u32>{5, 1024, 1024, 1024, 1024, 1024}));
}

TEST(LatencyProbe, TheCounterReadsAreSubtractedAndLongWalksDoNotCount) {
  const struct {
    const char* what;
    std::vector<std::uint64_t> ticks;
    u32 overhead;
    u32 expected;
  } cases[] = {
      {"overhead subtracted", {0, 16384 * 4 + 30, ~0ull, ~0ull, ~0ull, ~0ull}, 30, 1024},
      {"a walk faster than the overhead counts as 0", {0, 10, 20, 20, 20, 20}, 30, 0},
      {"walks of 2^32 ticks and more are not measurements",
       {0, 1ull << 32, 1ull << 33, 16384, 1ull << 40, 1ull << 32},
       0,
       256},
      {"no walk fits 32 bits",
       {0, 1ull << 32, 1ull << 32, 1ull << 32, 1ull << 32, 1ull << 32},
       0,
       NO_POINT},
  };
  for (const auto& c : cases) EXPECT_EQ(probe(4608, c.ticks, c.overhead), c.expected) << c.what;
}

TEST(LatencyProbe, EachWalkGoesOnWhereTheLastOneStopped) {
  // 72 lines; the warm-up makes 80 loads and each walk 16384, none a whole number of laps, so
  // a walk that started over from the chain's first line would start at the wrong line.
  probe(4608, {0, 1, 1, 1, 1, 1});
  std::vector<u8>& area = *script.area;
  const u32 start = buildChaseChain(area.data(), AREA_ADDRESS, 4608);
  u32 offset = start, loads = 0;
  for (std::size_t call = 0; call < script.cursors.size(); ++call) {
    EXPECT_EQ(script.cursors[call], AREA_ADDRESS + offset)
        << "call " << call << " after " << loads << " loads";
    for (u32 k = 0; k < script.rounds[call] * LATENCY_LOADS_PER_ROUND; ++k) {
      offset = chaseNextOffset(area.data(), AREA_ADDRESS, offset);
    }
    loads += script.rounds[call] * LATENCY_LOADS_PER_ROUND;
  }
  EXPECT_EQ(script.cursors.size(), 6u);
}

TEST(LatencyProbe, FarBlocksGetShortWalksTwiceRoundFromTheChainsStartAndNoLap) {
  const struct {
    u32 block, walks;
  } cases[] = {
      {4u << 20, 5},                         // 65536 lines: four walks make two laps
      {(6u << 20) + 64, 8},                  // a line more than six walks' worth
      {16u << 20, 12},                       // the most
      {1u << 30, 12},       {64u << 10, 3},  // the fewest
  };
  for (const auto& c : cases) EXPECT_EQ(farLatencyWalks(c.block), c.walks) << c.block;

  static std::vector<u8> area;
  const u32 block = 6u << 20;  // a block beyond the page table's reach: the keyed order
  area.assign(block, 0);
  script = ChaseScript{
      &area, {}, {}, {32768 * 3, 32768 * 2, 32768 * 5, 32768 * 4, 32768 * 4, 32768 * 4, 32768 * 4},
      0,     0};
  const u32 got = measureFarLatencyWith(block, area.data(), AREA_ADDRESS, 0, scriptedChase);
  EXPECT_EQ(got, 512u);  // 2 ticks per load at best
  EXPECT_EQ(script.rounds, std::vector<u32>(7, 2048));
  const u32 start = buildChaseChain(area.data(), AREA_ADDRESS, block);
  ASSERT_EQ(script.cursors.size(), 7u);
  EXPECT_EQ(script.cursors[0], AREA_ADDRESS + start);
  EXPECT_NE(script.cursors[1], script.cursors[0]);  // the second walk goes on from the first
  EXPECT_EQ(script.cursors[3], script.cursors[0]);  // three walks of 32768 loads: one lap
}

TEST(LatencyProbe, PicosecondsFromTicks) {
  const struct {
    u32 ticksX256, tscRate, ps;
  } cases[] = {
      {256, 1000000, 976},            // one tick of a 1.024 GHz counter: 976.56 ps
      {256 * 10, 2441406, 4000},      // ten ticks of a 2.5 GHz counter: 4 ns
      {0xFFFFFFFEu, 1, 4294967294u},  // saturates below NO_POINT
      {NO_POINT, 2441406, NO_POINT},  // unmeasured
      {256, 0, NO_POINT},             // no clock rate
  };
  for (const auto& c : cases) {
    EXPECT_EQ(latencyPicoseconds(c.ticksX256, c.tscRate), c.ps)
        << c.ticksX256 << " / 256 ticks at tscRate " << c.tscRate;
  }
}

}  // namespace
}  // namespace vardelo
