#include "workers/cache_figures.h"

#include "workers/cache_geometry.h"

namespace vardelo {

ReadVariantChoice chooseReadVariant(const u32 (&speeds)[3]) {
  ReadVariantChoice choice{0, 0};
  for (u8 variant = 0; variant < 3; ++variant) {
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

// One pass whose time fits 32 bits; a longer one (an interrupt, a counter jump) is repeated.
u32 timedPass(u32 lengthBytes, u32 strideBytes, LinePassTicks passTicks) {
  std::uint64_t ticks = passTicks(lengthBytes, strideBytes);
  while (ticks > 0xFFFFFFFFu) ticks = passTicks(lengthBytes, strideBytes);
  return static_cast<u32>(ticks);
}

u32 bestPassTicks(u32 lengthBytes, u32 strideBytes, LinePassTicks passTicks) {
  u32 best = BAD_SAMPLE;
  for (int pass = 1; pass <= PASSES_PER_STRIDE; ++pass) {
    const u32 ticks = timedPass(lengthBytes, strideBytes, passTicks);
    // The first passes warm the caches up; the last one is made but not used.
    if (pass > WARM_UP_PASSES && pass < PASSES_PER_STRIDE && ticks < best) best = ticks;
  }
  return best;
}

}  // namespace

u32 probeLineSizeWith(u32 lengthBytes, u8 cpuClass, LinePassTicks passTicks, SleepMs sleep) {
  sleep(50);
  u32 threshold = FIRST_THRESHOLD_TICKS;
  for (u32 stride = FIRST_STRIDE; stride <= LAST_STRIDE; stride *= 2) {
    const u32 best = bestPassTicks(lengthBytes, stride, passTicks);
    // Below the line size a doubling still fetches every line; past it, each doubling halves
    // the lines fetched and the time with them. The first such drop marks the previous stride.
    if (best <= threshold) return stride / 2;
    const u32 half = best / 2;
    threshold = cpuClass == 2 ? half + half / 4 : half + half / 8;
  }
  return LAST_STRIDE;
}

bool cacheLevelsUsable(u32 l2ProbeSize, u32 l1Size) {
  return l2ProbeSize != 0xFFFFFFFFu && l1Size != 0;
}

CacheLevels cacheLevelsForFigures(const CurveCopy& dcache, const CacheLevels& stored) {
  if (cacheLevelsUsable(stored.l2ProbeSize, stored.l1Size)) return stored;
  CacheLevels derived = stored;
  deriveCacheLevels(dcache, derived);
  return derived;
}

u32 l2SizeKiB(const CurveCopy& dcache, u8 cpuClass, u32 l2Speed, u32 l1Size) {
  if (l1Size == 0) return 0;
  const u32 adjust = cpuClass == 1 ? l1Size : 0;
  const u32 limit = l2Speed - l2Speed / 4;
  u32 p = 8;
  while (p < CACHE_POINTS && dcache[p] > limit) ++p;
  const u32 size = curvePointSize(p);
  const u32 rounded = (size + l1Size / 2 - adjust) / l1Size * l1Size;
  const u32 kib = rounded / 1024;
  return highestPowerOfTwoNotAbove(kib + kib / 2);
}

u32 installedMemoryMiB(std::uint64_t totalBytes) {
  const std::uint64_t mib = totalBytes >> 20;
  return static_cast<u32>((mib + 8) & ~std::uint64_t{7});
}

FieldText l2LineText(u32 lineBytes) {
  return lineBytes <= 8 ? fixedFieldText(FIELD_L2_LINE, "-")
                        : fieldText(FIELD_L2_LINE, "%3lubyts*", lineBytes);
}

FieldText ramLineText(u32 lineBytes) { return fieldText(FIELD_RAM_LINE, "%3lubyts", lineBytes); }

FieldText ramSpeedText(u32 speedKiBps) { return fieldText(FIELD_RAM_SPEED, " %5lu ", speedKiBps / 1024); }

FieldText l2SizeText(u32 kib) { return fieldText(FIELD_L2_SIZE, " %4luK ", kib); }

FieldText memoryText(u32 mib) { return fieldText(FIELD_MEMORY_SIZE, " %5luM ", mib); }

FieldText fillModeText(u32 fillMode) { return fieldText(FIELD_FILL_MODE, "%8lX", fillMode); }

}  // namespace vardelo
