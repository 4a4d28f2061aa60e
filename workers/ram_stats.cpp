#include "workers/ram_stats.h"

namespace vardelo {

RamCurveStats ramCurveStats(const RamCurveCopy& curve) {
  RamCurveStats s;
  if (curve[0] == NO_POINT) return s;
  // The sum runs in 64 bits: 320 speeds overflow 32 bits once their average passes about
  // 13 GiB/s (13.4 million KiB/s), which today's memory reaches.
  std::uint64_t sum = 0;
  u32 lo = curve[0];
  u32 hi = curve[0];
  u32 n = 0;
  while (n < RAM_POINTS && curve[n] != NO_POINT) {
    const u32 v = curve[n];
    sum += v;
    if (v < lo) lo = v;
    if (static_cast<i32>(v) > static_cast<i32>(hi)) hi = v;
    ++n;
  }
  s.points = n;
  s.minKiBps = lo;
  s.maxKiBps = hi;
  s.averageKiBps = static_cast<u32>(sum / n);
  s.linearKiBps = curve[RAM_LINEAR_ENTRY];
  return s;
}

SharedRamStats* sharedStatsOf(const RamCurve& curve) {
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
    if (&curve == &bench.results.readCurves[b]) return &bench.results.readStats[b];
    if (&curve == &bench.results.writeCurves[b]) return &bench.results.writeStats[b];
    if (&curve == &bench.results.writeMmxCurves[b]) return &bench.results.writeMmxStats[b];
  }
  return nullptr;
}

void publishRamStats(const RamCurve& curve) {
  SharedRamStats* home = sharedStatsOf(curve);
  if (home == nullptr) return;
  RamCurveCopy copy;
  copyRamCurve(curve, copy);
  home->store(ramCurveStats(copy));
}

}  // namespace vardelo
