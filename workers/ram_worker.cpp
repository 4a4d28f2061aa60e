#include "workers/ram_worker.h"

#include "core/pages.h"
#include "platform/platform.h"
#include "workers/ram_stats.h"
#include "workers/sweep_exclusion.h"

namespace vardelo {
namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Gap sweep geometry: entry k of a curve is the step (gap + block) RAM_FIRST_STEP + 32 k.
constexpr u32 STEP_BYTES_PER_ENTRY = 32;
constexpr u32 SWEPT_BYTES = 10240;  // points per curve: 10240 / block
constexpr int ENTRIES_PER_STORE = 8;

void clearCurves(RamCurveSet& curves) {
  for (RamCurve& curve : curves) {
    for (AtomicU32& entry : curve) entry.store(NO_POINT, relaxed);
    publishRamStats(curve);
  }
}

// Block 32 measures gap 0 and the odd multiples of 32 only; a skipped entry keeps the value that
// the point 32 bytes before stored over it.
bool skipped(u32 block, i32 gap) { return block == 32 && (gap & 32) == 0 && gap != 0; }

void sweepAllBlocks(RamCurveSet& curves, RamMeasureFn measure, RamPassKind kind) {
  for (int i = 0; i < RAM_BLOCK_KINDS; ++i) ramGapSweep(curves[i], RAM_BLOCK_BYTES[i], measure, kind);
}

// The start of a pass: mark it running and bring its page to the front.
void beginPass(u8 bit, u32 tab) {
  bench.protocol.ramBusy.fetch_or(bit);
  platform::sleepMs(RAM_IDLE_MS);
  platform::selectTab(tab);
  platform::postToMainDialog(UM_SHOW_TAB);
}

// Before the walks: touch the first page of the test area as code, settle, and ready the
// windows.
void prepareMeasuring(const RamOps& ops) {
  platform::callReturnAtTestArea();
  ops.settle();
  if (ops.prime != nullptr) ops.prime();
}

// The end of a pass: it no longer runs, then its request is served. A request made while the pass
// ran is absorbed here.
void endPass(u8 bit) {
  bench.protocol.ramBusy.fetch_and(static_cast<u8>(~bit));
  bench.protocol.ramRestart.fetch_and(static_cast<u8>(~bit));
}

}  // namespace

u32 ramReadSeed() {
  // Where the caches could hold the last points, the main-memory speed measured on its own.
  if (const u32 mainMemory = bench.measuring.ramReadSpeed.load(relaxed)) return mainMemory;
  // Wraps only past an average of 1 TiB/s, far above any cache this runs on.
  u32 sum = 0;
  for (int i = CACHE_POINTS - 4; i < CACHE_POINTS; ++i)
    sum += bench.results.dcacheCurve[i].load(relaxed);
  return sum >> 2;
}

void ramGapSweep(RamCurve& curve, u32 block, RamMeasureFn measure, RamPassKind kind) {
  platform::sleepMs(RAM_SWEEP_PAUSE_MS);
  const bool read = kind == RamPassKind::Read;
  AtomicU32& max = read ? bench.results.readMax : bench.results.writeMax;
  const u32 points = SWEPT_BYTES / block;
  const int entriesPerPoint = static_cast<int>(block / STEP_BYTES_PER_ENTRY);
  i32 gap = RAM_FIRST_STEP - static_cast<i32>(block);
  int entry = 0;

  for (u32 p = 0; p < points; ++p, gap += static_cast<i32>(block), entry += entriesPerPoint) {
    if (skipped(block, gap)) continue;
    const u32 value = measure(gap, block);
    // Eight entries from the point's own on: the following points overwrite theirs as they are
    // measured, so the curve drawn mid-sweep runs on a little past the latest point.
    for (int e = entry; e < entry + ENTRIES_PER_STORE && e < RAM_CURVE_ENTRIES; ++e)
      curve[e].store(value, relaxed);
    publishRamStats(curve);

    if (read) {
      bench.protocol.readDirty.fetch_add(1);
      bench.protocol.readRedraw.fetch_add(1);
    } else {
      bench.protocol.writeDirty.fetch_add(1);
    }
    if (value >= max.load(relaxed)) {  // equality counts as a new maximum
      max.store(value, relaxed);
      if (read)
        bench.protocol.readNewMax.fetch_add(1);
      else
        bench.protocol.writeDirty.fetch_add(1);
    }
  }
  for (int e = RAM_POINTS; e < RAM_CURVE_ENTRIES; ++e) curve[e].store(NO_POINT, relaxed);
}

void ramReadPass(const RamOps& ops) {
  beginPass(RAM_READ_BIT, PAGE_READ);
  clearCurves(bench.results.readCurves);
  bench.results.readMax.store(ramReadSeed(), relaxed);
  bench.protocol.readNewMax.fetch_add(1);
  prepareMeasuring(ops);
  sweepAllBlocks(bench.results.readCurves, ops.read, RamPassKind::Read);
  bench.protocol.readDirty.fetch_add(1);
  bench.protocol.readRedraw.fetch_add(1);
  endPass(RAM_READ_BIT);
}

void ramWritePass(const RamOps& ops) {
  beginPass(RAM_WRITE_BIT, PAGE_WRITE);
  clearCurves(bench.results.writeCurves);
  clearCurves(bench.results.writeMmxCurves);
  // The write chart starts at the read scale, so slower writes keep it.
  bench.results.writeMax.store(bench.results.readMax.load(relaxed), relaxed);
  bench.protocol.writeNewMax.fetch_add(1);
  prepareMeasuring(ops);
  sweepAllBlocks(bench.results.writeCurves, ops.write, RamPassKind::Write);
  sweepAllBlocks(bench.results.writeMmxCurves, ops.writeMmx, RamPassKind::Write);
  bench.protocol.writeDirty.fetch_add(1);
  bench.protocol.writeRedraw.fetch_add(1);
  endPass(RAM_WRITE_BIT);
}

void ramWorkerStart() {
  platform::setThreadAffinity(PROCESSOR_0_MASK);
  bench.protocol.ramRestart.store(RAM_READ_BIT | RAM_WRITE_BIT);
}

bool awaitRamTurn() {
  // The test of cacheBusy comes 30 ms before the passes; the claim, taken only when a pass is
  // due, closes that window: if the cache worker started in it, the claim fails and we wait.
  for (;;) {
    if (bench.protocol.cacheBusy.load() == 0) {
      platform::sleepMs(RAM_IDLE_MS);
      if ((bench.protocol.ramRestart.load() & (RAM_READ_BIT | RAM_WRITE_BIT)) == 0) return false;
      if (tryBeginRamPasses()) return true;
    }
    platform::sleepMs(RAM_WAIT_CACHE_MS);
  }
}

void ramWorkerTurn(const RamOps& ops) {
  if (!awaitRamTurn()) return;
  if (bench.protocol.ramRestart.load() & RAM_READ_BIT) ramReadPass(ops);
  // Tested straight after the read pass: a write request made during it is served now.
  if (bench.protocol.ramRestart.load() & RAM_WRITE_BIT) ramWritePass(ops);
  endRamPasses();
}

void ramWorkerRun(const RamOps& ops) {
  ramWorkerStart();
  for (;;) ramWorkerTurn(ops);
}

}  // namespace vardelo
