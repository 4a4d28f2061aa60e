// The 64-bit block-read, line-probe and latency kernels between guard pages: each reads exactly
// the bytes its contract names, nothing before them and nothing past them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kernels/block_read.h"
#include "kernels/latency_chain.h"
#include "kernels/latency_probe.h"
#include "kernels/line_probe.h"
#include "tests/host_x64/guarded_memory.h"
#include "tests/support/bench_reset.h"

extern "C" std::uint64_t vardelo_latency_chase(const void** cursor, std::uint32_t rounds);
extern "C" void vardelo_stride_mmx_done();

namespace vardelo {
namespace {

constexpr std::size_t PAGE = GuardedMemory::PAGE;
constexpr u32 AREA_ITERATIONS = PAGE / 256;

// bench.machine's flags for this processor: MMX and SSE are part of x86-64; the wide loads by
// CPUID and XCR0 as the program decides them.
void detectHere() {
  resetBench();
  bench.machine.mmx = 1;
  bench.machine.sse = 1;
  detectWideLoads();
}

// A guard touch, or none, as text for the failure messages.
std::string where(const void* fault, const GuardedMemory& m) {
  if (fault == nullptr) return "no fault";
  const auto* p = static_cast<const u8*>(fault);
  char text[64];
  std::snprintf(text, sizeof text, "fault at area %+td (%p)", p - m.begin(), fault);
  return text;
}

// Each case runs every variant's kernel (and its passes kernel, where it has one) over one page
// between guards. `fromGuard`: p is the guard page below the area, so any read faults.
struct ReadCase {
  const char* what;
  u32 iterations;
  u32 passes;  // 1: the single-pass kernel too
  bool fromGuard;
  bool faultsAtEnd;  // the first read past the area is its end, and no read comes before it
};
constexpr ReadCase READ_CASES[] = {
    {"the whole area", AREA_ITERATIONS, 1, false, false},
    {"one iteration more than the area holds", AREA_ITERATIONS + 1, 1, false, true},
    {"no iterations", 0, 1, true, false},
    {"the area three times over", AREA_ITERATIONS, 3, false, false},
    {"no passes", AREA_ITERATIONS, 0, true, false},
};

TEST(BlockReadX64, EachVariantReadsExactlyItsIterations) {
  detectHere();
  GuardedMemory area(PAGE);
  ASSERT_TRUE(area.ok());
  std::memset(area.begin(), 0x5A, PAGE);
  for (u32 mode = 0; mode < BLOCK_READ_VARIANT_COUNT; ++mode) {
    const BlockReadVariant& v = BLOCK_READ_VARIANTS[mode];
    if (!readVariantAvailable(static_cast<u8>(mode))) {
      std::printf("%s is not on this processor: skipped\n", v.name);
      continue;
    }
    for (const ReadCase& c : READ_CASES) {
      const u8* p = c.fromGuard ? area.begin() - PAGE : area.begin();
      for (int kind = 0; kind < 2; ++kind) {
        if (kind == 0 && c.passes != 1) continue;
        if (kind == 1 && v.readPasses == nullptr) continue;
        std::uint64_t ticks = 0;
        const void* fault = faultOf([&] {
          ticks = kind == 0 ? v.read(p, c.iterations) : v.readPasses(p, c.iterations, c.passes);
        });
        if (fault != nullptr && mode == READ_MMX64) vardelo_stride_mmx_done();
        const char* kernel = kind == 0 ? "read" : "readPasses";
        EXPECT_EQ(fault, c.faultsAtEnd ? area.end() : nullptr)
            << v.name << " " << kernel << ", " << c.what << ": " << where(fault, area);
        if (fault == nullptr && (c.iterations == 0 || c.passes == 0)) {
          EXPECT_EQ(ticks, 0u) << v.name << " " << kernel << ", " << c.what;
        }
      }
    }
  }
}

// base offset, length and stride of one pass over a page between guards, and where it faults.
struct LineCase {
  const char* what;
  u32 offset, length, stride;
  bool faultsAtEnd;
};
constexpr LineCase LINE_CASES[] = {
    {"a line every 64 bytes up to the end", 0, PAGE, 64, false},
    {"one byte more: the read at the end", 0, PAGE + 1, 64, true},
    {"a stride past the end: one read only", PAGE - 1, 1, 4096, false},
    {"an odd stride that lands on the end", 1, PAGE, 7, true},
};

TEST(LineProbeX64, ReadsEveryStrideBelowTheEndAndNoMore) {
  GuardedMemory area(PAGE);
  ASSERT_TRUE(area.ok());
  for (const LineCase& c : LINE_CASES) {
    const void* fault =
        faultOf([&] { vardelo_line_probe_pass(area.begin() + c.offset, c.length, c.stride); });
    EXPECT_EQ(fault, c.faultsAtEnd ? area.end() : nullptr) << c.what << ": " << where(fault, area);
  }
}

TEST(LatencyChaseX64, FollowsSixteenLinksPerRoundAndLeavesTheCursorThere) {
  constexpr u32 BLOCK = 2 * PAGE;  // 128 lines: no round count below 8 ends a lap
  GuardedMemory area(BLOCK);
  ASSERT_TRUE(area.ok());
  const u32 first =
      buildChaseChain(area.begin(), reinterpret_cast<std::uintptr_t>(area.begin()), BLOCK);
  const u8* start = area.begin() + first;
  for (const u32 rounds : {1u, 3u, 7u}) {
    const u8* twin = start;
    for (u32 i = 0; i < rounds * LATENCY_LOADS_PER_ROUND; ++i) {
      std::uintptr_t next;
      std::memcpy(&next, twin, sizeof next);
      twin = reinterpret_cast<const u8*>(next);
    }
    const void* cursor = start;
    const void* fault = faultOf([&] { vardelo_latency_chase(&cursor, rounds); });
    EXPECT_EQ(fault, nullptr) << rounds << " rounds: " << where(fault, area);
    EXPECT_EQ(cursor, twin) << rounds << " rounds";
  }
  // No rounds: no load at all, even of a cursor that points at a guard page.
  const void* cursor = area.end();
  std::uint64_t ticks = 1;
  const void* fault = faultOf([&] { ticks = vardelo_latency_chase(&cursor, 0); });
  EXPECT_EQ(fault, nullptr) << where(fault, area);
  EXPECT_EQ(ticks, 0u);
  EXPECT_EQ(cursor, area.end());
}

// The C++ entries the workers call, with the 64-bit kernels behind them, over a test area of
// their own: each measures something and stays inside the area.
TEST(KernelEntriesX64, MeasureInsideTheTestArea) {
  detectHere();
  GuardedMemory area(64 * 1024, PROT_READ | PROT_WRITE | PROT_EXEC);
  ASSERT_TRUE(area.ok());
  bench.machine.testArea = area.begin();
  bench.machine.rdtscOverhead = 0;
  for (u8 mode = 0; mode < BLOCK_READ_VARIANT_COUNT; ++mode) {
    if (!readVariantAvailable(mode)) continue;
    bench.measuring.readMode = mode;
    u32 read = 0, pass = 0;
    const void* fault = faultOf([&] {
      read = blockReadTicks(0, 64 * 1024);
      pass = blockReadPassTicks(PAGE, 60 * 1024);
    });
    EXPECT_EQ(fault, nullptr) << BLOCK_READ_VARIANTS[mode].name << ": " << where(fault, area);
    EXPECT_NE(read, BAD_SAMPLE) << BLOCK_READ_VARIANTS[mode].name;
    EXPECT_NE(pass, BAD_SAMPLE) << BLOCK_READ_VARIANTS[mode].name;
  }
  u32 latency = NO_POINT;
  std::uint64_t line = 0;
  const void* fault = faultOf([&] {
    latency = measureLatency(32 * 1024);
    line = linePassAtTestArea(64 * 1024, 64);
  });
  EXPECT_EQ(fault, nullptr) << where(fault, area);
  EXPECT_NE(latency, NO_POINT);
  EXPECT_GT(line, 0u);
  resetBench();
}

}  // namespace
}  // namespace vardelo
