// The 64-bit strided RAM kernels over a window whose last touchable byte lies right below a
// guard page: each write kernel stores exactly where the walk of kernels/stride_pattern.h says,
// and the read kernel, walking the same loops, stays inside.
#include <gtest/gtest.h>

#include <cpuid.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernels/stride_pattern.h"
#include "tests/host_x64/guarded_memory.h"

extern "C" {
std::uint64_t vardelo_stride_read32(std::uint8_t* window, std::uint32_t step, std::uint32_t block,
                                    std::int32_t lineSize);
std::uint64_t vardelo_stride_write32(std::uint8_t* window, std::uint32_t step, std::uint32_t block,
                                     std::int32_t lineSize);
std::uint64_t vardelo_stride_writeNt64(std::uint8_t* window, std::uint32_t step,
                                       std::uint32_t block, std::int32_t lineSize);
std::uint64_t vardelo_stride_write64(std::uint8_t* window, std::uint32_t step, std::uint32_t block,
                                     std::int32_t lineSize);
void vardelo_stride_mmx_done();
void vardelo_stride_flush(const std::uint8_t* p, std::uint32_t bytes, std::uint32_t lineBytes);
void vardelo_stride_flush_opt(const std::uint8_t* p, std::uint32_t bytes, std::uint32_t lineBytes);
}

namespace vardelo {
namespace {

using Kernel = std::uint64_t (*)(std::uint8_t*, std::uint32_t, std::uint32_t, std::int32_t);

// The window and the 256 bytes past it that a walk may reach, ending at the guard page.
constexpr std::size_t CHECKED_BYTES = RAM_WINDOW_BYTES + 256;
constexpr std::size_t WINDOW_OFFSET = GuardedMemory::PAGE - 256;
constexpr u8 SENTINEL = 0xA5;
constexpr std::uint64_t MMX_VALUE = 0x0123456789ABCDEFull;

struct WalkCase {
  u32 block;
  i32 lineSize;
  i32 gap;
};
// Every loop of both families: each block with each line-size class, a block walked as 256, and
// gaps that do not divide the window, so that the walk wraps onto bytes it has not touched and
// one iteration more or less changes what it stores.
constexpr WalkCase WALK_CASES[] = {
    {32, 32, 4},   {32, 64, 12},  {64, 16, 4},      {64, 64, 100}, {64, 128, 4},  {128, 32, 4},
    {128, 64, 36}, {128, 128, 4}, {128, 96, 4},     {256, -1, 4},  {256, 64, 68}, {256, 128, 4},
    {256, 200, 4}, {100, 64, 4},  {256, 32, -3000}, {128, 64, 0},
};

// Replays the twin's stores in order into `lanes`: for each byte the walk stores, which byte of
// the stored value lands there (the last store wins), 0xFF where it stores nothing. Returns the
// twin's last store.
StrideTouch replayTwin(StrideFamily family, const WalkCase& c, std::vector<u8>& lanes) {
  std::memset(lanes.data(), 0xFF, lanes.size());
  StrideTouch last{};
  walkStride(planStrideWalk(family, c.gap, c.block, c.lineSize), [&](const StrideTouch& t) {
    for (u32 k = 0; k < t.bytes; ++k) lanes[t.offset + k] = static_cast<u8>(k);
    last = t;
  });
  return last;
}

std::string caseText(const char* kernel, const WalkCase& c) {
  return std::string(kernel) + " block " + std::to_string(c.block) + " lineSize " +
         std::to_string(c.lineSize) + " gap " + std::to_string(c.gap);
}

TEST(StrideKernelsX64, WritesStoreExactlyWhereTheWalkGoes) {
  struct Writer {
    const char* name;
    Kernel run;
    StrideFamily family;
  };
  const Writer writers[] = {{"write32", vardelo_stride_write32, StrideFamily::Words32},
                            {"writeNt64", vardelo_stride_writeNt64, StrideFamily::Runs64},
                            {"write64", vardelo_stride_write64, StrideFamily::Runs64}};
  GuardedMemory area(WINDOW_OFFSET + CHECKED_BYTES);
  ASSERT_TRUE(area.ok());
  ASSERT_EQ(area.begin() + WINDOW_OFFSET + CHECKED_BYTES, area.end());
  u8* window = area.begin() + WINDOW_OFFSET;
  std::vector<u8> expected(CHECKED_BYTES), lanes(CHECKED_BYTES);
  for (const Writer& w : writers) {
    for (const WalkCase& c : WALK_CASES) {
      const std::string what = caseText(w.name, c);
      std::memset(window, SENTINEL, CHECKED_BYTES);
      const void* fault = faultOf([&] {
        asm volatile("movq %0, %%mm0" : : "m"(MMX_VALUE));  // what the 64-bit kernels store
        w.run(window, strideStepBytes(c.gap, c.block), c.block, c.lineSize);
      });
      vardelo_stride_mmx_done();
      ASSERT_EQ(fault, nullptr) << what << ": fault at window "
                                << (static_cast<const u8*>(fault) - window);

      // write32 stores the start time's low half: read back where the twin's last store went.
      const StrideTouch last = replayTwin(w.family, c, lanes);
      u8 value[8];
      std::memcpy(value, &MMX_VALUE, 8);
      if (w.family == StrideFamily::Words32) std::memcpy(value, window + last.offset, last.bytes);
      for (std::size_t i = 0; i < CHECKED_BYTES; ++i)
        expected[i] = lanes[i] == 0xFF ? SENTINEL : value[lanes[i]];

      if (std::memcmp(window, expected.data(), CHECKED_BYTES) == 0) continue;
      std::size_t first = CHECKED_BYTES, count = 0;
      for (std::size_t i = 0; i < CHECKED_BYTES; ++i) {
        if (window[i] == expected[i]) continue;
        if (first == CHECKED_BYTES) first = i;
        ++count;
      }
      EXPECT_EQ(count, 0u) << what << ": " << count
                           << " bytes differ from the walk's, the first at window byte " << first
                           << " (the walk's last store at " << last.offset << ")";
    }
  }
}

TEST(StrideKernelsX64, ReadStaysInsideAndChangesNothing) {
  GuardedMemory area(WINDOW_OFFSET + CHECKED_BYTES);
  ASSERT_TRUE(area.ok());
  u8* window = area.begin() + WINDOW_OFFSET;
  std::memset(window, SENTINEL, CHECKED_BYTES);
  // Read-only, so that a stray store faults too.
  ASSERT_TRUE(area.protect(PROT_READ));
  for (const WalkCase& c : WALK_CASES) {
    std::uint64_t ticks = 0;
    const void* fault = faultOf([&] {
      ticks = vardelo_stride_read32(window, strideStepBytes(c.gap, c.block), c.block, c.lineSize);
    });
    EXPECT_EQ(fault, nullptr) << caseText("read32", c) << ": fault at window "
                              << (static_cast<const u8*>(fault) - window);
    EXPECT_GT(ticks, 0u) << caseText("read32", c);
  }
}

// Both flushes, by line and by page, from an aligned start: they flush up to their last byte's line
// and no further (one line more meets the guard page), and the data stays.
TEST(StrideKernelsX64, FlushesReachTheirLastLineAndKeepTheData) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  const bool opt = __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 23)) != 0;
  using Flush = void (*)(const std::uint8_t*, std::uint32_t, std::uint32_t);
  const struct {
    const char* name;
    Flush flush;
    bool present;
  } flushes[] = {{"CLFLUSH", vardelo_stride_flush, true},
                 {"CLFLUSHOPT", vardelo_stride_flush_opt, opt}};
  constexpr std::size_t BYTES = 4 * GuardedMemory::PAGE;
  GuardedMemory area(BYTES);
  ASSERT_TRUE(area.ok());
  for (std::size_t i = 0; i < BYTES; ++i) area.begin()[i] = static_cast<u8>(i * 7);
  const struct {
    std::size_t from;  // bytes from the area's start
    std::uint32_t bytes, stride;
    bool faults;  // at area.end()
  } rows[] = {
      {0, BYTES, 64, false},       {64, BYTES, 64, true},     {0, BYTES + 1, 64, true},
      {0, BYTES - 1, 64, false},   {0, BYTES, 4096, false},   {4096, BYTES, 4096, true},
      {0, BYTES + 1, 4096, true},  {0, 0, 64, false},
  };
  for (const auto& f : flushes) {
    if (!f.present) continue;
    for (const auto& r : rows) {
      const void* fault = faultOf([&] { f.flush(area.begin() + r.from, r.bytes, r.stride); });
      EXPECT_EQ(fault, r.faults ? area.end() : nullptr)
          << f.name << " from " << r.from << ", " << r.bytes << " bytes by " << r.stride;
    }
  }
  std::size_t changed = 0;
  for (std::size_t i = 0; i < BYTES; ++i) changed += area.begin()[i] != static_cast<u8>(i * 7);
  EXPECT_EQ(changed, 0u);
}

}  // namespace
}  // namespace vardelo
