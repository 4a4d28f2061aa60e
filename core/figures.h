// The figures the sweeps derive, as numbers: the "Cache Speed " page's sizes, lines and speeds,
// and the statistics of each RAM curve. The workers derive them (workers/cache_analysis.h,
// workers/ram_stats.h) and are their only writers; the pages and the console report format them.
//
// Each figure says where it came from; a figure not derived yet is Unset, which is not the same
// as a derived 0 (a line probe that found no line, a system that did not say its memory).
#pragma once

#include <atomic>
#include <cstdint>
#include <iterator>

#include "core/constants.h"

namespace vardelo {

enum class FigureSource : std::uint8_t {
  Unset = 0,
  Bandwidth = 1,  // the data or code curve (read or execution speed)
  Latency = 2,    // the dependent-load latency curve
  Cpuid = 3,      // what the processor describes
  LineProbe = 4,  // reads with growing strides
  System = 5,     // the operating system
  SweepEnd = 6,   // no edge up to the last point: the size stands at the end of the sweep
};

// "unset", "bandwidth", "latency", "cpuid", "lineProbe", "system", "sweepEnd".
const char* figureSourceName(FigureSource source);

struct Figure {
  std::uint32_t value = 0;
  FigureSource source = FigureSource::Unset;

  constexpr bool isSet() const { return source != FigureSource::Unset; }
  friend constexpr bool operator==(const Figure&, const Figure&) = default;
};

constexpr Figure figure(std::uint32_t value, FigureSource source) { return {value, source}; }

// The "Cache Speed " page's figures. Sizes and lines in bytes, speeds in KiB/s, memory in MiB.
struct CacheFigures {
  Figure codeSpeed;        // peak of the code curve
  Figure dataSpeed;        // peak of the data curve
  Figure icacheSize;       // where the code curve falls off
  Figure dcacheSize;       // the L1 edge of the data (or latency) curve: a power of two, or a
                           // first-level size (cache_geometry.h) the edge clearly lies at
  Figure l2Size;           // the L2 edge, likewise (SECOND_LEVEL_SIZES, or a power of two)
  Figure l2Speed;          // read speed just past the L1 edge
  Figure l3Size;           // where the latency beyond the sweep rises to main memory's, whole MiB
  Figure l3Speed;          // read speed of a block inside the L3
  Figure ramSpeed;         // the last points of the data curve, or flushed memory
  Figure l2Line;           // 0: no line shows (8 bytes or less)
  Figure ramLine;          // 0: the probe could not time its passes
  Figure installedMemory;  // MiB as shown; 0: the system did not say
  // Not shown: the block size on the L2 plateau the L2 line probe reads (L2_PROBE_SIZE_UNSET
  // until derived), the value the RAM walks and the L2 size build on.
  std::uint32_t l2ProbeSize = L2_PROBE_SIZE_UNSET;

  friend constexpr bool operator==(const CacheFigures&, const CacheFigures&) = default;
};

// Every figure of CacheFigures with the name and unit the console report and the test probe give
// it; the shared record stores them in this order.
struct CacheFigureField {
  const char* name;
  const char* unit;  // "bytes", "kibps" (KiB/s) or "mib"
  Figure CacheFigures::*member;
};
inline constexpr CacheFigureField CACHE_FIGURE_FIELDS[] = {
    {"icache", "bytes", &CacheFigures::icacheSize},
    {"dcache", "bytes", &CacheFigures::dcacheSize},
    {"l2", "bytes", &CacheFigures::l2Size},
    {"l3", "bytes", &CacheFigures::l3Size},
    {"l2Line", "bytes", &CacheFigures::l2Line},
    {"ramLine", "bytes", &CacheFigures::ramLine},
    {"dataSpeed", "kibps", &CacheFigures::dataSpeed},
    {"codeSpeed", "kibps", &CacheFigures::codeSpeed},
    {"l2Speed", "kibps", &CacheFigures::l2Speed},
    {"l3Speed", "kibps", &CacheFigures::l3Speed},
    {"ramSpeed", "kibps", &CacheFigures::ramSpeed},
    {"installedMemory", "mib", &CacheFigures::installedMemory},
};
inline constexpr int CACHE_FIGURE_COUNT = static_cast<int>(std::size(CACHE_FIGURE_FIELDS));

// The dependent-load latencies the L3 probe measured beyond the cache sweep's blocks, in the
// order it measured them, and how long the probe took. count 0: the probe has not run (or found
// no level between the L2 and main memory to look for).
inline constexpr int FAR_LATENCY_POINTS = 40;
struct FarLatencies {
  std::uint32_t count = 0;
  std::uint32_t bytes[FAR_LATENCY_POINTS] = {};
  std::uint32_t ticksX256[FAR_LATENCY_POINTS] = {};  // 1/256 counter ticks per load
  std::uint32_t probeMs = 0;

  friend constexpr bool operator==(const FarLatencies&, const FarLatencies&) = default;
};

// Statistics of one RAM curve over its measured entries, in KiB/s.
struct RamCurveStats {
  std::uint32_t points = 0;  // entries measured; 0: the curve has not started
  std::uint32_t minKiBps = 0;
  std::uint32_t maxKiBps = 0;  // compared as signed, as the curves are
  std::uint32_t averageKiBps = 0;
  std::uint32_t linearKiBps = NO_POINT;  // entry RAM_LINEAR_ENTRY; NO_POINT until measured

  friend constexpr bool operator==(const RamCurveStats&, const RamCurveStats&) = default;
};

// The average as a percentage of linear access, rounded; 0 where linear access is not measured
// or read 0.
std::uint32_t ratioPercent(const RamCurveStats& stats);

// Lock-free homes of the figures in the shared record: one writer (the worker that derives
// them), any number of readers. A reader may see a figure of the previous derivation beside one
// of the new, never a torn value.
class SharedFigure {
 public:
  void store(Figure f) {
    value_.store(f.value, std::memory_order_relaxed);
    source_.store(static_cast<std::uint8_t>(f.source), std::memory_order_release);
  }
  Figure load() const {
    const auto source = static_cast<FigureSource>(source_.load(std::memory_order_acquire));
    return {value_.load(std::memory_order_relaxed), source};
  }

 private:
  std::atomic<std::uint32_t> value_{0};
  std::atomic<std::uint8_t> source_{0};
};

class SharedCacheFigures {
 public:
  void store(const CacheFigures& f);
  CacheFigures load() const;

 private:
  SharedFigure figures_[CACHE_FIGURE_COUNT];  // in the order of CACHE_FIGURE_FIELDS
  std::atomic<std::uint32_t> l2ProbeSize_{L2_PROBE_SIZE_UNSET};
};

// Written once per sweep by the cache worker, read by the report after the sweep.
class SharedFarLatencies {
 public:
  void store(const FarLatencies& f);
  FarLatencies load() const;

 private:
  std::atomic<std::uint32_t> count_{0}, probeMs_{0};
  std::atomic<std::uint32_t> bytes_[FAR_LATENCY_POINTS]{}, ticks_[FAR_LATENCY_POINTS]{};
};

class SharedRamStats {
 public:
  void store(const RamCurveStats& s);
  RamCurveStats load() const;

 private:
  std::atomic<std::uint32_t> points_{0}, min_{0}, max_{0}, average_{0}, linear_{NO_POINT};
};

}  // namespace vardelo
