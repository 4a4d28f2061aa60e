// `curves` and `monitor`: the workers' progress, from copies of the program's state and its window.
#include <cstdio>
#include <string>

#include "probe_common.h"

namespace probe {

namespace {

using vardelo::BenchState;

// Measured points of one curve, or that count followed by "!" when a measured entry stands
// behind the first NO_POINT (a curve must grow from its start without holes).
std::string curveCount(const std::uint32_t* curve, int points, int entries) {
  const int n = measuredPoints(curve, points);
  bool hole = false;
  for (int i = n; i < entries; ++i) hole = hole || (curve[i] != vardelo::NO_POINT && curve[i] != 0);
  return std::to_string(n) + (hole ? "!" : "");
}

std::string ramKind(const BenchReader& bench, std::size_t offset) {
  std::string out;
  std::uint32_t curve[vardelo::RAM_CURVE_ENTRIES];
  for (int b = 0; b < vardelo::RAM_BLOCK_KINDS; ++b) {
    bench.entries(offset + b * vardelo::RAM_CURVE_ENTRIES * 4, curve, vardelo::RAM_CURVE_ENTRIES);
    if (b) out += ' ';
    out += curveCount(curve, vardelo::RAM_POINTS, vardelo::RAM_CURVE_ENTRIES);
  }
  return out;
}

double nowMs(const LARGE_INTEGER& start) {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return (t.QuadPart - start.QuadPart) * 1000.0 / f.QuadPart;
}

}  // namespace

std::string curvesSummary(const BenchReader& bench) {
  std::uint32_t cache[vardelo::CACHE_CURVE_ENTRIES];
  bench.entries(offsetof(BenchState, results.dcacheCurve), cache, vardelo::CACHE_CURVE_ENTRIES);
  std::string out =
      "dcache " + curveCount(cache, vardelo::CACHE_POINTS, vardelo::CACHE_CURVE_ENTRIES);
  bench.entries(offsetof(BenchState, results.icacheCurve), cache, vardelo::CACHE_CURVE_ENTRIES);
  out += " icache " + curveCount(cache, vardelo::CACHE_POINTS, vardelo::CACHE_CURVE_ENTRIES);
  out += " read " + ramKind(bench, offsetof(BenchState, results.readCurves));
  out += " write " + ramKind(bench, offsetof(BenchState, results.writeCurves));
  out += " mmx " + ramKind(bench, offsetof(BenchState, results.writeMmxCurves));
  return out;
}

// Lines "<ms> <what> <value>" for every change seen; the curves at most twice a second, and
// always beside a change of the workers' flags, so each start and end of a sweep shows the
// curves as they stood.
int monitor(HWND main, double seconds, const char* stopFile) {
  BenchReader bench(main);
  if (!bench.ok()) {
    std::printf("no copy of the program's state came\n");
    return 1;
  }
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  std::string last[6];
  double lastCurvesAt = -1e9;
  auto report = [&](int slot, const char* what, const std::string& value, double t) {
    if (last[slot] == value) return false;
    last[slot] = value;
    std::printf("%.0f %s %s\n", t, what, value.c_str());
    std::fflush(stdout);
    return true;
  };
  for (;;) {
    const double t = nowMs(start);
    if (t > seconds * 1000 || !IsWindow(main)) break;
    if (GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES) break;
    if (!bench.update()) continue;  // the window may be gone: the loop's test says
    char flags[64];
    std::snprintf(flags, sizeof flags, "cacheBusy %u ramBusy %u ramRestart %u cacheRestart %u",
                  bench.byte(offsetof(BenchState, protocol.cacheBusy)),
                  bench.byte(offsetof(BenchState, protocol.ramBusy)),
                  bench.byte(offsetof(BenchState, protocol.ramRestart)),
                  bench.byte(offsetof(BenchState, protocol.cacheRestart)));
    const bool flagsChanged = report(0, "flags", flags, t);
    report(1, "tab", std::to_string(selectedTab(main)), t);
    report(2, "pages", visiblePages(main), t);
    report(3, "text139", controlText(main, vardelo::PAGE_CACHE, vardelo::FIELD_FILL_LABEL), t);
    report(4, "text130", controlText(main, vardelo::PAGE_CACHE, vardelo::FIELD_FILL_MODE), t);
    if (flagsChanged || t - lastCurvesAt >= 500) {
      if (report(5, "curves", curvesSummary(bench), t)) lastCurvesAt = t;
    }
    Sleep(50);
  }
  std::printf("%.0f end\n", nowMs(start));
  return 0;
}

}  // namespace probe
