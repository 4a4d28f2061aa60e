#include "kernels/block_read.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "kernels/block_passes.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

constexpr u32 PAGE = 4096;

// CPUID leaf 1, EDX: bit 23 MMX, bit 25 SSE.
u32 featureBits() {
  u32 a = 1, b, c = 0, d;
  asm volatile("cpuid" : "+a"(a), "=b"(b), "+c"(c), "=d"(d));
  return d;
}

// Runs the kernels over a test area of their own, as the start-up lays it out: 12 MiB from a
// 4 KiB boundary inside 12 MiB + 4 KiB of readable, writable, executable memory.
class BlockRead : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    buffer_ = static_cast<u8*>(VirtualAlloc(nullptr, TEST_BUFFER_BYTES, MEM_COMMIT | MEM_RESERVE,
                                            PAGE_EXECUTE_READWRITE));
    ASSERT_NE(buffer_, nullptr);
    area_ = reinterpret_cast<u8*>((reinterpret_cast<std::uintptr_t>(buffer_) + PAGE - 1) &
                                  ~std::uintptr_t{PAGE - 1});
  }
  static void TearDownTestSuite() {
    VirtualFree(buffer_, 0, MEM_RELEASE);
    buffer_ = nullptr;
  }

  void SetUp() override {
    resetBench();
    const u32 edx = featureBits();
    wide_ = wideLoadsFrom(readWideLoadBits());
    bench.machine.testArea = area_;
    bench.machine.mmx = (edx >> 23) & 1;
    bench.machine.sse = (edx >> 25) & 1;
    applyWideLoads(wide_);
    bench.measuring.readMode = 0;
    bench.machine.rdtscOverhead = 0;
  }
  void TearDown() override { resetBench(); }

  // The fewest ticks of a few reads: a read that an interrupt lengthened does not count.
  static u32 fewestTicks(u32 length) {
    u32 fewest = 0xFFFFFFFFu;
    for (int i = 0; i < 5; ++i) fewest = std::min(fewest, blockReadTicks(0, length));
    return fewest;
  }

  static inline u8* buffer_ = nullptr;
  static inline u8* area_ = nullptr;
  WideLoads wide_{};
};

// The tests of this suite run once for each read variant, with bench.measuring.readMode set to it;
// a variant this processor lacks is skipped.
class EachReadVariant : public BlockRead, public ::testing::WithParamInterface<u32> {
 protected:
  void SetUp() override {
    BlockRead::SetUp();
    // bench holds this processor's own flags (BlockRead::SetUp).
    if (!readVariantAvailable(static_cast<u8>(GetParam()))) GTEST_SKIP() << variant().name << " is not on this processor";
    bench.measuring.readMode = GetParam();
  }
  const BlockReadVariant& variant() const { return BLOCK_READ_VARIANTS[GetParam()]; }
};

TEST_P(EachReadVariant, TimesItsReads) {
  const u32 small = fewestTicks(4096);
  const u32 large = fewestTicks(65536);
  EXPECT_NE(small, BAD_SAMPLE);
  EXPECT_NE(small, 0u);
  EXPECT_NE(large, BAD_SAMPLE);
  // How the times compare is for the benchmarks to judge; a loaded machine can turn it over.
  // That the whole length is read is checked without a clock, below.
  std::printf("%s: 4 KiB in %u ticks, 64 KiB in %u\n", variant().name, small, large);
  const u32 pass = blockReadPassTicks(PAGE, 4608);
  EXPECT_NE(pass, BAD_SAMPLE);
  EXPECT_NE(pass, 0u);
}

TEST_F(BlockRead, CounterOverheadIsSubtractedModulo32Bits) {
  // Any read far shorter than 2^31 ticks comes out at 2^31 or more once 2^31 is subtracted.
  bench.machine.rdtscOverhead = 0x80000000u;
  const u32 t = blockReadTicks(0, 4096);
  EXPECT_NE(t, BAD_SAMPLE);
  EXPECT_GE(t, 0x80000000u);
}

TEST_F(BlockRead, MissingVariantGivesBadSampleWithoutTouchingMemory) {
  // The area is a page nobody may read: a kernel that ran would fault.
  u8* noAccess = static_cast<u8*>(VirtualAlloc(nullptr, PAGE, MEM_COMMIT | MEM_RESERVE,
                                               PAGE_NOACCESS));
  ASSERT_NE(noAccess, nullptr);
  bench.machine.testArea = noAccess;
  // Without the wide loads' flags readMode 3 and 4 are missing variants too; 5 and up name none.
  applyWideLoads({0, 0});
  struct Case {
    u8 readMode, mmx, sse;
  };
  const Case cases[] = {{1, 0, 1}, {2, 1, 0}, {3, 1, 1}, {4, 1, 1}, {5, 1, 1}, {255, 1, 1}};
  for (const Case& c : cases) {
    bench.measuring.readMode = c.readMode;
    bench.machine.mmx = c.mmx;
    bench.machine.sse = c.sse;
    const int mode = c.readMode, mmx = c.mmx, sse = c.sse;
    EXPECT_EQ(blockReadTicks(0, 256), BAD_SAMPLE)
        << "readMode " << mode << ", mmx " << mmx << ", sse " << sse;
    EXPECT_EQ(blockReadPassTicks(0, 4608), BAD_SAMPLE)
        << "readMode " << mode << ", mmx " << mmx << ", sse " << sse;
  }
  VirtualFree(noAccess, 0, MEM_RELEASE);
}

// The wide variants run only where CPUID has the instructions and XCR0 says the system saves
// their registers. This machine's own bits, with one of them taken away at a time, must leave
// readMode 3 and 4 returning BAD_SAMPLE at once, on an area that faults when touched.
TEST_F(BlockRead, WideVariantsWithoutTheirCpuidOrXcr0BitsGiveBadSampleWithoutTouchingMemory) {
  u8* noAccess = static_cast<u8*>(VirtualAlloc(nullptr, PAGE, MEM_COMMIT | MEM_RESERVE,
                                               PAGE_NOACCESS));
  ASSERT_NE(noAccess, nullptr);
  bench.machine.testArea = noAccess;
  const WideLoadBits real = readWideLoadBits();
  std::printf("CPUID max leaf %u, leaf 1 ECX %08X, leaf 7 EBX %08X, XCR0 %08X: avx %d, avx512 %d\n",
              real.maxLeaf, real.leaf1Ecx, real.leaf7Ebx, real.xcr0, wide_.avx, wide_.avx512);
  struct Case {
    const char* what;
    WideLoadBits bits;
  };
  const Case cases[] = {
      {"no OSXSAVE", {real.maxLeaf, real.leaf1Ecx & ~CPUID1_ECX_OSXSAVE, real.leaf7Ebx, real.xcr0}},
      {"no AVX, no AVX-512F",
       {real.maxLeaf, real.leaf1Ecx & ~CPUID1_ECX_AVX, real.leaf7Ebx & ~CPUID7_EBX_AVX512F,
        real.xcr0}},
      {"YMM state not saved", {real.maxLeaf, real.leaf1Ecx, real.leaf7Ebx, real.xcr0 & ~4u}},
      {"SSE state not saved", {real.maxLeaf, real.leaf1Ecx, real.leaf7Ebx, real.xcr0 & ~2u}},
      {"nothing at all", {}},
  };
  for (const Case& c : cases) {
    applyWideLoads(wideLoadsFrom(c.bits));
    for (u8 mode : {READ_AVX256, READ_AVX512}) {
      bench.measuring.readMode = mode;
      EXPECT_EQ(blockReadTicks(0, 256), BAD_SAMPLE) << c.what << ", readMode " << int(mode);
      EXPECT_EQ(blockReadPassTicks(0, 4608), BAD_SAMPLE) << c.what << ", readMode " << int(mode);
    }
  }
  // Without the ZMM state bits AVX-512 is refused while AVX may still run.
  applyWideLoads(wideLoadsFrom({real.maxLeaf, real.leaf1Ecx, real.leaf7Ebx, real.xcr0 & ~0xE0u}));
  EXPECT_EQ(bench.machine.avx512.load(), 0);
  bench.measuring.readMode = READ_AVX512;
  EXPECT_EQ(blockReadTicks(0, 256), BAD_SAMPLE);
  VirtualFree(noAccess, 0, MEM_RELEASE);
}

// Where the processor has AVX, the system under these tests (Wine on Linux) saves its state:
// the detection must then offer 256-bit loads, or the wide variant would never be chosen.
TEST_F(BlockRead, DetectionOffersAvxWhereCpuidAndXcr0HaveIt) {
  const WideLoadBits real = readWideLoadBits();
  const bool cpuHasAvx = (real.leaf1Ecx & CPUID1_ECX_AVX) != 0 &&
                         (real.leaf1Ecx & CPUID1_ECX_OSXSAVE) != 0;
  if (!cpuHasAvx) GTEST_SKIP() << "no AVX on this processor";
  EXPECT_EQ(real.xcr0 & XCR0_YMM, XCR0_YMM);
  detectWideLoads();
  EXPECT_EQ(bench.machine.avx.load(), 1);
  EXPECT_TRUE(readVariantAvailable(READ_AVX256));
}

TEST_P(EachReadVariant, ReadsWholeIterationsOfTheLengthOnly) {
  // Two readable pages with an unreadable one behind them. Each block ends exactly at the
  // unreadable page, so a kernel that read one iteration more than floor(length / 256) would
  // fault and end the test program.
  u8* pages = static_cast<u8*>(VirtualAlloc(nullptr, 3 * PAGE, MEM_COMMIT | MEM_RESERVE,
                                            PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages + 2 * PAGE, PAGE, PAGE_NOACCESS, &old));
  bench.machine.testArea = pages;

  struct Case {
    u32 length, iterations;
  };
  const Case cases[] = {{256, 1}, {300, 1}, {511, 1}, {512, 2}, {6144, 24}, {6399, 24}};
  for (const Case& c : cases) {
    const u32 offset = 2 * PAGE - c.iterations * 256;
    EXPECT_NE(blockReadTicks(offset, c.length), BAD_SAMPLE) << "length " << c.length;
  }
  VirtualFree(pages, 0, MEM_RELEASE);
}

// Tripwires: unreadable pages whose first touch is caught, counted and let through. Exactly one
// page is unreadable at a time, so the handler knows which page was touched without being told
// the address: under an emulator Wine reports such a touch as an illegal instruction with no
// address (the emulator's signal carries no page-fault trap number), natively as an access
// violation with one. A touch makes the page readable and the load runs again; with `other` set,
// that page becomes the unreadable one instead, so the two catch alternate passes.
struct Tripwire {
  u8* armed = nullptr;
  u8* pages[2] = {};
  std::atomic<int> hits[2] = {0, 0};
  std::atomic<std::uintptr_t> lastAddress{0};  // 0 where the system gave none
};
Tripwire tripwire;

void setReadable(u8* page, bool readable) {
  DWORD old = 0;
  VirtualProtect(page, PAGE, readable ? PAGE_EXECUTE_READWRITE : PAGE_NOACCESS, &old);
}

LONG CALLBACK catchTripwire(EXCEPTION_POINTERS* e) {
  const DWORD code = e->ExceptionRecord->ExceptionCode;
  if ((code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION) ||
      tripwire.armed == nullptr) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const int which = tripwire.armed == tripwire.pages[0] ? 0 : 1;
  tripwire.lastAddress =
      code == EXCEPTION_ACCESS_VIOLATION ? e->ExceptionRecord->ExceptionInformation[1] : 0;
  tripwire.hits[which].fetch_add(1);
  setReadable(tripwire.armed, true);
  tripwire.armed = tripwire.pages[1 - which];
  if (tripwire.armed != nullptr) setReadable(tripwire.armed, false);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Arms page `first`; a touch of it moves the tripwire to `other` and back (none: disarmed).
void armTripwire(u8* first, u8* other) {
  tripwire.pages[0] = first;
  tripwire.pages[1] = other;
  tripwire.hits[0] = 0;
  tripwire.hits[1] = 0;
  tripwire.lastAddress = 0;
  tripwire.armed = first;
  setReadable(first, false);
}

void disarmTripwire() {
  tripwire.armed = nullptr;
  for (u8*& page : tripwire.pages) {
    if (page != nullptr) setReadable(page, true);
    page = nullptr;
  }
}

TEST_P(EachReadVariant, ReadsTheLastIterationOfTheLength) {
  // Each block ends at a page boundary, its last page a tripwire: a kernel that stopped one
  // iteration short, or timed nothing, would not touch it.
  PVOID handler = AddVectoredExceptionHandler(1, catchTripwire);
  ASSERT_NE(handler, nullptr);
  const u32 lengths[] = {256, 4096, 4608, 65536, 1048576};
  for (u32 length : lengths) {
    const u32 end = 2 * 1048576;
    const u32 offset = end - length;
    u8* lastPage = area_ + end - PAGE;
    armTripwire(lastPage, nullptr);
    const u32 ticks = blockReadTicks(offset, length);
    EXPECT_NE(ticks, BAD_SAMPLE) << "length " << length;
    EXPECT_EQ(tripwire.hits[0].load(), 1) << "length " << length;
    const std::uintptr_t hit = tripwire.lastAddress.load();
    const auto page = reinterpret_cast<std::uintptr_t>(lastPage);
    EXPECT_TRUE(hit == 0 || (hit >= page && hit < page + PAGE))
        << "length " << length << ": hit at 0x" << std::hex << hit;
    disarmTripwire();
  }
  RemoveVectoredExceptionHandler(handler);
}

TEST_P(EachReadVariant, ReadsNothingBeforeTheBlock) {
  // An unreadable page, then two readable ones; each block starts exactly at the first readable
  // byte, so a load below it would fault.
  u8* pages = static_cast<u8*>(VirtualAlloc(nullptr, 3 * PAGE, MEM_COMMIT | MEM_RESERVE,
                                            PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages, PAGE, PAGE_NOACCESS, &old));
  bench.machine.testArea = pages + PAGE;
  for (u32 length : {256u, 4608u, 2 * PAGE}) {
    EXPECT_NE(blockReadTicks(0, length), BAD_SAMPLE) << "length " << length;
  }
  VirtualFree(pages, 0, MEM_RELEASE);
}

// A block of whole pages between two unreadable pages, with tripwires on its first and last page
// while it lives. A pass reads upwards, so each pass over the whole block touches the first page
// once and then the last page once.
class CountedBlock {
 public:
  explicit CountedBlock(u32 size) : size_(size) {
    mem_ = static_cast<u8*>(VirtualAlloc(nullptr, size + 2 * PAGE, MEM_COMMIT | MEM_RESERVE,
                                         PAGE_READWRITE));
    if (mem_ == nullptr) return;
    DWORD old = 0;
    fenced_ = VirtualProtect(mem_, PAGE, PAGE_NOACCESS, &old) &&
              VirtualProtect(mem_ + PAGE + size, PAGE, PAGE_NOACCESS, &old);
    handler_ = AddVectoredExceptionHandler(1, catchTripwire);
  }
  ~CountedBlock() {
    disarmTripwire();
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
    if (mem_ != nullptr) VirtualFree(mem_, 0, MEM_RELEASE);
  }
  bool ready() const { return fenced_ && handler_ != nullptr; }
  u8* block() const { return mem_ + PAGE; }
  // Counts from zero: the first page armed, whatever page the last pass ended on.
  void arm() {
    disarmTripwire();
    armTripwire(block(), block() + size_ - PAGE);
  }
  int firstHits() const { return tripwire.hits[0].load(); }
  int lastHits() const { return tripwire.hits[1].load(); }

 private:
  u32 size_;
  u8* mem_ = nullptr;
  bool fenced_ = false;
  PVOID handler_ = nullptr;
};

// Every pass of blockReadPassTicks reads the whole block, and there are blockReadPasses(size) of
// them: as many calls of a kernel that times a single pass, or one kernel's passes for the wide
// variants, which time them all together. Unreadable pages on both sides catch a read outside.
TEST_P(EachReadVariant, PassTicksReadTheWholeBlockEveryPass) {
  const u32 sizes[] = {8192, 3 * PAGE, 65536, 1048576 + PAGE};
  for (u32 size : sizes) {
    CountedBlock counted(size);
    ASSERT_TRUE(counted.ready()) << "size " << size;
    bench.machine.testArea = counted.block();
    counted.arm();
    const u32 ticks = blockReadPassTicks(0, size);
    const int passes = static_cast<int>(blockReadPasses(size));
    EXPECT_NE(ticks, BAD_SAMPLE) << "size " << size;
    EXPECT_EQ(counted.firstHits(), passes) << "size " << size;
    EXPECT_EQ(counted.lastHits(), passes) << "size " << size;
  }
}

// The wide kernels' own pass count, 0 included: no pass reads nothing and takes no time.
TEST_P(EachReadVariant, PassesKernelReadsTheBlockAsManyTimesAsAsked) {
  if (variant().readPasses == nullptr) GTEST_SKIP() << variant().name << " times single passes";
  const u32 size = 2 * PAGE;
  CountedBlock counted(size);
  ASSERT_TRUE(counted.ready());
  for (u32 passes : {0u, 1u, 2u, 7u}) {
    counted.arm();
    const std::uint64_t diff = variant().readPasses(counted.block(), size >> 8, passes);
    EXPECT_EQ(counted.firstHits(), static_cast<int>(passes)) << "passes " << passes;
    EXPECT_EQ(counted.lastHits(), static_cast<int>(passes)) << "passes " << passes;
    if (passes == 0) {
      EXPECT_EQ(diff, 0u);
    } else {
      EXPECT_NE(diff, 0u) << "passes " << passes;
    }
  }
  counted.arm();
  EXPECT_EQ(variant().readPasses(counted.block(), 0, 5), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kernel, EachReadVariant, ::testing::Range(0u, BLOCK_READ_VARIANT_COUNT),
                         [](const ::testing::TestParamInfo<u32>& info) {
                           return std::string(BLOCK_READ_VARIANTS[info.param].name);
                         });

}  // namespace
}  // namespace vardelo
