#include "platform/cpu.h"
#include "startup/cpu_ident.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/cpu.h"

namespace vardelo {
namespace {

constexpr u32 VENDOR_EBX_CYRIX = 0x69727943;  // "Cyri"

// Signature with only the base family set; model and stepping do not affect the class.
constexpr u32 family(u32 f) { return f << 8; }
// Base family 15 with an extended family.
constexpr u32 family15Ext(u32 ext) { return (ext << 20) | (15u << 8); }

TEST(CpuIdent, VendorAndTimingClass) {
  struct Case {
    u32 ebx;
    u32 signature;
    u8 vendor;
    u8 cls;
  } cases[] = {
      {VENDOR_EBX_INTEL, family(15), VENDOR_INTEL, 2},
      {VENDOR_EBX_INTEL, 0x00000F29, VENDOR_INTEL, 2},
      {VENDOR_EBX_INTEL, family(6), VENDOR_INTEL, 0},
      {VENDOR_EBX_INTEL, 0x000906EA, VENDOR_INTEL, 0},  // family 6 with extended model
      {VENDOR_EBX_INTEL, family(5), VENDOR_INTEL, 0},
      {VENDOR_EBX_AMD, family(5), VENDOR_AMD, 0},
      {VENDOR_EBX_AMD, family(6), VENDOR_AMD, 1},
      {VENDOR_EBX_AMD, family(15), VENDOR_AMD, 1},
      {VENDOR_EBX_AMD, family15Ext(8), VENDOR_AMD, 1},  // family 0x17
      {VENDOR_EBX_CYRIX, family(6), VENDOR_OTHER, 0},
      {VENDOR_EBX_CYRIX, family(15), VENDOR_OTHER, 0},
      // Only EBX is compared, and all four bytes of it: "Genu" with the bytes swapped is not Intel.
      {0x47656E75, family(15), VENDOR_OTHER, 0},
  };
  for (const Case& c : cases) {
    const u8 vendor = vendorCode(c.ebx);
    EXPECT_EQ(vendor, c.vendor) << "ebx 0x" << std::hex << c.ebx;
    EXPECT_EQ(cpuClassOf(vendor, c.signature), c.cls)
        << "ebx 0x" << std::hex << c.ebx << " signature 0x" << c.signature;
  }
}

TEST(CpuIdent, SignatureDecodesExtendedFieldsOnlyForFamily15) {
  struct Case {
    u32 signature;
    u32 family, model, stepping;
  } cases[] = {
      {0x00020FB1, 0xF, 0x2B, 1},
      {0x00100F42, 0x10, 4, 2},
      {0x000106A5, 6, 0xA, 5},     // family 6 keeps its 4-bit model
      {0x00A20F12, 0x19, 0x21, 2}, // family 0x19 model 0x21
      {0x00000543, 5, 4, 3},
      {0x0FF00F00, 0xF + 0xFF, 0, 0},  // largest extended family
      {0xF00006FF, 6, 0xF, 0xF},       // reserved high bits ignored
  };
  for (const Case& c : cases) {
    const CpuIdentity id = decodeSignature(c.signature);
    EXPECT_EQ(id.family, c.family) << "signature 0x" << std::hex << c.signature;
    EXPECT_EQ(id.model, c.model) << "signature 0x" << std::hex << c.signature;
    EXPECT_EQ(id.stepping, c.stepping) << "signature 0x" << std::hex << c.signature;
  }
}

TEST(CpuIdent, ProcessorCheckNeedsIdFlagAndCounter) {
  struct Case {
    bool idToggles;
    u32 edx;
    ProcessorCheck want;
  } cases[] = {
      {false, FEATURE_TSC | FEATURE_MMX | FEATURE_SSE, {false, 0, 0}},  // no CPUID at all
      {true, FEATURE_MMX | FEATURE_SSE, {false, 0, 0}},                 // no time-stamp counter
      {true, ~FEATURE_TSC, {false, 0, 0}},
      {true, FEATURE_TSC, {true, 0, 0}},
      {true, FEATURE_TSC | FEATURE_MMX, {true, 1, 0}},
      {true, FEATURE_TSC | FEATURE_SSE, {true, 0, 1}},
      {true, 0x178BFBFF, {true, 1, 1}},  // a real leaf-1 EDX
      {true, FEATURE_TSC | (1u << 24) | (1u << 26), {true, 0, 0}},  // neighbouring bits
  };
  for (const Case& c : cases) {
    const ProcessorCheck got = checkProcessorFeatures(c.idToggles, c.edx);
    EXPECT_EQ(got.ok, c.want.ok) << "id " << c.idToggles << " edx 0x" << std::hex << c.edx;
    if (got.ok) {
      EXPECT_EQ(got.mmx, c.want.mmx) << "edx 0x" << std::hex << c.edx;
      EXPECT_EQ(got.sse, c.want.sse) << "edx 0x" << std::hex << c.edx;
    }
  }
}

TEST(Calibration, TscRateIsTicksPer1024thSecond) {
  for (u32 v : {1u, 1000u, 2929687u, 0x3FFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(tscRateFrom(std::uint64_t{v} * 1024, 1000), v) << "v " << v;
  }
  EXPECT_EQ(tscRateFrom(3'000'000'000ull, 1000), 2'929'687u);
  // The tick interval encloses the counter interval, so it may be a little longer.
  EXPECT_EQ(tscRateFrom(3'000'000'000ull, 1016), 2'883'550u);
  // Only bits 10..41 of the count enter: a count of 2^42 + 1024 is seen as 1024.
  EXPECT_EQ(tscRateFrom((std::uint64_t{1} << 42) + 1024, 1000), 1u);
  EXPECT_EQ(tscRateFrom(5'000'000'000ull, 1000), 4'882'812u);
  // v * 1000 needs 64 bits; the quotient is cut to 32.
  EXPECT_EQ(tscRateFrom(std::uint64_t{0xFFFFFFFF} * 1024, 500), 0xFFFFFFFEu);
}

TEST(Calibration, ShownMhz) {
  struct Case {
    u32 tscRate, mhz;
  } cases[] = {
      {2'929'687, 2999},  // 3 GHz
      {0, 0},
      {999, 0},                 // tscRate / 1000 truncates to 0 before the scaling
      {1'999, 1},               // (1 * 1024 + 500) / 1000
      {2'388'089, 2445},        // 2445.404 MHz
      {0xFFFFFFFF, 4'398'046},  // the product needs more than 32 bits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shownMhz(c.tscRate), c.mhz) << "tscRate " << c.tscRate;
  }
}

// 1 MHz is 976.5625 × 1024 Hz and 100 GHz is 97656250 × 1024 Hz.
TEST(Calibration, PlausibleRatesRunFrom1MHzTo100GHz) {
  const struct {
    u32 tscRate;
    bool plausible;
  } cases[] = {
      {0, false},          {976, false},       {977, true},         {2'929'687, true},
      {97'656'250, true},  {97'656'251, false}, {0xFFFFFFFF, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tscRatePlausible(c.tscRate), c.plausible) << "tscRate " << c.tscRate;
  }
}

// Stand-ins for calibrateClock: each call stores the next of the scripted rates.
std::vector<u32> scriptedRates;
int calibrations = 0;
void scriptedCalibration() { bench.machine.tscRate = scriptedRates.at(calibrations++); }

TEST(Calibration, AnAbsurdRateIsMeasuredAgainThenRefused) {
  const struct {
    std::vector<u32> rates;
    int calls;
    bool refused;
  } cases[] = {
      {{2'929'687}, 1, false},
      {{0, 2'929'687}, 2, false},        // one upset is forgiven
      {{0xFFFFFFFF, 2'929'687}, 2, false},
      {{0, 0}, 2, true},
      {{500, 0xFFFFFFFF}, 2, true},
  };
  for (const auto& c : cases) {
    scriptedRates = c.rates;
    calibrations = 0;
    const std::string refusal = calibrateWithRetry(scriptedCalibration);
    EXPECT_EQ(calibrations, c.calls) << testing::PrintToString(c.rates);
    EXPECT_EQ(!refusal.empty(), c.refused) << testing::PrintToString(c.rates) << ": " << refusal;
  }
  scriptedRates = {0, 0};
  calibrations = 0;
  EXPECT_EQ(calibrateWithRetry(scriptedCalibration),
            "Vardelo cannot start: the time-stamp counter measured 0 ticks per second twice in a "
            "row; a rate outside 1 MHz to 100 GHz would make every figure meaningless.");
  bench.machine.tscRate = 0;
}

TEST(Calibration, RdtscOverheadIsCheapestPairMinusOne) {
  struct Case {
    std::vector<u32> pairs;
    u32 want;
  } cases[] = {
      {{}, 99999},
      {{100000, 200000, 0xFFFFFFFF}, 99999},  // nothing under the start value
      {{99999}, 99998},
      {{40, 35, 36, 35, 90}, 34},
      {{12, 900000, 13}, 11},
      {{1}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rdtscOverheadFrom(c.pairs), c.want) << "pairs " << testing::PrintToString(c.pairs);
  }
}

TEST(Settle, ClassTwoRunsATenthOfTheRounds) {
  struct Case {
    std::int64_t span;
    u8 cls;
    i32 rounds;
  } cases[] = {
      {61'135'100, 0, 6'113'510}, {61'135'100, 1, 6'113'510}, {61'135'100, 2, 611'351},
      {9, 0, 0},                  {99, 2, 0},                  {-25, 0, -2},
      {-250, 2, -2},  // signed: truncates towards zero
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settleRounds(c.span, c.cls), c.rounds)
        << "span " << c.span << " class " << int(c.cls);
  }
}

TEST(TestArea, AlignsUpToTheNextPage) {
  struct Case {
    std::uintptr_t pointer, area;
  } cases[] = {
      {0x00A30000, 0x00A30000},  // already aligned: unchanged
      {0x00A30020, 0x00A31000},  // 32 bytes past a boundary: 4064 further
      {0x00A30001, 0x00A31000},
      {0x00A30FFF, 0x00A31000},
      {0x00A31000, 0x00A31000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(alignUp(c.pointer, 4096), c.area) << "pointer 0x" << std::hex << c.pointer;
  }
}

// The register layout of the two strings, as a processor would return them.
CpuidRegs regsOf(const char (&s)[17]) {
  CpuidRegs r;
  std::memcpy(&r, s, 16);
  return r;
}

TEST(CpuStrings, VendorIsEbxEdxEcx) {
  char out[13];
  vendorFromLeaf0({0xD, VENDOR_EBX_INTEL, 0x6C65746E, 0x49656E69}, out);
  EXPECT_STREQ(out, "GenuineIntel");
  vendorFromLeaf0({0x10, VENDOR_EBX_AMD, 0x444D4163, 0x69746E65}, out);
  EXPECT_STREQ(out, "AuthenticAMD");
}

TEST(CpuStrings, BrandDropsLeadingBlanksOnly) {
  const CpuidRegs rightJustified[3] = {regsOf("              In"), regsOf("tel(R) Pentium(R"),
                                       regsOf(") 4 CPU 3.00GHz ")};
  const CpuidRegs padded[3] = {regsOf("AMD EPYC 7B13 64"), regsOf("-Core Processor "),
                               regsOf("                ")};
  char out[49];
  std::memset(out, 'x', sizeof out);
  brandFromLeaves(rightJustified, out);
  EXPECT_STREQ(out, "Intel(R) Pentium(R) 4 CPU 3.00GHz ");
  brandFromLeaves(padded, out);
  EXPECT_STREQ(out, "AMD EPYC 7B13 64-Core Processor                 ");

  CpuidRegs nulPadded[3] = {regsOf("AMD EPYC        "), regsOf("                "),
                            regsOf("                ")};
  std::memset(&nulPadded[0].ecx, 0, 8);
  brandFromLeaves(nulPadded, out);
  EXPECT_STREQ(out, "AMD EPYC");

  const CpuidRegs blank[3] = {regsOf("                "), regsOf("                "),
                              regsOf("                ")};
  brandFromLeaves(blank, out);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace vardelo
