// The RAM loop over the real kernels with a span of several windows: each walk lands in its own
// window of the rotation, none in the cache sweep's area, and the flushes keep the data.
#include "kernels/ram_loop.h"

#include <cpuid.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernels/block_read.h"
#include "kernels/stride_kernels.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

constexpr u32 SPAN = 4 * RAM_WINDOW_BYTES;
constexpr u32 CHECKED = SPAN + 65536;  // the span and what lies behind it

u8 sentinelByte(u32 i) { return static_cast<u8>((i * 2654435761u) >> 24); }

u32 cpuidClflushBytes() {
  unsigned eax, ebx, ecx, edx;
  __cpuid(1, eax, ebx, ecx, edx);
  return (edx >> 19) & 1 ? ((ebx >> 8) & 0xFF) * 8 : 0;
}

class ColdRamLoop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    raw_ = VirtualAlloc(nullptr, CHECKED + 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(raw_, nullptr);
    area_ = reinterpret_cast<u8*>((reinterpret_cast<std::uintptr_t>(raw_) + 4095) & ~std::uintptr_t{4095});
  }
  static void TearDownTestSuite() { VirtualFree(raw_, 0, MEM_RELEASE); }

  void SetUp() override {
    resetBench();
    bench.machine.testArea = area_;
    bench.machine.ramSpanBytes = SPAN;
    bench.measuring.ramSpanOffset = 0;
    bench.machine.clflushBytes = cpuidClflushBytes();
    bench.machine.tscRate = 2929687;  // any rate: only the budget depends on it
    bench.measuring.lineSize = 64;
    for (u32 i = 0; i < CHECKED; ++i) area_[i] = sentinelByte(i);
  }
  void TearDown() override { resetBench(); }

  // Bytes from `from` to `to` that differ from the sentinel.
  static u32 changedBytes(u32 from, u32 to) {
    u32 n = 0;
    for (u32 i = from; i < to; ++i) n += area_[i] != sentinelByte(i);
    return n;
  }

  static inline void* raw_ = nullptr;
  static inline u8* area_ = nullptr;
};

// One measurement of 32-bit stores (block 64, line 64: one store per step, none past the window
// end) writes, in every window of the rotation, exactly where one walk of the window writes, and
// nothing else: the windows the cache sweep shares are left as they were. A window's last walk stores its start time at every place; earlier walks of the
// same window are overwritten by it.
TEST_F(ColdRamLoop, WritesLandInEveryWindowOfTheSpanExactlyAsOneWalkWrites) {
  const i32 gap = 1984;  // step 2048: every walk goes round its window four times
  const u32 block = 64;
  const u32 speed = measureRamWith(strideWriteIntKernel, gap, block, flushTestArea);
  EXPECT_GT(speed, 0u);

  std::vector<u32> places;
  walkStride(planStrideWalk(StrideFamily::Words32, gap, block, 64),
             [&](const StrideTouch& t) { places.push_back(t.offset); });
  ASSERT_FALSE(places.empty());
  std::vector<u8> expected(CHECKED);
  for (u32 i = 0; i < CHECKED; ++i) expected[i] = sentinelByte(i);
  for (u32 window = RAM_SWEEP_AREA_WINDOWS * RAM_WINDOW_BYTES; window < SPAN;
       window += RAM_WINDOW_BYTES) {
    u8 value[4];
    std::memcpy(value, area_ + window + places.front(), 4);
    const u8 before[4] = {sentinelByte(window + places.front()), sentinelByte(window + places.front() + 1),
                          sentinelByte(window + places.front() + 2), sentinelByte(window + places.front() + 3)};
    EXPECT_NE(std::memcmp(value, before, 4), 0) << "no walk in the window at " << (window >> 20) << " MiB";
    for (u32 place : places) {
      ASSERT_LT(place + 4, RAM_WINDOW_BYTES);
      std::memcpy(expected.data() + window + place, value, 4);
    }
  }
  u32 differ = 0, first = 0;
  for (u32 i = CHECKED; i-- > 0;) {
    if (area_[i] != expected[i]) ++differ, first = i;
  }
  EXPECT_EQ(differ, 0u) << "first difference at byte " << first << " (window " << (first >> 23) << ")";
}

// Linear reads of whole windows for the cache page: a speed, and not a byte changed, flushes
// included; then the data is still there after flushing dirty lines.
TEST_F(ColdRamLoop, MainMemoryReadChangesNothingAndFlushesKeepTheData) {
  bench.measuring.readMode = 0;  // 32-bit loads: every processor has them
  const u32 speed = measureMainMemoryRead();
  EXPECT_GT(speed, 0u);
  EXPECT_NE(speed, RAM_SPEED_CEILING);
  EXPECT_EQ(changedBytes(0, CHECKED), 0u);
  // Where the rotation stops depends on how many walks the reading took (the host tests follow
  // it walk by walk); here it must be left at a window of the span.
  const u32 offset = bench.measuring.ramSpanOffset.load();
  EXPECT_EQ(offset % RAM_WINDOW_BYTES, 0u);
  EXPECT_LE(offset, SPAN - RAM_WINDOW_BYTES);

  if (bench.machine.clflushBytes.load() == 0) GTEST_SKIP() << "no CLFLUSH";
  for (u32 i = 0; i < RAM_WINDOW_BYTES; i += 4096) area_[i] ^= 0xFF;  // dirty lines in the cache
  flushTestArea(0, RAM_WINDOW_BYTES);
  u32 lost = 0;
  for (u32 i = 0; i < RAM_WINDOW_BYTES; ++i) {
    const u8 want = i % 4096 == 0 ? static_cast<u8>(sentinelByte(i) ^ 0xFF) : sentinelByte(i);
    lost += area_[i] != want;
  }
  EXPECT_EQ(lost, 0u);
}

}  // namespace
}  // namespace vardelo
