#include "kernels/block_read_features.h"

#include <gtest/gtest.h>

#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

constexpr u32 OSXSAVE = CPUID1_ECX_OSXSAVE, AVX = CPUID1_ECX_AVX, F512 = CPUID7_EBX_AVX512F;

TEST(WideLoads, NeedTheInstructionsAndTheSystemsConsent) {
  struct Case {
    const char* what;
    WideLoadBits bits;
    u8 avx, avx512;
  };
  const Case cases[] = {
      {"everything, as on a processor with AVX-512", {0x10, OSXSAVE | AVX, F512, 0xE7}, 1, 1},
      {"AVX only, YMM state saved", {0x10, OSXSAVE | AVX, 0, 0x07}, 1, 0},
      {"AVX-512F, ZMM state not saved", {0x10, OSXSAVE | AVX, F512, 0x07}, 1, 0},
      {"ZMM saved but not registers 16..31 (bit 7)", {0x10, OSXSAVE | AVX, F512, 0x67}, 1, 0},
      {"ZMM saved but not the opmasks (bit 5)", {0x10, OSXSAVE | AVX, F512, 0xC7}, 1, 0},
      {"YMM not saved (bit 2)", {0x10, OSXSAVE | AVX, F512, 0xE3}, 0, 0},
      {"SSE state not saved (bit 1)", {0x10, OSXSAVE | AVX, F512, 0xE5}, 0, 0},
      // Without OSXSAVE there is no XGETBV, and XCR0 means nothing even if a value came in.
      {"no OSXSAVE", {0x10, AVX, F512, 0xE7}, 0, 0},
      {"no AVX instruction", {0x10, OSXSAVE, 0, 0x07}, 0, 0},
      // AVX-512F is asked of leaf 7 only where the processor has that leaf.
      {"leaf 7 missing", {6, OSXSAVE | AVX, F512, 0xE7}, 1, 0},
      {"AVX-512F without the AVX bit", {0x0D, OSXSAVE, F512, 0xE7}, 0, 1},
      {"no leaf 1 at all", {0, OSXSAVE | AVX, F512, 0xE7}, 0, 0},
      {"a processor of the old kind: nothing", {2, 0, 0, 0}, 0, 0},
  };
  for (const Case& c : cases) {
    const WideLoads got = wideLoadsFrom(c.bits);
    EXPECT_EQ(got.avx, c.avx) << c.what;
    EXPECT_EQ(got.avx512, c.avx512) << c.what;
  }
}

TEST(WideLoads, VariantsAreAvailableByTheirFlags) {
  struct Case {
    u8 mmx, sse, avx, avx512;
    bool expected[6];  // readMode 0..5
  };
  const Case cases[] = {
      {0, 0, 0, 0, {true, false, false, false, false, false}},
      {1, 1, 0, 0, {true, true, true, false, false, false}},
      {1, 1, 1, 0, {true, true, true, true, false, false}},
      {1, 1, 1, 1, {true, true, true, true, true, false}},
      {0, 0, 0, 1, {true, false, false, false, true, false}},
  };
  for (const Case& c : cases) {
    bench.machine.mmx = c.mmx;
    bench.machine.sse = c.sse;
    applyWideLoads({c.avx, c.avx512});
    for (u8 mode = 0; mode < 6; ++mode) {
      EXPECT_EQ(readVariantAvailable(mode), c.expected[mode])
          << "readMode " << int(mode) << " with mmx " << int(c.mmx) << ", sse " << int(c.sse)
          << ", avx " << int(c.avx) << ", avx512 " << int(c.avx512);
    }
  }
  EXPECT_FALSE(readVariantAvailable(255));
  resetBench();
}

}  // namespace
}  // namespace vardelo
