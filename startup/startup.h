// Process start-up: processor check, calibration, identification and the test buffer, up to
// the point where the threads are started. Both programs run the same sequence; they differ
// only in how a failure is reported (startupFatal).
#pragma once

#include "core/bench_state.h"
#include "core/constants.h"

namespace vardelo {

// Exit codes of the start-up's own failures. A failed processor check exits instead with the
// result of its message box.
inline constexpr unsigned EXIT_NO_BUFFER = 2;      // allocation of the test buffer
inline constexpr unsigned EXIT_NO_LOCK = 3;        // locking it in place
inline constexpr unsigned EXIT_NO_PROTECTION = 4;  // making the test area executable
inline constexpr unsigned EXIT_NO_THREAD = 5;      // creating a worker thread

// Reports a failure that stops the start-up and ends the process with exitCode; it does not
// return. The default shows a message box with the stop icon; a console program replaces it
// before calling startupThroughBuffer.
using StartupFatal = void (*)(const char* text, unsigned exitCode);
extern StartupFatal startupFatal;
[[noreturn]] void showFatalAndExit(const char* text, unsigned exitCode);

// Steps 1 to 11 of the start-up, in order: pin the thread, module handle, processor check
// (which ends the process on failure), pin the process, settle, calibrate, settle, identify
// (with the caches), button-face colour, test buffer sized for the RAM span the caches call
// for, first read of the RAM window.
void startupThroughBuffer();

// Step 12: the cache sweep worker, the RAM sweep worker and the refresh thread, in this order;
// the first two handles are kept for the real-time command, the third is closed at once. A
// thread that cannot be created ends the process through startupFatal.
void startWorkerThreads();

// Step 15, reached only if the main dialog returns: unlocks and frees the test buffer and gives
// the exit code, 0 when the block was freed.
unsigned releaseTestBuffer();

// The pieces, for callers and tests that need one of them.
void pinThreadToProcessor0();
void pinProcessToProcessor0();

// CPUID and a time-stamp counter present: true, and bench.mmx / bench.sse set.
bool checkProcessor();

// Sets bench.tscRate and bench.rdtscOverhead. Takes about 1.05 s at real-time priority.
void calibrateClock();

// Sets bench.cpuVendor, cpuSignature, cpuFamily, cpuModel, cpuStepping and cpuClass.
void identifyProcessor();

// Busy-waits on processor 0 for a time that follows the counter rate, between two short
// sleeps; leaves the process affinity mask as it found it.
void settle();

// Allocates and locks the test buffer (areaBytes + 4 KiB), aligns bench.testArea to 4 KiB,
// makes areaBytes from it readable, writable and executable and writes each of its pages once,
// so that every page has memory of its own. On failure calls startupFatal and, should that
// return, returns false with bench unchanged.
bool allocateTestBuffer(u32 areaBytes = TEST_AREA_BYTES);

// The test buffer for a RAM span (startup/cache_description.h): the span's area, or where the
// system cannot give that much, the area for half the span, and so on down to the 8 MiB window,
// whose failure is reported as allocateTestBuffer's. Sets bench.ramSpanBytes to the span it got
// and bench.testAreaBytes to its area.
bool allocateForRamSpan(u32 spanBytes);

// Sets bench.caches from CPUID and bench.clflushBytes from leaf 1.
void readCacheDescription();

}  // namespace vardelo
