// RAM sweep worker: fills the four read curves, the four write curves and the four MMX-write
// curves, one block size each, over every gap from about -3 KiB to +7 KiB, on request.
//
// The worker runs a read pass and a write pass when the bits of bench.protocol.ramRestart ask for
// them (both at start), never while the cache sweep worker is busy, and reports its progress only
// through BenchState: the curves, the maxima readMax and writeMax, and the change counters and
// marks that the refresh thread and the painters consume. The measurements and the settle
// routine are passed in, so the whole worker runs on the host against fakes.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// One measurement of the RAM loop: speed in KiB/s for a gap (bytes, signed) and a block size.
using RamMeasureFn = u32 (*)(i32 gap, u32 block);

struct RamOps {
  RamMeasureFn read;      // fills readCurves
  RamMeasureFn write;     // fills writeCurves
  RamMeasureFn writeMmx;  // fills writeMmxCurves
  void (*settle)();       // run before each pass
  // Run before each pass's walks, after settle: readies the windows its first walks take
  // (primeRamWindows); null where there is nothing to ready.
  void (*prime)() = nullptr;
};

// Which maximum a sweep keeps and how it counts its changes.
enum class RamPassKind : u8 { Read, Write };

// Sleeps of the worker, in milliseconds.
inline constexpr u32 RAM_WAIT_CACHE_MS = 350;  // poll while the cache worker is busy
inline constexpr u32 RAM_IDLE_MS = 30;         // pause of every turn, and at the start of a pass
inline constexpr u32 RAM_SWEEP_PAUSE_MS = 50;  // before each curve

// Start of the thread: ask for processor 0 and request both passes.
void ramWorkerStart();

// The wait that opens a turn: until the cache worker is idle and, 30 ms later, a pass is requested
// and the right to measure is ours (sweep_exclusion.h). False, with no claim, when the cache
// worker is idle and nothing is requested; true with the claim, released by endRamPasses.
bool awaitRamTurn();

// One turn of the loop: awaitRamTurn, then the read pass and the write pass if they are
// requested, and the claim released. Returns at once after the pause when nothing is requested.
void ramWorkerTurn(const RamOps& ops);

// The thread body: ramWorkerStart, then turns for ever.
[[noreturn]] void ramWorkerRun(const RamOps& ops);

#ifdef _WIN32
// Thread entry for CreateThread (a DWORD WINAPI routine): ramWorkerRun with the real
// measurements and settle routine. The argument is not used; it never returns.
unsigned long __stdcall ramWorkerThread(void* unused);
#endif

// The two passes; the caller holds the right to measure.
void ramReadPass(const RamOps& ops);
void ramWritePass(const RamOps& ops);

// Sweeps one curve with block size `block` (32, 64, 128 or 256) and keeps the maximum of `kind`.
void ramGapSweep(RamCurve& curve, u32 block, RamMeasureFn measure, RamPassKind kind);

// readMax's seed: the RAM speed of the cache page, that is the main-memory read speed where it
// was measured on its own (bench.measuring.ramReadSpeed), else the mean of dcacheCurve points 156
// to 159, summed in 32 bits.
u32 ramReadSeed();

}  // namespace vardelo
