// The strided kernels run for real: every store lands where the C++ twin says, and nowhere else.
#include "kernels/stride_kernels.h"

#include <cpuid.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

constexpr u32 WINDOW_OFFSET = 4096;  // one page before the window stays untouched
// The bytes compared: the page before, the window, and 64 KiB behind it (overrun and guard).
constexpr u32 CHECKED_BYTES = WINDOW_OFFSET + RAM_WINDOW_BYTES + 65536;

bool cpuHasSse() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx >> 25) & 1;
}

// Differs from byte to byte, so no stored value can match it over a whole store.
u8 sentinelByte(u32 i) { return static_cast<u8>((i * 2654435761u) >> 24); }

std::string hexBytes(const u8* p, u32 n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (u32 i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}

class StrideKernels : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    raw_ = VirtualAlloc(nullptr, TEST_BUFFER_BYTES, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(raw_, nullptr);
    const auto start = reinterpret_cast<std::uintptr_t>(raw_);
    area_ = reinterpret_cast<u8*>((start + TEST_AREA_ALIGN - 1) & ~std::uintptr_t{TEST_AREA_ALIGN - 1});
    sentinel_.resize(CHECKED_BYTES);
    for (u32 i = 0; i < CHECKED_BYTES; ++i) sentinel_[i] = sentinelByte(i);
    expected_.resize(CHECKED_BYTES);
    hasSse_ = cpuHasSse();
  }
  static void TearDownTestSuite() {
    VirtualFree(raw_, 0, MEM_RELEASE);
    raw_ = nullptr;
  }

  void SetUp() override {
    resetBench();
    bench.machine.testArea = area_;
    bench.machine.sse = hasSse_ ? 1 : 0;
  }
  void TearDown() override { resetBench(); }

  static void fillSentinel() { std::memcpy(area_, sentinel_.data(), CHECKED_BYTES); }

  // Compares the checked bytes with `expected`, naming the first difference.
  static ::testing::AssertionResult areaEquals(const u8* expected) {
    if (std::memcmp(area_, expected, CHECKED_BYTES) == 0) return ::testing::AssertionSuccess();
    u32 first = 0, count = 0;
    for (u32 i = CHECKED_BYTES; i-- > 0;) {
      if (area_[i] != expected[i]) first = i, ++count;
    }
    return ::testing::AssertionFailure()
           << count << " bytes differ; first at area byte " << first << ": expected " << hexBytes(expected + first, 1)
           << ", got " << hexBytes(area_ + first, 1);
  }

  // Runs one write walk over the sentinel, then replays the twin's stores in order with the
  // value the kernel stored (read back where the twin's last store went) and compares.
  static ::testing::AssertionResult storesMatchTwin(StrideTicksFn run, StrideFamily family, u32 offset, i32 gap,
                                                    u32 block, i32 lineSize) {
    bench.measuring.lineSize = lineSize;
    fillSentinel();
    run(offset, gap, block);

    touches_.clear();
    walkStride(planStrideWalk(family, gap, block, lineSize), [](const StrideTouch& t) { touches_.push_back(t); });
    const StrideTouch& last = touches_.back();
    u8 value[8];
    std::memcpy(value, area_ + offset + last.offset, last.bytes);

    std::memcpy(expected_.data(), sentinel_.data(), CHECKED_BYTES);
    u8* expected = expected_.data() + offset;
    for (const StrideTouch& t : touches_) std::memcpy(expected + t.offset, value, t.bytes);
    return areaEquals(expected_.data()) << "; window at area byte " << offset << ", stored value "
                                        << hexBytes(value, last.bytes);
  }

  static inline void* raw_ = nullptr;
  static inline u8* area_ = nullptr;
  static inline std::vector<u8> sentinel_;
  static inline std::vector<u8> expected_;
  static inline std::vector<StrideTouch> touches_;
  static inline bool hasSse_ = false;
};

const char* familyName(StrideFamily f) { return f == StrideFamily::Words32 ? "Words32" : "Runs64"; }

// The four kernels and what each touches.
struct StrideKernel {
  const char* name;
  StrideFamily family;  // pattern table the kernel walks
  bool stores;          // writes the bytes it touches
  bool needsSse;        // runs only where the processor has SSE (and so MMX)
  StrideTicksFn ticks;
};

constexpr int STRIDE_KERNEL_COUNT = 4;
const StrideKernel STRIDE_KERNELS[STRIDE_KERNEL_COUNT] = {
    {"read32", StrideFamily::Words32, false, false, strideReadTicks},
    {"write32", StrideFamily::Words32, true, false, strideWriteIntKernel},
    {"writeNt64", StrideFamily::Runs64, true, true, strideWriteStreamKernel},
    {"write64", StrideFamily::Runs64, true, true, strideWriteMmxKernel},
};

// The write kernels, one test each; a kernel that needs SSE is skipped without it.
class EachWriteKernel : public StrideKernels, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    StrideKernels::SetUp();
    if (kernel().needsSse && !hasSse_) GTEST_SKIP() << kernel().name << " needs SSE";
  }
  static const StrideKernel& kernel() { return STRIDE_KERNELS[GetParam()]; }
};

std::vector<int> writeKernels() {
  std::vector<int> indices;
  for (int i = 0; i < STRIDE_KERNEL_COUNT; ++i) {
    if (STRIDE_KERNELS[i].stores) indices.push_back(i);
  }
  return indices;
}

// Every block and line-size class, plus a block walked as 256, a negative lineSize (the class
// test is signed) and block 32 with long lines; each with gaps that are negative, step 1, zero,
// and long enough to wrap many times.
TEST_P(EachWriteKernel, StoresExactlyWhatTheTwinSays) {
  struct Shape {
    u32 block;
    i32 lineSize;
  };
  std::vector<Shape> shapes = {{32, 128}, {200, 32}, {256, -1}, {64, -1}};
  for (u32 block : {64u, 128u, 256u}) {
    for (i32 lineSize : {32, 64, 128, 96}) shapes.push_back({block, lineSize});
  }
  for (const Shape& shape : shapes) {
    const i32 b = static_cast<i32>(shape.block);
    for (i32 gap : {-3136, -b - 1, 0, 7168}) {
      EXPECT_TRUE(storesMatchTwin(kernel().ticks, kernel().family, WINDOW_OFFSET, gap, shape.block,
                                  shape.lineSize))
          << "block " << shape.block << " lineSize " << shape.lineSize << " gap " << gap;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernel, EachWriteKernel, ::testing::ValuesIn(writeKernels()),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(STRIDE_KERNELS[info.param].name);
                         });

TEST_F(StrideKernels, ReadKernelChangesNothingAndCounts) {
  for (u32 block : {32u, 64u, 128u, 256u}) {
    for (i32 lineSize : {32, 64, 128, 96}) {
      for (i32 gap : {0, 7168}) {
        bench.measuring.lineSize = lineSize;
        fillSentinel();
        const u32 ticks = strideReadTicks(WINDOW_OFFSET, gap, block);
        EXPECT_NE(ticks, BAD_SAMPLE) << "block " << block << " lineSize " << lineSize << " gap " << gap;
        EXPECT_GT(ticks, 0u) << "block " << block << " lineSize " << lineSize << " gap " << gap;
        EXPECT_TRUE(areaEquals(sentinel_.data())) << "block " << block << " lineSize " << lineSize << " gap " << gap;
      }
    }
  }
}

// The dispatchers pick their kernel by bench.machine.sse, at offset 0 as the measurement loops call
// them.
TEST_F(StrideKernels, DispatchersFollowSse) {
  struct Row {
    const char* name;
    StrideTicksFn run;
    u8 sse;
    StrideFamily family;
  };
  const Row rows[] = {
      {"strideWriteTicks", strideWriteTicks, 0, StrideFamily::Words32},
      {"strideWriteTicks", strideWriteTicks, 1, StrideFamily::Runs64},
      {"strideWriteMmxTicks", strideWriteMmxTicks, 1, StrideFamily::Runs64},
  };
  for (const Row& r : rows) {
    if (r.sse && !hasSse_) continue;
    bench.machine.sse = r.sse;
    for (u32 block : {32u, 256u}) {
      EXPECT_TRUE(storesMatchTwin(r.run, r.family, 0, 1024, block, 32))
          << r.name << " sse " << int(r.sse) << " expected " << familyName(r.family) << " block " << block;
    }
  }
}

TEST_F(StrideKernels, MmxDispatcherWithoutSseRunsNothing) {
  bench.machine.sse = 0;
  bench.measuring.lineSize = 32;
  fillSentinel();
  EXPECT_EQ(strideWriteMmxTicks(WINDOW_OFFSET, 0, 256), BAD_SAMPLE);
  EXPECT_TRUE(areaEquals(sentinel_.data()));
}

// The MMX kernels leave the x87 registers tagged in use; the wrappers must release them, or the
// next floating-point load overflows the x87 stack and yields NaN.
TEST_F(StrideKernels, FloatingPointWorksAfterMmxKernels) {
  if (!hasSse_) GTEST_SKIP() << "no SSE";
  bench.measuring.lineSize = 32;
  for (StrideTicksFn run : {strideWriteStreamKernel, strideWriteMmxKernel}) {
    run(0, 0, 32);
    volatile double a = 1.5, b = 2.25;
    const double product = a * b;
    EXPECT_EQ(product, 3.375);
  }
}

}  // namespace
}  // namespace vardelo
