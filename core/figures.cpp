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
  codeSpeed_.store(f.codeSpeed);
  dataSpeed_.store(f.dataSpeed);
  icacheSize_.store(f.icacheSize);
  dcacheSize_.store(f.dcacheSize);
  l2Size_.store(f.l2Size);
  l2Speed_.store(f.l2Speed);
  ramSpeed_.store(f.ramSpeed);
  l2Line_.store(f.l2Line);
  ramLine_.store(f.ramLine);
  installedMemory_.store(f.installedMemory);
  l2ProbeSize_.store(f.l2ProbeSize, std::memory_order_release);
}

CacheFigures SharedCacheFigures::load() const {
  CacheFigures f;
  f.l2ProbeSize = l2ProbeSize_.load(std::memory_order_acquire);
  f.codeSpeed = codeSpeed_.load();
  f.dataSpeed = dataSpeed_.load();
  f.icacheSize = icacheSize_.load();
  f.dcacheSize = dcacheSize_.load();
  f.l2Size = l2Size_.load();
  f.l2Speed = l2Speed_.load();
  f.ramSpeed = ramSpeed_.load();
  f.l2Line = l2Line_.load();
  f.ramLine = ramLine_.load();
  f.installedMemory = installedMemory_.load();
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
