#include "workers/cache_figures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kernels/latency_chain.h"
#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

// --- Read variant -----------------------------------------------------------------------------

TEST(CacheFigures, ReadVariantChoice) {
  // What a variant the processor lacks measures: every timing BAD_SAMPLE, at 6144 bytes and a
  // 3 GHz counter.
  const u32 missing = static_cast<u32>(2929687ull * 6144 / BAD_SAMPLE);
  const struct {
    u32 speeds[3];
    u8 readMode;
    u32 cacheMax;
  } cases[] = {
      {{1000, 1000, 1000}, 2, 1000},  // ties go to the higher variant
      {{3000, 3000, 1000}, 1, 3000},
      {{3000, 2000, 1000}, 0, 3000},
      {{5000, missing, missing}, 0, 5000},
      {{5000, 7000, missing}, 1, 7000},
      {{0, 0, 0}, 2, 0},
      // Signed: speeds with the top bit set lose even to the start value 0.
      {{0x80000000u, 0x90000000u, 0xFFFFFFFFu}, 0, 0},
      {{0xFFFFFFFFu, 12, 0x80000000u}, 1, 12},
  };
  for (const auto& c : cases) {
    const ReadVariantChoice got = chooseReadVariant(c.speeds);
    EXPECT_EQ(got.readMode, c.readMode)
        << "speeds " << c.speeds[0] << ", " << c.speeds[1] << ", " << c.speeds[2];
    EXPECT_EQ(got.cacheMax, c.cacheMax)
        << "speeds " << c.speeds[0] << ", " << c.speeds[1] << ", " << c.speeds[2];
  }
}

TEST(CacheFigures, WideReadVariantsAreTriedAfterTheClassicOnes) {
  const struct {
    const char* what;
    u32 speeds[5];
    u8 readMode;
  } cases[] = {
      {"256-bit fastest", {1000, 2000, 4000, 8000, NO_POINT}, 3},
      {"512-bit fastest", {1000, 2000, 4000, 8000, 9000}, 4},
      {"ties go to the widest", {4000, 4000, 4000, 4000, 4000}, 4},
      {"SSE beats AVX", {1000, 2000, 8000, 7999, NO_POINT}, 2},
      // A wide variant not tried (NO_POINT) loses even where every tried one measured 0.
      {"untried wide variants never win", {0, 0, 0, NO_POINT, NO_POINT}, 2},
      {"AVX-512 tried without AVX", {1000, 2000, 4000, NO_POINT, 3000}, 2},
  };
  for (const auto& c : cases) {
    const ReadVariantChoice got = chooseReadVariant(c.speeds);
    EXPECT_EQ(got.readMode, c.readMode) << c.what;
    EXPECT_EQ(got.cacheMax, c.speeds[c.readMode]) << c.what;
  }
}

// --- Line-size probe --------------------------------------------------------------------------

// Pass times for the probe: first the scripted calls in order, then the time set for the stride.
struct ProbeScript {
  std::vector<std::uint64_t> calls;
  std::map<u32, std::uint64_t> byStride;
  std::vector<u32> seenLengths;
  std::vector<u32> seenStrides;
  std::vector<u32> sleeps;
};
ProbeScript script;

std::uint64_t scriptedPass(u32 lengthBytes, u32 strideBytes) {
  const std::size_t n = script.seenStrides.size();
  script.seenLengths.push_back(lengthBytes);
  script.seenStrides.push_back(strideBytes);
  return n < script.calls.size() ? script.calls[n] : script.byStride.at(strideBytes);
}

void recordSleep(u32 ms) { script.sleeps.push_back(ms); }

u32 probe(std::map<u32, std::uint64_t> byStride, u8 cpuClass = 0,
          std::vector<std::uint64_t> calls = {}) {
  script = ProbeScript{std::move(calls), std::move(byStride), {}, {}, {}};
  return probeLineSizeWith(8388608, cpuClass, scriptedPass, recordSleep);
}

// Best times `atStride8` at stride 8 and `later` at every stride after it.
std::map<u32, std::uint64_t> times(std::uint64_t atStride8, std::uint64_t later) {
  return {{8, atStride8}, {16, later}, {32, later}, {64, later}, {128, later}, {256, later}};
}
std::map<u32, std::uint64_t> flat(std::uint64_t ticks) { return times(ticks, ticks); }

TEST(CacheFigures, LineProbeFindsTheStrideBeforeTheTimeFalls) {
  // The time halves from stride 64 to 128: 64-byte lines.
  EXPECT_EQ(probe({{8, 1000}, {16, 1000}, {32, 1000}, {64, 1000}, {128, 500}}), 64u);
  EXPECT_EQ(script.sleeps, std::vector<u32>{50});
  ASSERT_EQ(script.seenStrides.size(), 100u);  // twenty passes at each of five strides
  for (std::size_t k = 0; k < 100; ++k) {
    EXPECT_EQ(script.seenStrides[k], 8u << (k / 20)) << "pass " << k;
    EXPECT_EQ(script.seenLengths[k], 8388608u) << "pass " << k;
  }
  // Stride 256 is the last one tried.
  EXPECT_EQ(probe({{8, 900}, {16, 900}, {32, 900}, {64, 900}, {128, 900}, {256, 500}}), 128u);
}

TEST(CacheFigures, LineProbeThresholds) {
  const struct {
    const char* what;
    std::uint64_t atStride8, later;
    u8 cpuClass;
    u32 line;
  } cases[] = {
      {"fast already at stride 8", 160, 160, 0, 4},
      {"just too slow at stride 8, never falling", 161, 161, 0, 256},
      // Nine sixteenths of 1000, truncated at each step: 500 + 62 = 562.
      {"class 0 at 9/16", 1000, 562, 0, 8},
      {"class 0 above 9/16", 1000, 563, 0, 256},
      {"class 1 uses 9/16", 1000, 625, 1, 256},
      // Five eighths of 1000: 500 + 125 = 625.
      {"class 2 at 5/8", 1000, 625, 2, 8},
      {"class 2 above 5/8", 1000, 626, 2, 256},
      // Truncating at each step: 1001 gives 500 + 62 = 562, below 1001 × 9/16 = 563; 1007 gives
      // 503 + 125 = 628, below 1007 × 5/8 = 629.
      {"class 0 truncates each step", 1001, 563, 0, 256},
      {"class 2 truncates each step", 1007, 629, 2, 256},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(probe(times(c.atStride8, c.later), c.cpuClass), c.line) << c.what;
  }
}

// Twenty pass times for stride 8, all 1000 except the ones given.
std::vector<std::uint64_t> stride8Passes(std::map<int, std::uint64_t> except) {
  std::vector<std::uint64_t> passes(20, 1000);
  for (const auto& [pass, ticks] : except) passes[pass - 1] = ticks;
  return passes;
}

TEST(CacheFigures, LineProbeUsesPassesFourToNineteenAndRepeatsOverflowingOnes) {
  constexpr std::uint64_t OVERFLOW_TICKS = 0x100000005ull;  // 5 if cut to 32 bits
  const struct {
    const char* what;
    std::vector<std::uint64_t> calls;
    u32 line;
    std::size_t stride8Calls;
  } cases[] = {
      {"first three and last passes fast", stride8Passes({{1, 100}, {2, 100}, {3, 100}, {20, 100}}),
       256, 20},
      {"fourth pass fast", stride8Passes({{4, 100}}), 4, 20},
      {"nineteenth pass fast", stride8Passes({{19, 100}}), 4, 20},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(probe(flat(1000), 0, c.calls), c.line) << c.what;
    EXPECT_EQ(std::count(script.seenStrides.begin(), script.seenStrides.end(), 8u),
              static_cast<std::ptrdiff_t>(c.stride8Calls))
        << c.what;
  }

  // An overflowing first pass is repeated, so the fast passes 2..4 of the script are still the
  // three warm-up passes; an overflowing pass in the middle is not taken as 5 ticks.
  std::vector<std::uint64_t> calls = stride8Passes({{1, 100}, {2, 100}, {3, 100}, {20, 100}});
  calls.insert(calls.begin() + 10, OVERFLOW_TICKS);
  calls.insert(calls.begin(), OVERFLOW_TICKS);
  EXPECT_EQ(probe(flat(1000), 0, calls), 256u);
  EXPECT_EQ(std::count(script.seenStrides.begin(), script.seenStrides.end(), 8u), 22);
}

// A counter that jumps on every read (or a pass always interrupted) must not hold the probe
// for ever: each pass is tried at most LINE_PASS_TRIES times, then the probe gives up.
TEST(CacheFigures, LineProbeGivesUpOnPassesThatNeverFit32Bits) {
  const struct {
    const char* what;
    std::vector<std::uint64_t> calls;  // then every pass at 1000 ticks
    u32 line;
    std::size_t passesTried;
  } cases[] = {
      {"nine too long, then one fits", std::vector<std::uint64_t>(9, 1ull << 32), 256, 9 + 120},
      {"ten too long in a row", std::vector<std::uint64_t>(10, 1ull << 32), LINE_PROBE_FAILED, 10},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(probe(flat(1000), 0, c.calls), c.line) << c.what;
    EXPECT_EQ(script.seenStrides.size(), c.passesTried) << c.what;
  }
  // Every pass too long: the probe ends after ten tries instead of never.
  EXPECT_EQ(probe(flat(1ull << 33)), LINE_PROBE_FAILED);
  EXPECT_EQ(script.seenStrides.size(), 10u);
}

// --- Levels for the figures -------------------------------------------------------------------

void fillDropAt(CurveCopy& d, u32 firstSlow, u32 fast, u32 slow) {
  std::fill(std::begin(d), std::end(d), NO_POINT);
  for (u32 p = 0; p < CACHE_POINTS; ++p) d[p] = p < firstSlow ? fast : slow;
}

// The worker's figures build on its own analysis of the finished curves, never on what a painter
// left (which may be stale, or from a partial curve): the stored values are not even an input.
TEST(CacheFigures, LevelsComeFromTheFinishedCurves) {
  CurveCopy d, noLatency, latency;
  fillDropAt(d, 49, 40960000, 10240000);
  std::fill(std::begin(noLatency), std::end(noLatency), NO_POINT);
  // A latency curve whose L1 edge lies at point 38 (22 KiB): 32 KiB by either curve's rule would
  // need the same edge, so a different edge shows which curve decided.
  std::fill(std::begin(latency), std::end(latency), NO_POINT);
  for (u32 p = 0; p < CACHE_POINTS; ++p) latency[p] = p < 38 ? 400 : 1200;

  CacheLevels got = CACHE_LEVELS_UNSET;
  EXPECT_EQ(findL1Edge(d, noLatency, got), FigureSource::Bandwidth);
  EXPECT_EQ(got.l2Speed, 10240000u);
  EXPECT_EQ(got.l2ProbeSize, 55296u);
  EXPECT_EQ(got.l1Size, 32768u);

  got = CACHE_LEVELS_UNSET;
  EXPECT_EQ(findL1Edge(d, latency, got), FigureSource::Latency);
  EXPECT_EQ(got.l2ProbeSize, curvePointSize(48));
  EXPECT_EQ(got.l1Size, 32768u);
  EXPECT_EQ(got.l2Speed, 25600000u) << "read speeds of points 47 to 50, two on each side";

  // A curve that does not reach past its edge gives nothing usable.
  std::fill(std::begin(d), std::end(d), NO_POINT);
  got = CACHE_LEVELS_UNSET;
  EXPECT_EQ(findL1Edge(d, noLatency, got), FigureSource::Unset);
  EXPECT_FALSE(cacheLevelsUsable(got.l2ProbeSize, got.l1Size));
}

// --- Line size by pairs of dependent loads ---------------------------------------------------

// A cache of `line`-byte lines for the pair chain, walked one lap: a load in the line of the load
// before costs 1 (it is in the first level), any other 4; a prefetcher brings lines in with each
// load that the walk then finds at cost 1.
enum class Prefetch { None, Pair128, NextLine, LineBelow, Both };
struct PairModel {
  u32 line = 64;
  Prefetch prefetch = Prefetch::None;
  bool flat = false;  // every load costs the same: a machine without caches to see
  std::vector<u32> steps;
};
PairModel model;

u32 modelledPairs(u32 regionBytes, u32 step) {
  model.steps.push_back(step);
  const u32 slots = regionBytes / 512;
  std::vector<u8> area(regionBytes);
  const std::uintptr_t address = 0x10000;
  u32 offset = buildLinePairChain(area.data(), address, slots, 512, step);
  std::vector<u32> near;  // lines the first level holds besides the last one loaded
  u32 last = 0xFFFFFFFF, cost = 0;
  for (u32 k = 0; k < 2 * slots; ++k) {
    const u32 line = offset / model.line;
    const bool hit = line == last || std::find(near.begin(), near.end(), line) != near.end();
    cost += model.flat || hit ? 1 : 4;
    near.clear();
    const u32 bytes = offset / 64 * 64;  // the 64-byte line a prefetcher works with
    if (model.prefetch == Prefetch::Pair128) near.push_back((bytes ^ 64) / model.line);
    if (model.prefetch == Prefetch::NextLine || model.prefetch == Prefetch::Both)
      near.push_back((bytes + 64) / model.line);
    if (model.prefetch == Prefetch::LineBelow || model.prefetch == Prefetch::Both)
      near.push_back((bytes - 64) / model.line);
    last = line;
    std::uintptr_t next;
    std::memcpy(&next, area.data() + offset, sizeof next);
    offset = static_cast<u32>(next - address);
  }
  return cost * 256 / (2 * slots);
}

TEST(CacheFigures, LineSizeByPairsSeesTheLineWhatEverIsPrefetched) {
  const struct {
    u32 line;
    Prefetch prefetch;
    bool flat;
    u32 found;
  } cases[] = {
      {64, Prefetch::None, false, 64},      {64, Prefetch::Pair128, false, 64},
      {64, Prefetch::NextLine, false, 64},  {64, Prefetch::LineBelow, false, 64},
      {32, Prefetch::None, false, 32},      {32, Prefetch::NextLine, false, 32},
      {16, Prefetch::None, false, 16},      {128, Prefetch::None, false, 64},
      // Nothing to tell the steps apart: the strided passes must decide.
      {64, Prefetch::Both, false, LINE_PROBE_FAILED},
      {64, Prefetch::None, true, LINE_PROBE_FAILED},
  };
  for (const auto& c : cases) {
    model = {c.line, c.prefetch, c.flat, {}};
    EXPECT_EQ(lineSizeByPairs(64 * 512, modelledPairs), c.found)
        << "line " << c.line << ", prefetch " << static_cast<int>(c.prefetch);
  }
  // A slow walk at a small step alone, in either round, is no boundary.
  static int calls;
  for (int slowCall : {2, 6}) {  // step 16 in the first round, in the second
    calls = 0;
    static int slow;
    slow = slowCall;
    EXPECT_EQ(lineSizeByPairs(64 * 512,
                              [](u32, u32 step) {
                                ++calls;
                                return calls == slow ? 900u : step >= 64 ? 512u : 256u;
                              }),
              64u)
        << "slow call " << slowCall;
  }
  // A step that cannot be measured ends the probe.
  model = {64, Prefetch::None, false, {}};
  EXPECT_EQ(lineSizeByPairs(64 * 512, [](u32, u32 step) { return step == 16 ? NO_POINT : 256u; }),
            LINE_PROBE_FAILED);
  EXPECT_EQ(lineSizeByPairs(64 * 512, [](u32, u32) { return 0u; }), LINE_PROBE_FAILED);
}

// --- L2 size and installed memory -------------------------------------------------------------

// The L2 size where no latency curve was measured: the first fall to three quarters of l2Speed.
u32 l2SizeKiB(const CurveCopy& d, u8 cpuClass, u32 l2Speed, u32 l1Size) {
  CurveCopy unprobed;
  clearCurveCopy(unprobed);
  return l2Figure(d, unprobed, cpuClass, {l2Speed, 0, l1Size}).kib;
}

TEST(CacheFigures, L2SizeRule) {
  constexpr u32 L2 = 1000000;  // l2Speed; three quarters of it is 750000
  const struct {
    const char* what;
    u32 firstSlow;  // first point from 8 on at or below 750000, 160 for none
    u32 slowSpeed;
    u8 cpuClass;
    u32 l1Size;
    u32 kib;
  } cases[] = {
      // 576 KiB less 64 KiB, to 512 KiB: k 512, x 768.
      {"class 1, 64 KiB L1, drop at 576 KiB", 114, 700000, 1, 65536, 512},
      {"class 0, 64 KiB L1, drop at 576 KiB", 114, 700000, 0, 65536, 512},
      // 672 KiB: class 0 gives 704 KiB (x 1056), class 1 less 64 KiB 640 KiB (x 960).
      {"class 0, drop at 672 KiB", 117, 700000, 0, 65536, 1024},
      {"class 1, drop at 672 KiB", 117, 700000, 1, 65536, 512},
      {"exactly at three quarters", 117, 750000, 0, 65536, 1024},
      // A size caches have that is not a power of two, where the fall comes right after it.
      {"class 0, drop at 1344 KiB", 133, 700000, 0, 65536, 1280},
      {"class 0, drop at 1280 KiB", 132, 700000, 0, 65536, 1280},
      {"class 0, drop at 1216 KiB", 131, 700000, 0, 65536, 1024},
      {"class 0, drop at 1408 KiB", 134, 700000, 0, 65536, 2048},
      {"class 1, drop at 1344 KiB less 64 KiB", 133, 700000, 1, 65536, 1280},
      {"class 1, drop at 1280 KiB less 64 KiB", 132, 700000, 1, 65536, 1024},
      {"class 0, drop at 1600 KiB", 137, 700000, 0, 65536, 1536},
      {"class 0, drop at 3200 KiB", 153, 700000, 0, 65536, 3072},
      {"class 0, drop at 640 KiB: no such L2", 116, 700000, 0, 65536, 512},
      {"no drop: from 4 MiB", 160, 0, 0, 32768, 4096},
      {"above three quarters: from 4 MiB", 117, 750001, 0, 32768, 4096},
      // Unmeasured entries are all ones, above any limit in an unsigned comparison.
      {"unmeasured tail: from 4 MiB", 117, NO_POINT, 0, 32768, 4096},
      {"l1 size unset", 117, 700000, 0, 0, 0},
  };
  for (const auto& c : cases) {
    CurveCopy d;
    fillDropAt(d, c.firstSlow, L2, c.slowSpeed);
    d[5] = 1000;  // points below 8 are not searched
    EXPECT_EQ(l2SizeKiB(d, c.cpuClass, L2, c.l1Size), c.kib) << c.what;
  }
}

// A fall at 6 KiB behind an L1 taken as 2 MiB (a curve without an L1 edge and a dip at its
// start): class 1 subtracts the L1 from the size, which wrapped below zero and showed 4194304K.
// The subtraction stops at zero, where class 0's rounding already ends.
TEST(CacheFigures, L2SizeNeverWrapsBelowZero) {
  const struct {
    const char* what;
    u32 firstSlow;
    u8 cpuClass;
    u32 l1Size;
    u32 kib;
  } cases[] = {
      {"class 1, fall within half an L1 of the start", 8, 1, 2097152, 1},
      {"class 0, the same fall", 8, 0, 2097152, 1},
      {"class 1, fall at exactly half an L1", 112, 1, 1048576, 1},
      {"class 1, fall one L1 and a half out", 136, 1, 1048576, 1024},
  };
  for (const auto& c : cases) {
    CurveCopy d;
    fillDropAt(d, c.firstSlow, 1000000, 700000);
    EXPECT_EQ(l2SizeKiB(d, c.cpuClass, 1000000, c.l1Size), c.kib) << c.what;
    EXPECT_EQ(l2SizeAtPointKiB(c.firstSlow, c.cpuClass, c.l1Size), c.kib) << c.what;
  }
}

TEST(CacheFigures, InstalledMemoryRoundsUpToTheNextMultipleOf8MiB) {
  constexpr std::uint64_t MIB = 1 << 20;
  const struct {
    std::uint64_t bytes;
    u32 mib;
  } cases[] = {
      {1023 * MIB + MIB / 2, 1024},
      {1024 * MIB, 1032},
      {1024 * MIB - 1, 1024},
      {2047 * MIB, 2048},
      {24 * 1024 * MIB, 24584},  // above what a 32-bit byte count holds
      {4096 * MIB, 4104},
      {0, 0},  // the memory status call failed: no figure, where rounding up would give 8
  };
  for (const auto& c : cases) {
    EXPECT_EQ(installedMemoryMiB(c.bytes), c.mib) << c.bytes << " bytes";
  }
}

// --- Fill code ---------------------------------------------------------------------------------

TEST(CacheFigures, FillModeText) {
  const FieldText shown = fillModeText(0x1A2B);
  EXPECT_EQ(shown.controlId, 130u);
  EXPECT_STREQ(shown.text, "    1A2B");
}

}  // namespace
}  // namespace vardelo
