#include "workers/cache_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ui/cache_fields.h"
#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

constexpr u32 FAST = 40960000;  // 40000 MiB/s, inside L1
// Three quarters of FAST: the L1 edge threshold taken from entry 8.
constexpr u32 EDGE_LIMIT = FAST - FAST / 4;
// Slow speeds differ per point so that a mean over the wrong entries shows.
constexpr u32 slowAt(u32 i) { return 10240000 + 4096 * i; }

struct Curves {
  CurveCopy d;
  CurveCopy i;
  Curves() {
    std::fill(std::begin(d), std::end(d), NO_POINT);
    std::fill(std::begin(i), std::end(i), NO_POINT);
  }
};

// A data curve fast up to `firstSlow`, then slow, measured for points 0..measuredEnd-1.
void fillDataCurve(CurveCopy& d, u32 firstSlow, u32 measuredEnd = CACHE_POINTS) {
  for (u32 p = 0; p < measuredEnd; ++p) d[p] = p < firstSlow ? FAST : slowAt(p);
}

// "id:text" for every update, in order, for messages that show the whole list.
std::string describe(const FieldUpdates& fields) {
  std::ostringstream out;
  for (int k = 0; k < fields.count; ++k) {
    out << fields.items[k].controlId << ":\"" << fields.items[k].text << "\" ";
  }
  return out.str();
}

// The text of field `id`, or "(none)" if the analysis left it alone.
std::string textOf(const FieldUpdates& fields, u32 id) {
  for (int k = 0; k < fields.count; ++k) {
    if (fields.items[k].controlId == id) return fields.items[k].text;
  }
  return "(none)";
}

constexpr CacheLevels EARLIER{123456, 99999, 65536};  // values of some earlier run

// The figures of an earlier run whose levels were `levels`.
CacheFigures figuresWith(const CacheLevels& levels) {
  CacheFigures f;
  if (levels.l1Size == 0) return f;
  f.dcacheSize = figure(levels.l1Size, FigureSource::Bandwidth);
  f.l2Speed = figure(levels.l2Speed, FigureSource::Bandwidth);
  f.l2ProbeSize = levels.l2ProbeSize;
  return f;
}

// One derivation without a latency curve: the levels it leaves, and the texts of the figures it
// changed (the page keeps the texts of the others).
struct Analysis {
  CacheLevels levels;
  FieldUpdates fields;
};
Analysis analyse(const CurveCopy& d, const CurveCopy& i, u8 cpuClass, const CacheLevels& previous,
                 u32 mainMemorySpeed = 0) {
  CurveCopy noLatency;
  clearCurveCopy(noLatency);
  const CacheFigures before = figuresWith(previous);
  const CacheFigures after = deriveCacheFigures(d, i, noLatency, cpuClass, mainMemorySpeed, before);
  CacheFigures changed = after;
  Figure CacheFigures::*all[] = {&CacheFigures::codeSpeed,  &CacheFigures::dataSpeed,
                                 &CacheFigures::icacheSize, &CacheFigures::dcacheSize,
                                 &CacheFigures::l2Speed,    &CacheFigures::ramSpeed};
  for (auto member : all) {
    if (after.*member == before.*member) changed.*member = Figure{};
  }
  return {levelsOf(after), cacheFieldTexts(changed, cpuClass)};
}

TEST(CacheAnalysis, L1SizeFromTheFirstSlowPoint) {
  const struct {
    u32 firstSlow;
    u32 j;
    u32 l1Size;
    const char* field101;
  } cases[] = {
      {49, 59, 32768, "   32K "},  // 34 KiB: probe at 54 KiB
      {38, 48, 32768, "   32K "},  // 22 KiB
      {53, 63, 32768, "   32K "},  // 42 KiB
      {54, 64, 65536, "   64K "},  // 44 KiB
      {37, 47, 16384, "   16K "},  // 21 KiB
      {9, 19, 8192, "    8K "},
      // The last fast point at 48 or 24 KiB: that size, over the same power of two within.
      {57, 67, 65536, "   48K "},
      {41, 51, 32768, "   24K "},
      {56, 66, 65536, "   64K "},  // 46 KiB fast
      {58, 68, 65536, "   64K "},  // 50 KiB fast
  };
  for (const auto& c : cases) {
    Curves curves;
    fillDataCurve(curves.d, c.firstSlow);
    const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET);
    const u32 l2Speed = (slowAt(c.j - 1) + slowAt(c.j) + slowAt(c.j + 1) + slowAt(c.j + 2)) / 4;
    EXPECT_EQ(a.levels.l2ProbeSize, curvePointSize(c.j)) << "first slow point " << c.firstSlow;
    EXPECT_EQ(a.levels.l1Size, c.l1Size) << "first slow point " << c.firstSlow;
    EXPECT_EQ(a.levels.l2Speed, l2Speed) << "first slow point " << c.firstSlow;
    EXPECT_EQ(textOf(a.fields, FIELD_DCACHE_SIZE), c.field101)
        << "first slow point " << c.firstSlow;
  }
}

// A size that is not a power of two needs a clear edge: the curve leaves the L1's level (an
// eighth below entry 8) and passes three quarters of it within four points.
TEST(CacheAnalysis, A48KiBEdgeMustBeClear) {
  const struct {
    const char* what;
    std::vector<std::pair<u32, u32>> between;  // points after 56 before the fall
    u32 firstSlow;
    const char* field101;
  } cases[] = {
      {"a fall over three points", {{57, FAST - FAST / 5}, {58, FAST - FAST / 5}}, 59, "   48K "},
      {"a fall over five points",
       {{57, FAST - FAST / 5}, {58, FAST - FAST / 5}, {59, FAST - FAST / 5}, {60, FAST - FAST / 5}},
       61,
       "   64K "},
      {"48 KiB itself below the level", {{56, FAST - FAST / 7}}, 57, "   64K "},
      {"48 KiB within an eighth", {{56, FAST - FAST / 8}}, 57, "   48K "},
  };
  for (const auto& c : cases) {
    Curves curves;
    fillDataCurve(curves.d, c.firstSlow);
    for (const auto& [point, speed] : c.between) curves.d[point] = speed;
    const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET);
    EXPECT_EQ(textOf(a.fields, FIELD_DCACHE_SIZE), c.field101) << c.what;
    EXPECT_EQ(a.levels.l1Size, 65536u) << c.what << ": the L2 rounding keeps its power of two";
  }
}

TEST(CacheAnalysis, APointExactlyAtThreeQuartersOfEntry8IsSlow) {
  const struct {
    u32 valueAt49;
    u32 l2ProbeSize;
  } cases[] = {
      {EDGE_LIMIT, curvePointSize(59)},
      {EDGE_LIMIT + 1, curvePointSize(70)},  // not slow; the drop at 60 counts
  };
  for (const auto& c : cases) {
    Curves curves;
    fillDataCurve(curves.d, 60);
    curves.d[49] = c.valueAt49;
    EXPECT_EQ(analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET).levels.l2ProbeSize, c.l2ProbeSize)
        << "entry 49 = " << c.valueAt49;
  }
}

TEST(CacheAnalysis, WithoutADropTheFiguresComeFromEntries145To148) {
  Curves curves;
  fillDataCurve(curves.d, CACHE_POINTS);
  for (u32 p = 140; p < CACHE_POINTS; ++p) curves.d[p] = FAST - 1000 * p;
  const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET);
  const u32 expected = (curves.d[145] + curves.d[146] + curves.d[147] + curves.d[148]) / 4;
  EXPECT_EQ(a.levels.l2Speed, expected);
  EXPECT_EQ(a.levels.l2ProbeSize, curvePointSize(146));
  EXPECT_EQ(a.levels.l1Size, 2097152u);
}

TEST(CacheAnalysis, UnmeasuredEntry8MakesTheSearchRunToItsEnd) {
  // Entry 8 unmeasured: the threshold is negative, no measured or unmeasured entry falls to it,
  // and the search ends at 136. With 146 unmeasured nothing is derived.
  Curves curves;
  fillDataCurve(curves.d, CACHE_POINTS, 8);
  Analysis a = analyse(curves.d, curves.i, 0, EARLIER);
  EXPECT_EQ(a.levels.l2Speed, EARLIER.l2Speed);
  EXPECT_EQ(a.levels.l2ProbeSize, EARLIER.l2ProbeSize);
  EXPECT_EQ(a.levels.l1Size, EARLIER.l1Size);
  EXPECT_EQ(textOf(a.fields, FIELD_DCACHE_SIZE), "(none)");
  EXPECT_EQ(textOf(a.fields, FIELD_L2_SPEED), "(none)");

  // The same search, made visible: later entries are measured and slow, yet none is at or below
  // the negative threshold, so the figures come from 145..148.
  fillDataCurve(curves.d, 0);
  curves.d[8] = NO_POINT;
  a = analyse(curves.d, curves.i, 0, EARLIER);
  EXPECT_EQ(a.levels.l2ProbeSize, curvePointSize(146));
}

TEST(CacheAnalysis, NothingIsDerivedUntilTenPointsPastTheEdgeAreMeasured) {
  const struct {
    u32 measuredEnd;  // points 0..measuredEnd-1 measured; the drop is at 49
    bool derived;
  } cases[] = {
      {41, false},  // the search stops at the unmeasured 41; 51 is unmeasured
      {52, false},  // the search stops at the drop, 49, and 59 is unmeasured
      {59, false},
      {60, true},  // 59 measured
  };
  for (const auto& c : cases) {
    Curves curves;
    fillDataCurve(curves.d, 49, c.measuredEnd);
    const Analysis a = analyse(curves.d, curves.i, 0, EARLIER);
    const bool derived = a.levels.l2ProbeSize != EARLIER.l2ProbeSize;
    EXPECT_EQ(derived, c.derived) << "measured to " << c.measuredEnd;
    EXPECT_EQ(textOf(a.fields, FIELD_DCACHE_SIZE) != "(none)", c.derived)
        << "measured to " << c.measuredEnd << ": " << describe(a.fields);
  }
  // The search stops at the first unmeasured point: with 0..40 measured it stops at 41, so a
  // measured entry 51 yields the figures.
  {
    Curves curves;
    fillDataCurve(curves.d, 49, 41);
    curves.d[51] = slowAt(51);
    EXPECT_EQ(analyse(curves.d, curves.i, 0, EARLIER).levels.l2ProbeSize, curvePointSize(51));
  }
  // With 60 and 61 still unmeasured, each adds -1 to the 32-bit sum; the next run corrects it.
  Curves curves;
  fillDataCurve(curves.d, 49, 60);
  EXPECT_EQ(analyse(curves.d, curves.i, 0, EARLIER).levels.l2Speed,
            (slowAt(58) + slowAt(59) - 2) / 4);
}

TEST(CacheAnalysis, MainMemorySpeedNeedsEntry157AndANonzeroFigure) {
  const struct {
    u32 measuredEnd;
    u32 ram;  // speed of points 156..159
    const char* field114;
  } cases[] = {
      {157, 2048000, "(none)"},  // 157 unmeasured
      {160, 2048000, "  2000 "},
      {160, 1023, "(none)"},  // below 1 MiB/s: the field keeps its text
      {160, 1024, "     1 "},
  };
  for (const auto& c : cases) {
    Curves curves;
    fillDataCurve(curves.d, 49, c.measuredEnd);
    for (u32 p = 156; p < c.measuredEnd; ++p) curves.d[p] = c.ram;
    const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET);
    EXPECT_EQ(textOf(a.fields, FIELD_RAM_SPEED), c.field114)
        << "measured to " << c.measuredEnd << ", ram " << c.ram;
  }
}

// A main-memory speed measured on its own replaces the curve's last points, measured or not.
TEST(CacheAnalysis, AMeasuredMainMemorySpeedIsTheRamFigure) {
  const struct {
    u32 measuredEnd;
    u32 mainMemory;
    const char* field114;
  } cases[] = {
      {160, 12345678, " 12056 "},
      {100, 12345678, " 12056 "},  // before the curve reaches its end
      {160, 1023, "(none)"},       // below 1 MiB/s: the field keeps its text
      {160, 0, "  2000 "},         // none measured: the curve's figure
  };
  for (const auto& c : cases) {
    Curves curves;
    fillDataCurve(curves.d, 49, c.measuredEnd);
    for (u32 p = 156; p < c.measuredEnd; ++p) curves.d[p] = 2048000;
    const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET, c.mainMemory);
    EXPECT_EQ(textOf(a.fields, FIELD_RAM_SPEED), c.field114)
        << "measured to " << c.measuredEnd << ", main memory " << c.mainMemory;
  }
}

TEST(CacheAnalysis, PeakSpeedsBelow1024LeaveTheirFields) {
  const struct {
    u32 peak;
    const char* text;
  } cases[] = {
      {1023, "(none)"},
      {1024, "      1 "},
      {FAST, "  40000 "},
  };
  for (const auto& c : cases) {
    Curves curves;
    for (u32 p = 0; p < CACHE_POINTS; ++p) curves.d[p] = curves.i[p] = c.peak / 2;
    curves.d[20] = curves.i[30] = c.peak;
    // Entries past 95 are not searched for the peak.
    curves.d[96] = curves.i[96] = c.peak * 2;
    const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET);
    EXPECT_EQ(textOf(a.fields, FIELD_DCACHE_SPEED), c.text) << "peak " << c.peak;
    EXPECT_EQ(textOf(a.fields, FIELD_ICACHE_SPEED), c.text) << "peak " << c.peak;
  }
}

// A code curve with its peak at 30 (15 KiB), points above seven eighths of it up to `lastHigh`
// and `after` (by default just seven eighths) past it.
constexpr u32 CODE_LIMIT = FAST - FAST / 8;
void fillCodeCurve(CurveCopy& c, u32 lastHigh, u32 measuredEnd = CACHE_POINTS,
                   u32 after = CODE_LIMIT) {
  for (u32 p = 0; p < measuredEnd; ++p) c[p] = p <= lastHigh ? CODE_LIMIT + 1 : after;
  c[30] = FAST;
}

TEST(CacheAnalysis, CodeCacheSizeByProcessorClass) {
  const struct {
    u32 lastHigh;
    u32 measuredEnd;
    u8 cpuClass;
    const char* field100;
    u32 after = CODE_LIMIT;
  } cases[] = {
      {47, 160, 0, "   32K "},  // 31 KiB, to the power of two
      {47, 160, 1, "   32K "},
      {47, 160, 2, "  31k:4*"},  // the point's own size
      {30, 160, 0, "   16K "},   // nothing above 7/8 after the peak: the peak's point
      {30, 160, 2, "  15k:4*"},
      {47, 40, 0, "   32K "},  // part measured: the highest measured point, 39 (23 KiB)
      {47, 40, 2, "  23k:4*"},
      {0, 0, 0, "(none)"},  // nothing measured
      // Even a clear fall right after 48 or 24 KiB keeps the power of two: no instruction cache
      // has those sizes, and a busy machine's code curve can show such a fall.
      {56, 160, 0, "   64K ", FAST / 2},
      {40, 160, 1, "   32K ", FAST / 2},
      {56, 160, 2, "  48k:4*", FAST / 2},
      {56, 160, 0, "   64K "},
  };
  for (const auto& c : cases) {
    Curves curves;
    if (c.measuredEnd > 0) fillCodeCurve(curves.i, c.lastHigh, c.measuredEnd, c.after);
    const Analysis a = analyse(curves.d, curves.i, c.cpuClass, CACHE_LEVELS_UNSET);
    EXPECT_EQ(textOf(a.fields, FIELD_ICACHE_SIZE), c.field100)
        << "last high point " << c.lastHigh << ", measured to " << c.measuredEnd << ", class "
        << int(c.cpuClass);
  }
}

TEST(CacheAnalysis, FieldsComeInTheOrderOfTheSteps) {
  Curves curves;
  fillDataCurve(curves.d, 49);
  fillCodeCurve(curves.i, 47);
  const Analysis a = analyse(curves.d, curves.i, 0, CACHE_LEVELS_UNSET);
  // 112: mean of slowAt(58..61) = 10483712 KiB/s; 114: mean of slowAt(156..159) = 10885120 KiB/s.
  EXPECT_EQ(describe(a.fields),
            "111:\"  40000 \" 112:\"  10238 \" 101:\"   32K \" 114:\" 10630 \" "
            "110:\"  40000 \" 100:\"   32K \" ");
}

}  // namespace
}  // namespace vardelo
