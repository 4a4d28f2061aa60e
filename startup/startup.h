// Process start-up: processor check, calibration, identification and the test buffer, up to
// the point where the threads are started. Both programs run the same sequence; they differ
// only in how a failure is reported (startupFatal). The sequence and the steps that only run
// x86 code are in startup_x86.cpp; those that need the system (failure reports, pinning,
// calibrateClock, the test buffer and the three at the end) in startup_win.cpp and
// calibration_win.cpp, or their *_linux.cpp twins.
#pragma once

#include "core/bench_state.h"
#include "core/constants.h"

namespace vardelo {

// Exit codes of the start-up's own failures. The window program ends a failed processor check
// with the result of its message box (1 for OK); the console companion with EXIT_NO_CPU.
inline constexpr unsigned EXIT_NO_CPU = 1;         // no CPUID or no time-stamp counter
inline constexpr unsigned EXIT_NO_BUFFER = 2;      // allocation of the test buffer
inline constexpr unsigned EXIT_NO_LOCK = 3;        // locking it in place
inline constexpr unsigned EXIT_NO_PROTECTION = 4;  // making the test area executable
inline constexpr unsigned EXIT_NO_THREAD = 5;      // creating or starting a worker thread
inline constexpr unsigned EXIT_BAD_CLOCK = 7;      // the counter's rate came out absurd
inline constexpr unsigned EXIT_NO_WINDOW = 8;      // the main dialog returned

inline constexpr char CPU_NOT_SUPPORTED[] = "CPU not support!";

// Reports a failure that stops the start-up and ends the process with exitCode; it does not
// return. The default shows a message box with the stop icon; a console program replaces it
// before calling startupThroughBuffer.
using StartupFatal = void (*)(const char* text, unsigned exitCode);
extern StartupFatal startupFatal;
[[noreturn]] void showFatalAndExit(const char* text, unsigned exitCode);

// Ends the process when the processor check fails; does not return. The default is the window
// program's: "CPU not support!" in a box with the stop icon and the system's caption, and the
// box's result as exit code. The console companion replaces it, since a box would wait for a
// click nobody makes.
using ProcessorRefusal = void (*)();
extern ProcessorRefusal refuseProcessor;
[[noreturn]] void showProcessorRefusal();

// Ends the process through refuseProcessor unless the processor is supported.
void requireProcessor(bool supported);

// The start-up up to the worker threads, in order: pin the thread, the platform's facts (module
// handle and button-face colour on Windows), processor check (which ends the process on failure),
// pin the process, settle, calibrate, settle, identify (with the caches), test buffer sized for
// the RAM span the caches call for, first read of the RAM window.
void startupThroughBuffer();

// The cache sweep worker, the RAM sweep worker and the refresh thread, in this order;
// the first two handles are kept for the real-time command, the third is closed once it is set
// going. All three are created suspended and set going, in the same order, only once all exist:
// a thread that cannot be created then ends the process through startupFatal before any of them
// has run, instead of leaving a worker measuring alone.
void startWorkerThreads();

// The same with other thread entries, for tests: startThreadsWith in startup/threads_win.h.

// For the console companion: the cache sweep worker alone, made and set going the same way,
// its handle kept in bench.machine.hCacheThread. A failure ends the process through startupFatal.
void startCacheWorkerThread();

// Reached only if the main dialog returns: its creation failed, or it ended without ending the
// process. The workers still measure in the test buffer, so it stays as it is; the failure is
// reported through startupFatal (EXIT_NO_WINDOW), whose exit ends the workers before the system
// takes the memory back.
void mainDialogReturned();

// The pieces, for callers and tests that need one of them.
void pinThreadToProcessor0();
void pinProcessToProcessor0();

// CPUID and a time-stamp counter present: true, and bench.machine.mmx / bench.machine.sse set, and
// bench.machine.avx / bench.machine.avx512 where the system also saves the wide registers.
bool checkProcessor();

// Sets bench.machine.tscRate and bench.machine.rdtscOverhead. Takes about 1.05 s at real-time
// priority.
void calibrateClock();

// calibrateClock with a check of what it measured: calibrates, and once more when the rate is
// not plausible (tscRatePlausible in cpu_ident.h); a second implausible rate ends the process
// through startupFatal (EXIT_BAD_CLOCK) rather than scale every figure by it.
void calibrateClockChecked();

// Sets bench.machine.cpuVendor, cpuSignature, cpuFamily, cpuModel, cpuStepping and cpuClass.
void identifyProcessor();

// Allocates and locks the test buffer (areaBytes + 4 KiB), aligns bench.machine.testArea to 4 KiB,
// makes areaBytes from it readable, writable and executable and writes each of its pages once,
// so that every page has memory of its own. On failure calls startupFatal and, should that
// return, returns false with bench unchanged.
bool allocateTestBuffer(u32 areaBytes = TEST_AREA_BYTES);

// The test buffer for a RAM span (startup/cache_description.h): the span's area, or where the
// system cannot give that much, the area for half the span, and so on down to the 8 MiB window,
// whose failure is reported as allocateTestBuffer's. Sets bench.machine.ramSpanBytes to the span it
// got and bench.machine.testAreaBytes to its area.
bool allocateForRamSpan(u32 spanBytes);

// Sets bench.machine.caches from CPUID and bench.machine.clflushBytes from leaf 1.
void readCacheDescription();

// What the shared sequence asks of each platform (startup_win.cpp, startup_linux.cpp).

// One attempt at the test buffer for an area of areaBytes, as allocateTestBuffer makes it: true
// with the buffer in place, false with nothing reported and what it got given back, so that a
// smaller attempt can follow.
bool tryAllocateTestBuffer(u32 areaBytes);

// What the window needs from the system, noted right after the thread is pinned: the module
// handle and the button-face colour on Windows; nothing in the Linux report.
void recordPlatformFacts();

// The largest RAM span this process asks for (ramSpanBytesFor's maxSpanBytes): RAM_SPAN_MAX_BYTES
// in a 32-bit process, RAM_SPAN_MAX_BYTES_64BIT in the 64-bit Linux report.
u32 ramSpanCap();

}  // namespace vardelo
