#include "core/figures.h"

namespace vardelo {

const char* figureSourceName(FigureSource source) {
  switch (source) {
    case FigureSource::Bandwidth: return "bandwidth";
    case FigureSource::Latency: return "latency";
    case FigureSource::Cpuid: return "cpuid";
    case FigureSource::LineProbe: return "lineProbe";
    case FigureSource::System: return "system";
    case FigureSource::SweepEnd: return "sweepEnd";
    default: return "unset";
  }
}

std::uint32_t ratioPercent(const RamCurveStats& s) {
  if (s.linearKiBps == 0 || s.linearKiBps == NO_POINT) return 0;
  return static_cast<std::uint32_t>(
      (static_cast<std::uint64_t>(s.averageKiBps) * 100 + s.linearKiBps / 2) / s.linearKiBps);
}

void SharedCacheFigures::store(const CacheFigures& f) {
  for (int i = 0; i < CACHE_FIGURE_COUNT; ++i) figures_[i].store(f.*CACHE_FIGURE_FIELDS[i].member);
  l2ProbeSize_.store(f.l2ProbeSize, std::memory_order_release);
}

CacheFigures SharedCacheFigures::load() const {
  CacheFigures f;
  f.l2ProbeSize = l2ProbeSize_.load(std::memory_order_acquire);
  for (int i = 0; i < CACHE_FIGURE_COUNT; ++i)
    f.*CACHE_FIGURE_FIELDS[i].member = figures_[i].load();
  return f;
}

void SharedFarLatencies::store(const FarLatencies& f) {
  for (int i = 0; i < FAR_LATENCY_POINTS; ++i) {
    bytes_[i].store(f.bytes[i], std::memory_order_relaxed);
    ticks_[i].store(f.ticksX256[i], std::memory_order_relaxed);
  }
  probeMs_.store(f.probeMs, std::memory_order_relaxed);
  count_.store(f.count, std::memory_order_release);
}

FarLatencies SharedFarLatencies::load() const {
  FarLatencies f;
  f.count = count_.load(std::memory_order_acquire);
  for (int i = 0; i < FAR_LATENCY_POINTS; ++i) {
    f.bytes[i] = bytes_[i].load(std::memory_order_relaxed);
    f.ticksX256[i] = ticks_[i].load(std::memory_order_relaxed);
  }
  f.probeMs = probeMs_.load(std::memory_order_relaxed);
  return f;
}

void SharedRamStats::store(const RamCurveStats& s) {
  min_.store(s.minKiBps, std::memory_order_relaxed);
  max_.store(s.maxKiBps, std::memory_order_relaxed);
  average_.store(s.averageKiBps, std::memory_order_relaxed);
  linear_.store(s.linearKiBps, std::memory_order_relaxed);
  points_.store(s.points, std::memory_order_release);
}

RamCurveStats SharedRamStats::load() const {
  RamCurveStats s;
  s.points = points_.load(std::memory_order_acquire);
  s.minKiBps = min_.load(std::memory_order_relaxed);
  s.maxKiBps = max_.load(std::memory_order_relaxed);
  s.averageKiBps = average_.load(std::memory_order_relaxed);
  s.linearKiBps = linear_.load(std::memory_order_relaxed);
  return s;
}

}  // namespace vardelo
