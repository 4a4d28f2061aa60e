// BenchState: the one process-wide record of settings, results, flags and counters.
//
// Four threads share it without locks: the user-interface thread, the cache sweep worker, the
// RAM sweep worker and the refresh thread. Every field that more than one thread touches is a
// std::atomic of the field's width; relaxed loads and stores compile to the plain aligned
// accesses the protocol relies on, and make that protocol defined behaviour in C++. Fields that
// only one thread ever touches (the UI's scratch and scales) are plain.
//
// It is grouped by role: what start-up found (machine), the measurements' own state
// (measuring), what the workers measured and derived (results), the worker-to-window protocol
// (protocol) and what belongs to the window alone (window).
//
// The record is statically initialised; the initial values are the ones the threads rely on
// (cacheBusy 1 holds the RAM worker back until the first cache sweep is done).
#pragma once

#include <atomic>
#include <cstdint>

#include "core/constants.h"
#include "core/figures.h"
#include "core/pages.h"

namespace vardelo {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using i32 = std::int32_t;
using Handle = void*;

using AtomicU8 = std::atomic<u8>;
using AtomicU16 = std::atomic<u16>;
using AtomicU32 = std::atomic<u32>;
using AtomicI32 = std::atomic<i32>;
using AtomicHandle = std::atomic<Handle>;

using CacheCurve = AtomicU32[CACHE_CURVE_ENTRIES];
using RamCurve = AtomicU32[RAM_CURVE_ENTRIES];
using RamCurveSet = RamCurve[RAM_BLOCK_KINDS];

// Scale of one chart, in grid units.
struct ChartScale {
  u32 top = 0;            // grid value where the horizontal grid ends: maximum + maximum / 16
  u32 majorStep = 0;      // labelled grid step: 1, 2 or 5 times a power of ten
  u32 lineStep = 0;       // distance between horizontal grid lines
  u32 unitsPerPixel = 0;  // grid units per pixel row
};

// Tab-item record reused to insert the four tabs (laid out as the platform's TCITEMA).
struct TabItem {
  u32 mask = 0;
  u32 state = 0;
  u32 stateMask = 0;
  char* text = nullptr;
  i32 textMax = 0;
  i32 image = 0;
  std::intptr_t param = 0;
};

// One cache level as CPUID describes it.
inline constexpr u8 CACHE_DATA = 1;
inline constexpr u8 CACHE_INSTRUCTION = 2;
inline constexpr u8 CACHE_UNIFIED = 3;
struct CacheLevelInfo {
  u8 level = 0;  // 1, 2, 3, ...
  u8 type = 0;   // CACHE_DATA, CACHE_INSTRUCTION or CACHE_UNIFIED
  u32 sizeBytes = 0;
  u32 lineBytes = 0;
  u32 ways = 0;     // 0: fully associative or not reported
  u32 sharing = 0;  // logical processors that share it; 0: not reported
};

// Where a cache list came from.
inline constexpr u8 CACHES_UNKNOWN = 0;
inline constexpr u8 CACHES_FROM_LEAF_4 = 1;
inline constexpr u8 CACHES_FROM_LEAF_8000001D = 2;
inline constexpr u8 CACHES_FROM_LEGACY_LEAVES = 3;  // 0x80000005 and 0x80000006

inline constexpr int MAX_CACHE_LEVELS = 8;
struct CacheList {
  u8 source = CACHES_UNKNOWN;
  u8 count = 0;
  CacheLevelInfo levels[MAX_CACHE_LEVELS] = {};
};

// What start-up finds out about the machine and the process, set before the workers exist and
// only read afterwards.
struct Machine {
  AtomicHandle hInstance{nullptr};
  AtomicU8 mmx{0};     // processor has MMX
  AtomicU8 sse{0};     // processor has SSE
  AtomicU8 avx{0};     // 256-bit loads usable: processor has AVX, the system saves YMM state
  AtomicU8 avx512{0};  // 512-bit loads usable: AVX-512F, the system saves ZMM state
  AtomicU32 faceColor{0};
  AtomicHandle bufferHandle{nullptr};
  std::atomic<u8*> testArea{nullptr};        // first 4 KiB boundary in the test buffer
  AtomicU32 testAreaBytes{TEST_AREA_BYTES};  // usable bytes from testArea
  AtomicHandle hCacheThread{nullptr};
  AtomicHandle hRamThread{nullptr};

  // Processor identification and clock calibration.
  AtomicU32 tscRate{0};        // counter ticks per 1/1024 second
  AtomicU32 rdtscOverhead{0};  // cheapest back-to-back counter read, minus 1
  AtomicU8 cpuVendor{0};       // VENDOR_* (core/processor.h)
  AtomicU32 cpuSignature{0};
  AtomicU32 cpuFamily{0};
  AtomicU32 cpuModel{0};
  AtomicU32 cpuStepping{0};
  AtomicU8 cpuClass{0};  // timing class, CLASS_* (core/processor.h)

  // The caches CPUID describes, and the span of the test area the RAM walks rotate through
  // (startup/cache_description.h). With a span of 8 MiB every walk stays at offset 0 and
  // nothing is flushed.
  CacheList caches{};
  AtomicU32 clflushBytes{0};  // bytes one CLFLUSH covers; 0: no CLFLUSH
  // CLFLUSHOPT is there: the same flush, with the lines' write-backs overlapped rather than one
  // after another, which makes flushing a window many times faster where lines leave slowly.
  AtomicU8 clflushOpt{0};
  AtomicU32 ramSpanBytes{RAM_WINDOW_BYTES};
  // The span is at least four times the largest cache: going round it leaves a window's lines
  // out of the caches by itself, and a window is readied for its walk by one flush a page.
  AtomicU8 ramSpanOutgrowsCaches{0};
};

// The state of the measurements themselves: the choices the kernels run with and what the
// workers carry from one measurement to the next. Written by whichever worker holds the right to
// measure (workers/sweep_exclusion.h).
struct Measuring {
  AtomicU8 readMode{0};  // block-read load width: 0 32-bit, 1 MMX, 2 SSE, 3 AVX, 4 AVX-512
  AtomicU16 fillMode{0};
  AtomicU32 blockOffset{0};
  AtomicU32 cacheStableCount{0};
  AtomicU32 ramStableCount{0};
  AtomicI32 lineSize{32};      // the RAM line the RAM kernels step by
  AtomicU32 ramSpanOffset{0};  // window of the next cold walk
  AtomicU32 ramReadSpeed{0};   // KiB/s of cold reads of a window; 0: not measured
  char progressBar[50] = "<||||||||||||||||||||||||||||||||||||||||||||||||";
};

// What the workers measure and derive, each written by one worker and read by the painters and
// the console report.
struct Results {
  // Cache sweep worker: the data-read and code-execution curves, and the dependent-load latency
  // per point (block sizes as dcacheCurve) in 1/256 counter ticks per load; NO_POINT where not
  // measured. Cleared at the start of each sweep.
  CacheCurve dcacheCurve{};
  CacheCurve icacheCurve{};
  CacheCurve latencyCurve{};
  AtomicU32 cacheMax{10240};
  SharedCacheFigures cacheFigures{};
  SharedFarLatencies farLatencies{};  // the L3 probe's, cleared with the curves

  // RAM sweep worker: the curves and the statistics of each (by block index).
  RamCurveSet readCurves{};
  RamCurveSet writeCurves{};
  RamCurveSet writeMmxCurves{};
  AtomicU32 readMax{10240};
  AtomicU32 writeMax{10240};
  SharedRamStats readStats[RAM_BLOCK_KINDS]{};
  SharedRamStats writeStats[RAM_BLOCK_KINDS]{};
  SharedRamStats writeMmxStats[RAM_BLOCK_KINDS]{};
};

// Between the workers and the window: which sweep runs and which is asked for, and the refresh
// protocol's change counters and marks (workers/refresh.h, ui/frame_rule.h).
struct Protocol {
  AtomicU8 cacheBusy{1};
  AtomicU8 cacheRestart{0};
  AtomicU8 ramBusy{0};
  AtomicU8 ramRestart{0};

  AtomicU32 cacheDirty{0};
  AtomicU32 readDirty{0};
  AtomicU32 writeDirty{0};
  AtomicU8 cachePosted{0};
  AtomicU8 readPosted{0};
  AtomicU8 writePosted{0};
  AtomicU8 cacheTick{0};
  AtomicU8 readTick{0};
  AtomicU8 writeTick{0};
  AtomicU8 cacheNewMax{0};
  AtomicU8 readNewMax{0};
  AtomicU8 writeNewMax{0};
  AtomicU8 cacheRedraw{0};
  AtomicU8 readRedraw{0};
  AtomicU8 writeRedraw{0};
  // Paints each chart has finished, counted by the painter as it closes: an observer can tell a
  // page that keeps painting (a running pass) from one that has stopped.
  AtomicU32 cachePaints{0};
  AtomicU32 readPaints{0};
  AtomicU32 writePaints{0};
};

// The window's own: its handles, its settings and the painters' scratch. The user-interface
// thread writes all of it; the plain fields only it reads.
struct WindowState {
  AtomicHandle hMainDlg{nullptr};
  AtomicHandle hTab{nullptr};
  AtomicHandle hPages[PAGE_COUNT]{};
  AtomicU32 curPage{0};
  TabItem tabItem{};
  char headerText[64] = {};
  char filterLabel[32] = {};
  AtomicU8 realtimeOn{0};
  AtomicU8 readFilter{FILTER_LEVEL_START};
  AtomicU8 writeFilter{FILTER_LEVEL_START};

  ChartScale cacheScale{};
  ChartScale readScale{};
  ChartScale writeScale{};
  u32 readSmoothed[RAM_CURVE_ENTRIES] = {};
  u32 writeSmoothed[RAM_CURVE_ENTRIES] = {};
  u32 readAverages[RAM_BLOCK_KINDS] = {};
  u32 writeAverages[RAM_BLOCK_KINDS] = {};
  u32 writePaintCount = 0;
};

struct BenchState {
  Machine machine;
  Measuring measuring;
  Results results;
  Protocol protocol;
  WindowState window;
};

// The record itself, defined in core/bench_state.cpp.
extern BenchState bench;

}  // namespace vardelo
