// The latency kernel runs for real: it follows the chain exactly as far as the C++ twin says,
// reads nothing outside the block, and the probe built on it measures every block size.
#include "kernels/latency_probe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "kernels/latency_chain.h"
#include "tests/support/chase_chain.h"

extern "C" std::uint64_t vardelo_latency_chase(const void** cursor, std::uint32_t rounds);

namespace vardelo {
namespace {

constexpr u32 PAGE = 4096;

std::uintptr_t addressOf(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// A block with an unreadable page on each side: a load outside it faults.
class LatencyChase : public ::testing::Test {
 protected:
  void makeBlock(u32 blockBytes) {
    const u32 pages = (blockBytes + PAGE - 1) / PAGE;
    raw_ = static_cast<u8*>(
        VirtualAlloc(nullptr, (pages + 2) * PAGE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(raw_, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(raw_, PAGE, PAGE_NOACCESS, &old));
    ASSERT_TRUE(VirtualProtect(raw_ + (pages + 1) * PAGE, PAGE, PAGE_NOACCESS, &old));
    block_ = raw_ + PAGE;
  }
  void TearDown() override {
    if (raw_ != nullptr) VirtualFree(raw_, 0, MEM_RELEASE);
  }

  u8* raw_ = nullptr;
  u8* block_ = nullptr;
};

TEST_F(LatencyChase, FollowsTheChainSixteenLoadsPerRound) {
  const struct {
    u32 block, rounds;
  } cases[] = {{4608, 1}, {4608, 5}, {4608, 1000}, {65536, 300}, {1048576, 2000}};
  for (const auto& c : cases) {
    makeBlock(c.block);
    const std::uintptr_t base = addressOf(block_);
    const u32 start = buildChaseChain(block_, base, c.block);
    u32 expected = start;
    for (u32 k = 0; k < c.rounds * 16; ++k) expected = chaseNextOffset(block_, base, expected);

    const void* cursor = block_ + start;
    const std::uint64_t ticks = vardelo_latency_chase(&cursor, c.rounds);
    EXPECT_EQ(addressOf(cursor), base + expected)
        << "block " << c.block << ", " << c.rounds << " rounds";
    EXPECT_GT(ticks, 0u) << "block " << c.block;
    EXPECT_LT(ticks, 1ull << 32) << "block " << c.block;
    VirtualFree(raw_, 0, MEM_RELEASE);
    raw_ = nullptr;
  }
}

TEST_F(LatencyChase, NoRoundsMakeNoLoad) {
  makeBlock(4096);
  // The cursor points into the unreadable page before the block: any load would fault.
  const void* cursor = raw_;
  EXPECT_EQ(vardelo_latency_chase(&cursor, 0), 0u);
  EXPECT_EQ(cursor, raw_);
}

TEST_F(LatencyChase, TheProbeMeasuresEveryBlockOfTheSweepInsideItsBlock) {
  makeBlock(CHASE_TABLE_BLOCK_BYTES);
  const u8* savedArea = bench.machine.testArea.load();
  bench.machine.testArea = block_;
  for (u32 block : {4608u, 32768u, 34816u, 1048576u, 4063232u}) {
    const u32 latency = measureLatency(block);
    EXPECT_NE(latency, NO_POINT) << "block " << block;
    EXPECT_GT(latency, 0u) << "block " << block;
  }
  bench.machine.testArea = const_cast<u8*>(savedArea);
}

}  // namespace
}  // namespace vardelo
