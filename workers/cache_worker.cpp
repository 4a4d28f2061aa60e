#include "workers/cache_worker.h"

#include "core/constants.h"
#include "core/pages.h"
#include "core/processor.h"
#include "core/text_format.h"
#include "kernels/block_read_features.h"
#include "kernels/cache_loop.h"
#include "kernels/ram_loop.h"
#include "platform/platform.h"
#include "workers/cache_analysis.h"
#include "workers/cache_figures.h"
#include "workers/cache_geometry.h"
#include "workers/fill_progress.h"
#include "workers/l3_probe.h"
#include "workers/sweep_exclusion.h"

namespace vardelo {
namespace {

void sendField(const FieldText& field) {
  platform::setPageText(PAGE_CACHE, field.controlId, field.text);
}

void clearCurves() {
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) {
    bench.results.dcacheCurve[i].store(NO_POINT);
    bench.results.icacheCurve[i].store(NO_POINT);
    bench.results.latencyCurve[i].store(NO_POINT);
  }
  bench.results.farLatencies.store(FarLatencies{});
}

// The curve figures from the curves as they stand, over the figures derived so far.
void publishCurveFigures() {
  CurveCopy dcache, icache, latency;
  copyCurve(bench.results.dcacheCurve, dcache);
  copyCurve(bench.results.icacheCurve, icache);
  copyCurve(bench.results.latencyCurve, latency);
  bench.results.cacheFigures.store(
      deriveCacheFigures(dcache, icache, latency, bench.machine.cpuClass.load(),
                         bench.measuring.ramReadSpeed.load(), bench.results.cacheFigures.load()));
}

// Stores point i, derives the figures anew and counts the change; a new maximum (equality
// counts) rescales the chart.
void storePoint(CacheCurve& curve, u32 i, u32 speed) {
  curve[i].store(speed);
  publishCurveFigures();
  bench.protocol.cacheDirty.fetch_add(1);
  if (speed >= bench.results.cacheMax.load()) {
    bench.results.cacheMax.store(speed);
    bench.protocol.cacheNewMax.fetch_add(1);
    bench.protocol.cacheDirty.fetch_add(1);
  }
}

void sweepCurve(const CacheOps& ops, u32 kind, CacheCurve& curve) {
  for (u32 i = 0; i < CACHE_POINTS; ++i) storePoint(curve, i, ops.measure(kind, sweepBlockSize(i)));
}

// The latency of each block size of the data curve: the lowest of LATENCY_PASSES passes over
// all sizes, upwards and downwards in turn. Whatever else runs on the core (or on its
// other hardware thread, sharing its caches) only ever lengthens a load, and it comes and goes:
// passes in turns meet it at different sizes. The curve is not drawn; the figures are derived
// with it at the end, and one change is counted so that the page shows them.
void probeLatencies(const CacheOps& ops) {
  if (ops.latency == nullptr) return;
  for (u32 pass = 0; pass < LATENCY_PASSES; ++pass) {
    for (u32 k = 0; k < CACHE_POINTS; ++k) {
      const u32 i = pass % 2 == 0 ? k : CACHE_POINTS - 1 - k;
      const u32 latency = ops.latency(sweepBlockSize(i));
      if (pass == 0 || latency < bench.results.latencyCurve[i].load())
        bench.results.latencyCurve[i].store(latency);
    }
  }
  publishCurveFigures();
  bench.protocol.cacheDirty.fetch_add(1);
}

// The three classic widths are always timed (one the processor lacks times as BAD_SAMPLE and
// loses); a wide one only where the processor and the system allow it, so that elsewhere the
// choice, and the time it takes, stay what they were.
void chooseReadMode(const CacheOps& ops) {
  u32 speeds[READ_VARIANT_COUNT];
  for (u8 variant = 0; variant < READ_VARIANT_COUNT; ++variant) {
    if (variant > READ_SSE128 && !readVariantAvailable(variant)) {
      speeds[variant] = NO_POINT;
      continue;
    }
    bench.measuring.readMode.store(variant);
    speeds[variant] = ops.measure(CACHE_KIND_DATA, READ_VARIANT_BYTES);
  }
  const ReadVariantChoice choice = chooseReadVariant(speeds);
  bench.measuring.readMode.store(choice.readMode);
  bench.results.cacheMax.store(choice.cacheMax);
}

// The line size of a level: by pairs of dependent loads where they show one, else by the
// strided passes. Class 2's lines are 128 bytes, which the pairs (whose step of 64 always leaves a
// 128-byte pair) cannot show: the strided passes alone measure them.
u32 probeLineSize(PairChaseTicks pairs, u32 regionBytes, LinePassTicks passes, u32 passBytes) {
  const u8 cpuClass = bench.machine.cpuClass.load();
  if (pairs != nullptr && cpuClass != CLASS_INTEL_FAMILY15) {
    const u32 line = lineSizeByPairs(regionBytes, pairs);
    if (line != LINE_PROBE_FAILED) return line;
  }
  return probeLineSizeWith(passBytes, cpuClass, passes, platform::sleepMs);
}

// The L3, where the latency curve shows a level after the L2: its size from the latency of
// blocks beyond the sweep's, its speed from reading a block inside it. A sweep that finds none
// unsets the figures an earlier one found.
void probeL3(const CacheOps& ops, const CurveCopy& latency, u32 l2ProbeSize, CacheFigures& f) {
  if (ops.farLatency == nullptr) return;
  const u32 started = platform::millisecondsNow();
  L3Probe probe = probeL3With(latency, l2ProbeSize, f.l2Size.value,
                              bench.machine.testAreaBytes.load(), ops.farLatency);
  f.l3Size = f.l3Speed = Figure{};
  if (probe.sizeBytes != 0) {
    f.l3Size = figure(probe.sizeBytes, FigureSource::Latency);
    const u32 block = l3SpeedBlockBytes(probe.sizeBytes, f.l2Size.value);
    f.l3Speed = figure(ops.measure(CACHE_KIND_DATA, block), FigureSource::Bandwidth);
  }
  probe.measured.probeMs = platform::millisecondsNow() - started;
  bench.results.farLatencies.store(probe.measured);
}

// The figures measured after the data sweep: the line sizes, the main-memory speed from flushed
// memory, the L2 and L3 sizes and the installed memory. They build on the L1 edge of the finished
// data and latency curves, derived here afresh: figures of an earlier sweep must not stand in for
// it. Without it neither the L2 line probe (its end would wrap) nor the L2 size (it divides by
// l1Size) can run, and those figures keep their values.
void deriveFigures(const CacheOps& ops) {
  CurveCopy dcache, latency;
  copyCurve(bench.results.dcacheCurve, dcache);
  copyCurve(bench.results.latencyCurve, latency);
  CacheLevels levels = CACHE_LEVELS_UNSET;
  findL1Edge(dcache, latency, levels);
  const bool usable = cacheLevelsUsable(levels.l2ProbeSize, levels.l1Size);
  const u8 cpuClass = bench.machine.cpuClass.load();
  CacheFigures f = bench.results.cacheFigures.load();
  if (usable) {
    f.l2Line =
        figure(probeLineSize(ops.pairChase, levels.l2ProbeSize, ops.linePass, levels.l2ProbeSize),
               FigureSource::LineProbe);
  }

  // Main memory. Where the caches could hold the first 8 MiB, the probe and the speed use
  // flushed windows of the span instead. A probe that could not time its passes leaves
  // lineSize, which the RAM kernels use, as it was.
  const bool cold =
      ramWalksAreCold() && ops.ramLinePass != nullptr && ops.mainMemoryRead != nullptr;
  const u32 line = probeLineSize(ops.ramPairChase, RAM_PROBE_BYTES,
                                 cold ? ops.ramLinePass : ops.linePass, RAM_PROBE_BYTES);
  if (line != LINE_PROBE_FAILED) bench.measuring.lineSize.store(static_cast<i32>(line));
  f.ramLine = figure(line, FigureSource::LineProbe);
  if (cold) bench.measuring.ramReadSpeed.store(ops.mainMemoryRead());

  if (usable) {
    const L2Figure l2 = l2Figure(dcache, latency, cpuClass, levels);
    f.l2Size = figure(l2.kib * 1024, l2.source);
    probeL3(ops, latency, levels.l2ProbeSize, f);
  }
  f.installedMemory =
      figure(installedMemoryMiB(platform::totalPhysicalMemoryBytes()), FigureSource::System);
  bench.results.cacheFigures.store(f);
  publishCurveFigures();  // the main-memory speed, where it was measured just now
  bench.protocol.cacheDirty.fetch_add(1);
}

}  // namespace

void cacheWorkerStart() {
  platform::setThreadAffinity(PROCESSOR_0_MASK);
  bench.protocol.cacheRedraw.fetch_add(1);
}

void cacheSweep(const CacheOps& ops) {
  while (!tryBeginCacheSweep()) platform::sleepMs(CACHE_WAIT_MS);
  platform::selectTab(PAGE_CACHE);
  platform::postToMainDialog(UM_SHOW_TAB);
  bench.protocol.cacheRestart.store(0);
  clearCurves();
  if (ops.prepareArea != nullptr) ops.prepareArea();

  chooseReadMode(ops);
  platform::sleepMs(CACHE_PAUSE_MS);
  sweepCurve(ops, CACHE_KIND_DATA, bench.results.dcacheCurve);
  bench.protocol.cacheRedraw.fetch_add(1);
  probeLatencies(ops);

  deriveFigures(ops);
  ops.searchFill(FILL_PROGRESS_ON_PAGE);
  sendField(fillModeText(bench.measuring.fillMode.load()));
  platform::sleepMs(CACHE_PAUSE_MS);
  sweepCurve(ops, CACHE_KIND_CODE, bench.results.icacheCurve);
  endCacheSweep();
}

bool cacheIdleTurn() {
  platform::sleepMs(CACHE_IDLE_MS);
  return bench.protocol.cacheRestart.load() != 0;
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
