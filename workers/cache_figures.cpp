#include "workers/cache_figures.h"

#include "core/processor.h"
#include "workers/cache_edges.h"
#include "workers/cache_geometry.h"

namespace vardelo {

ReadVariantChoice chooseReadVariant(std::span<const u32> speeds) {
  ReadVariantChoice choice{0, 0};
  for (u8 variant = 0; variant < speeds.size(); ++variant) {
    if (static_cast<i32>(speeds[variant]) >= static_cast<i32>(choice.cacheMax)) {
      choice = {variant, speeds[variant]};
    }
  }
  return choice;
}

namespace {

constexpr u32 FIRST_STRIDE = 8;
constexpr u32 LAST_STRIDE = 256;
// A best pass of at most 160 ticks at stride 8 is too short to show a line boundary.
constexpr u32 FIRST_THRESHOLD_TICKS = 160;
constexpr int PASSES_PER_STRIDE = 20;
constexpr int WARM_UP_PASSES = 3;
constexpr u32 LINE_PROBE_PAUSE_MS = 50;  // before the first pass

// One pass whose time fits 32 bits; a longer one (an interrupt, a counter jump) is repeated, up
// to LINE_PASS_TRIES times in a row. Returns false when every try was too long (a counter that
// jumps on every read, say), rather than trying for ever.
bool timedPass(u32 lengthBytes, u32 strideBytes, LinePassTicks passTicks, u32& ticks) {
  for (int tries = 0; tries < LINE_PASS_TRIES; ++tries) {
    const std::uint64_t t = passTicks(lengthBytes, strideBytes);
    if (t <= 0xFFFFFFFFu) {
      ticks = static_cast<u32>(t);
      return true;
    }
  }
  return false;
}

// The best time of passes 4 to 19 of twenty, or false if a pass could not be timed.
bool bestPassTicks(u32 lengthBytes, u32 strideBytes, LinePassTicks passTicks, u32& best) {
  best = BAD_SAMPLE;
  for (int pass = 1; pass <= PASSES_PER_STRIDE; ++pass) {
    u32 ticks = 0;
    if (!timedPass(lengthBytes, strideBytes, passTicks, ticks)) return false;
    // The first passes warm the caches up; the last one is made but not used.
    if (pass > WARM_UP_PASSES && pass < PASSES_PER_STRIDE && ticks < best) best = ticks;
  }
  return true;
}

}  // namespace

u32 probeLineSizeWith(u32 lengthBytes, u8 cpuClass, LinePassTicks passTicks, SleepMs sleep) {
  sleep(LINE_PROBE_PAUSE_MS);
  u32 threshold = FIRST_THRESHOLD_TICKS;
  for (u32 stride = FIRST_STRIDE; stride <= LAST_STRIDE; stride *= 2) {
    u32 best = 0;
    if (!bestPassTicks(lengthBytes, stride, passTicks, best)) return LINE_PROBE_FAILED;
    // Below the line size a doubling still fetches every line; past it, each doubling halves
    // the lines fetched and the time with them. The first such drop marks the previous stride.
    if (best <= threshold) return stride / 2;
    const u32 half = best / 2;
    threshold = cpuClass == CLASS_INTEL_FAMILY15 ? half + half / 4 : half + half / 8;
  }
  return LAST_STRIDE;
}

u32 lineSizeByPairs(u32 regionBytes, PairChaseTicks chase) {
  // Steps 8, 16, 32 and 64, measured in two rounds, each step's faster one counting: a walk that
  // something else on the machine slowed down must not look like a line boundary.
  constexpr int STEPS = 4;
  u32 best[STEPS];
  for (int round = 0; round < LINE_PAIR_ROUNDS; ++round) {
    for (int i = 0; i < STEPS; ++i) {
      const u32 t = chase(regionBytes, FIRST_STRIDE << i);
      if (t == 0 || t == NO_POINT) return LINE_PROBE_FAILED;
      best[i] = round == 0 || t < best[i] ? t : best[i];
    }
  }
  // The line: the smallest step from which on every step takes the longer time.
  const auto crosses = [&](int i) {
    return std::uint64_t{best[i]} * 100 >= std::uint64_t{best[0]} * LINE_PAIR_CROSS_PERCENT;
  };
  if (!crosses(STEPS - 1)) return LINE_PROBE_FAILED;
  int first = STEPS - 1;
  while (first > 1 && crosses(first - 1)) --first;
  return FIRST_STRIDE << first;
}

bool cacheLevelsUsable(u32 l2ProbeSize, u32 l1Size) {
  return l2ProbeSize != L2_PROBE_SIZE_UNSET && l1Size != 0;
}

namespace {

// Where the L2 searches start: point 8, 6 KiB.
constexpr u32 EDGE_SEARCH_FIRST = 8;

// Class 1's L2 holds no copy of the L1, so its edge lies one L1 further out than its size.
u32 exclusiveL1(u8 cpuClass, u32 l1Size) { return cpuClass == CLASS_AMD_FAMILY6_UP ? l1Size : 0; }

}  // namespace

u32 l2SizeAtPointKiB(u32 point, u8 cpuClass, u32 l1Size) {
  if (l1Size == 0) return 0;
  // The subtraction stops at zero: a fall within half an L1 of the start (a dip in the L1 part
  // of the curve) would otherwise wrap to a size near 4 GiB.
  const u32 adjust = exclusiveL1(cpuClass, l1Size);
  const u32 halfUp = curvePointSize(point) + l1Size / 2;
  const u32 rounded = halfUp > adjust ? (halfUp - adjust) / l1Size * l1Size : 0;
  const u32 kib = rounded / 1024;
  return highestPowerOfTwoNotAbove(kib + kib / 2);
}

u32 l2SizeShownKiB(u32 point, u8 cpuClass, u32 l1Size) {
  const u32 adjust = exclusiveL1(cpuClass, l1Size);
  if (l1Size != 0 && point > EDGE_SEARCH_FIRST && point < CACHE_POINTS &&
      curvePointSize(point - 1) > adjust) {
    const u32 size = knownSizeBetween(SECOND_LEVEL_SIZES, curvePointSize(point - 1) - adjust,
                                      curvePointSize(point) - adjust);
    if (size != 0) return size / 1024;
  }
  return l2SizeAtPointKiB(point, cpuClass, l1Size);
}

namespace {

// The first point from 8 on at or below three quarters of l2Speed; 160 for none.
u32 l2EdgeByThreshold(const CurveCopy& dcache, u32 l2Speed) {
  const u32 limit = l2Speed - l2Speed / 4;
  u32 p = EDGE_SEARCH_FIRST;
  while (p < CACHE_POINTS && dcache[p] > limit) ++p;
  return p;
}

}  // namespace

L2Figure l2Figure(const CurveCopy& dcache, const CurveCopy& latency, u8 cpuClass,
                  const CacheLevels& levels) {
  if (levels.l1Size == 0) return {0, FigureSource::SweepEnd};
  if (!latencyMeasured(latency)) {
    const u32 p = l2EdgeByThreshold(dcache, levels.l2Speed);
    return {l2SizeShownKiB(p, cpuClass, levels.l1Size),
            p < CACHE_POINTS ? FigureSource::Bandwidth : FigureSource::SweepEnd};
  }
  const L2Edge edge = findL2Edge(dcache, latency, levels);
  // The latency's halfway point is no measure of a size to 1/16 octave: page walks lengthen the
  // loads past the L2 as well (seen: a 1 MiB L2 crossing at 1280 KiB).
  return {edge.source == FigureSource::Bandwidth
              ? l2SizeShownKiB(edge.point, cpuClass, levels.l1Size)
              : l2SizeAtPointKiB(edge.point, cpuClass, levels.l1Size),
          edge.source};
}

u32 installedMemoryMiB(std::uint64_t totalBytes) {
  if (totalBytes == 0) return 0;  // the system did not say
  const std::uint64_t mib = totalBytes >> 20;
  return static_cast<u32>((mib + 8) & ~std::uint64_t{7});
}

FieldText fillModeText(u32 fillMode) { return fieldText(FIELD_FILL_MODE, "%8lX", fillMode); }

}  // namespace vardelo
