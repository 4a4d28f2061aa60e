#include "workers/cache_worker.h"

#include "core/constants.h"
#include "core/text_format.h"
#include "kernels/ram_loop.h"
#include "platform/platform.h"
#include "workers/cache_analysis.h"
#include "workers/cache_geometry.h"
#include "workers/sweep_exclusion.h"

namespace vardelo {
namespace {

constexpr u32 CACHE_PAGE = 0;

void sendField(const FieldText& field) {
  platform::setPageText(CACHE_PAGE, field.controlId, field.text);
}

void clearCurves() {
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) {
    bench.dcacheCurve[i].store(NO_POINT);
    bench.icacheCurve[i].store(NO_POINT);
  }
}

// Stores point i and counts the change; a new maximum (equality counts) rescales the chart.
void storePoint(CacheCurve& curve, u32 i, u32 speed) {
  curve[i].store(speed);
  bench.cacheDirty.fetch_add(1);
  if (speed >= bench.cacheMax.load()) {
    bench.cacheMax.store(speed);
    bench.cacheNewMax.fetch_add(1);
    bench.cacheDirty.fetch_add(1);
  }
}

void sweepCurve(const CacheOps& ops, u32 kind, CacheCurve& curve) {
  for (u32 i = 0; i < CACHE_POINTS; ++i) storePoint(curve, i, ops.measure(kind, sweepBlockSize(i)));
}

void chooseReadMode(const CacheOps& ops) {
  u32 speeds[3];
  for (u8 variant = 0; variant < 3; ++variant) {
    bench.readMode.store(variant);
    speeds[variant] = ops.measure(0, READ_VARIANT_BYTES);
  }
  const ReadVariantChoice choice = chooseReadVariant(speeds);
  bench.readMode.store(choice.readMode);
  bench.cacheMax.store(choice.cacheMax);
}

// The values of the curve analysis the figures build on. The painter normally has them; if the
// cache page was not on view, the same analysis runs here on the finished data curve, and its
// values are published as the painter would have.
CacheLevels levelsForFigures() {
  const CacheLevels stored{bench.l2Speed.load(), bench.l2ProbeSize.load(), bench.l1Size.load()};
  CurveCopy dcache;
  copyCurve(bench.dcacheCurve, dcache);
  const CacheLevels levels = cacheLevelsForFigures(dcache, stored);
  if (!cacheLevelsUsable(stored.l2ProbeSize, stored.l1Size) &&
      cacheLevelsUsable(levels.l2ProbeSize, levels.l1Size)) {
    bench.l2Speed.store(levels.l2Speed);
    bench.l2ProbeSize.store(levels.l2ProbeSize);
    bench.l1Size.store(levels.l1Size);
  }
  return levels;
}

u32 probeLineSize(const CacheOps& ops, u32 lengthBytes) {
  return probeLineSizeWith(lengthBytes, bench.cpuClass.load(), ops.linePass, platform::sleepMs);
}

void deriveFigures(const CacheOps& ops) {
  const CacheLevels levels = levelsForFigures();
  const bool usable = cacheLevelsUsable(levels.l2ProbeSize, levels.l1Size);
  // Without the analysis values neither the L2 line probe (its end would wrap) nor the L2 size
  // (it divides by l1Size) can run; their fields keep their texts.
  if (usable) sendField(l2LineText(probeLineSize(ops, levels.l2ProbeSize)));

  // Main memory. Where the caches could hold the first 8 MiB, the probe and the speed use
  // flushed windows of the span instead.
  const bool cold = ramWalksAreCold() && ops.ramLinePass != nullptr && ops.mainMemoryRead != nullptr;
  const u32 line = probeLineSizeWith(RAM_PROBE_BYTES, bench.cpuClass.load(),
                                     cold ? ops.ramLinePass : ops.linePass, platform::sleepMs);
  bench.lineSize.store(static_cast<i32>(line));
  sendField(ramLineText(line));
  if (cold) {
    const u32 speed = ops.mainMemoryRead();
    bench.ramReadSpeed.store(speed);
    if (speed / 1024 != 0) sendField(ramSpeedText(speed));
  }

  if (usable) {
    CurveCopy dcache;
    copyCurve(bench.dcacheCurve, dcache);
    sendField(l2SizeText(l2SizeKiB(dcache, bench.cpuClass.load(), levels.l2Speed, levels.l1Size)));
  }
  sendField(memoryText(installedMemoryMiB(platform::totalPhysicalMemoryBytes())));
}

}  // namespace

void cacheWorkerStart() {
  platform::setThreadAffinity(1);
  bench.cacheRedraw.fetch_add(1);
}

void cacheSweep(const CacheOps& ops) {
  while (!tryBeginCacheSweep()) platform::sleepMs(CACHE_WAIT_MS);
  platform::selectTab(CACHE_PAGE);
  platform::postToMainDialog(UM_SHOW_TAB);
  bench.cacheRestart.store(0);
  clearCurves();

  chooseReadMode(ops);
  platform::sleepMs(CACHE_PAUSE_MS);
  sweepCurve(ops, 0, bench.dcacheCurve);
  bench.cacheRedraw.fetch_add(1);

  deriveFigures(ops);
  ops.searchFill();
  sendField(fillModeText(bench.fillMode.load()));
  platform::sleepMs(CACHE_PAUSE_MS);
  sweepCurve(ops, 1, bench.icacheCurve);
  endCacheSweep();
}

bool cacheIdleTurn() {
  platform::sleepMs(CACHE_IDLE_MS);
  return bench.cacheRestart.load() != 0;
}

void cacheWorkerRun(const CacheOps& ops) {
  cacheWorkerStart();
  for (;;) {
    cacheSweep(ops);
    while (!cacheIdleTurn()) {
    }
  }
}

}  // namespace vardelo
