#include "workers/cache_edges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>

#include "workers/cache_figures.h"
#include "ui/cache_fields.h"
#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

// A curve at `before` up to point `step`, `after` from there, with some points set apart.
struct Curve {
  CurveCopy v;
  Curve(u32 step, u32 before, u32 after, std::initializer_list<std::pair<u32, u32>> set = {}) {
    std::fill(std::begin(v), std::end(v), NO_POINT);
    for (u32 p = 0; p < CACHE_POINTS; ++p) v[p] = p < step ? before : after;
    for (const auto& [p, value] : set) v[p] = value;
  }
};

// A sharp edge holds: every later latency is at least the limit, and half an octave follows it.
TEST(CacheEdges, AnEdgeHoldsForTheRestOfTheCurve) {
  const struct {
    const char* what;
    Curve latency;
    u32 edge;
  } cases[] = {
      {"a clean step", Curve(40, 100, 300), 40},
      {"a spike before the step", Curve(40, 100, 300, {{20, 400}, {21, 400}, {22, 400}}), 40},
      {"one fast point late in the slow part", Curve(40, 100, 300, {{90, 120}}), 91},
      {"the limit itself is slow", Curve(40, 100, 150), 40},
      {"just below the limit", Curve(40, 100, 149), 136},
      {"a step half an octave before the end", Curve(151, 100, 300), 151},
      {"a step in the last half octave", Curve(152, 100, 300), 160},
      {"an unmeasured point", Curve(40, 100, 300, {{150, NO_POINT}}), 151},
  };
  for (const auto& c : cases) {
    const u32 to = c.edge > 136 ? CACHE_POINTS : 136;
    EXPECT_EQ(firstPointStayingAtOrAbove(c.latency.v, 8, to, 150), c.edge) << c.what;
  }
}

// A blurred edge: the median of five reaches the limit, and so does the median of the half
// octave from there; spikes that the curve comes back from are no edge, however many.
TEST(CacheEdges, AMedianRiseHoldsForHalfAnOctave) {
  const struct {
    const char* what;
    Curve latency;
    u32 edge;
  } cases[] = {
      {"a clean rise", Curve(110, 100, 300), 110},
      {"two spikes before it", Curve(110, 100, 300, {{80, 900}, {81, 900}}), 110},
      {"four spikes the curve comes back from",
       Curve(110, 100, 300, {{80, 900}, {81, 900}, {82, 900}, {83, 900}}), 110},
      {"a run of spikes holding into the rise", Curve(110, 100, 300, {{103, 900}, {104, 900}, {105, 900}}),
       103},
      {"a slow climb reaches the limit where the curve does",
       Curve(110, 100, 300,
             {{100, 150},
              {101, 160},
              {102, 170},
              {103, 180},
              {104, 190},
              {105, 200},
              {106, 210},
              {107, 220},
              {108, 230},
              {109, 240}}),
       105},
      {"a climb with a dip in it",
       Curve(110, 100, 300, {{105, 200}, {106, 210}, {107, 100}, {108, 230}, {109, 240}}), 106},
      {"a rise at the last allowed point", Curve(151, 100, 300), 151},
      {"a rise after it", Curve(152, 100, 300), 160},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(firstPointWhereMedianReaches(c.latency.v, 60, CACHE_POINTS, 200), c.edge) << c.what;
    // Speeds mirror it: the same curve upside down falls where the latency rises.
    Curve speed = c.latency;
    for (u32 p = 0; p < CACHE_POINTS; ++p) speed.v[p] = 1000 - speed.v[p];
    EXPECT_EQ(firstPointWhereMedianFallsTo(speed.v, 60, CACHE_POINTS, 800), c.edge) << c.what;
  }
  // At the ends of the curve the medians take the points there are.
  EXPECT_EQ(firstPointWhereMedianReaches(Curve(0, 0, 300).v, 0, CACHE_POINTS, 200), 0u);
}

TEST(CacheEdges, LatencyIsMeasuredOnlyWhenEveryPointIs) {
  Curve lat(50, 100, 300);
  EXPECT_TRUE(latencyMeasured(lat.v));
  for (u32 v : {NO_POINT, 0u}) {  // not yet probed; the record's start value
    for (u32 p : {0u, 159u}) {
      Curve gap(50, 100, 300, {{p, v}});
      EXPECT_FALSE(latencyMeasured(gap.v)) << "point " << p << " = " << v;
    }
  }
  // Entries 160..163 are never measured and do not count.
  Curve tail(50, 100, 300, {});
  EXPECT_TRUE(latencyMeasured(tail.v));
}

TEST(CacheEdges, PointOfSizeAndMedian) {
  EXPECT_EQ(pointOfSize(55296), 59u);
  EXPECT_EQ(pointOfSize(55297), 60u);
  EXPECT_EQ(pointOfSize(6144), 8u) << "the search starts at 8";
  EXPECT_EQ(pointOfSize(0xFFFFFFFFu), 160u);
  Curve c(0, 0, 0, {{10, 5}, {11, 1}, {12, 9}, {13, 7}, {14, 3}});
  EXPECT_EQ(medianOf(c.v, 10, 14), 5u);
  EXPECT_EQ(medianOf(c.v, 11, 13), 7u);
}

// The L1 edge by latency: where the load latency rises to half as much again as at 5 to 7 KiB
// and holds, with the probe point ten places on, as the read-speed rule has it.
TEST(CacheEdges, L1LevelsFromTheLatencyRise) {
  const Curve data(49, 40960000, 10240000);
  const struct {
    const char* what;
    Curve latency;
    bool derived;
    u32 j, l1Size;
    u32 dcacheSize = l1Size;
  } cases[] = {
      {"a rise at 34 KiB", Curve(49, 400, 1200), true, 59, 32768},
      {"a rise at 44 KiB", Curve(54, 400, 1200), true, 64, 65536},
      {"a rise at 21 KiB", Curve(37, 400, 1200), true, 47, 16384},
      // The last point at the L1's latency (within an eighth) measures 48 KiB: that size.
      {"a rise at 50 KiB", Curve(57, 400, 1200), true, 67, 65536, 49152},
      {"a rise at 50 KiB, 48 KiB within an eighth", Curve(57, 400, 1200, {{56, 450}}), true, 67,
       65536, 49152},
      {"a rise at 50 KiB, 48 KiB beyond an eighth", Curve(57, 400, 1200, {{56, 451}}), true, 67,
       65536, 65536},
      {"a rise at 52 KiB", Curve(58, 400, 1200), true, 68, 65536, 65536},
      {"exactly half as much again", Curve(49, 400, 600), true, 59, 32768},
      {"less than that", Curve(49, 400, 599), false, 0, 0},
      {"interference before the rise", Curve(49, 400, 1200, {{30, 2000}, {31, 2000}, {32, 2000}}),
       true, 59, 32768},
      {"a spike among the points of 5 to 7 KiB", Curve(49, 400, 1200, {{8, 5000}}), true, 59,
       32768},
      {"no rise before point 136", Curve(136, 400, 1200), false, 0, 0},
      {"a point not probed yet", Curve(49, 400, 1200, {{150, NO_POINT}}), false, 0, 0},
  };
  for (const auto& c : cases) {
    CacheLevels levels = CACHE_LEVELS_UNSET;
    EXPECT_EQ(l1EdgeByLatency(data.v, c.latency.v, levels), c.derived) << c.what;
    if (!c.derived) {
      EXPECT_EQ(levels.l2ProbeSize, CACHE_LEVELS_UNSET.l2ProbeSize) << c.what << ": untouched";
      continue;
    }
    EXPECT_EQ(levels.l2ProbeSize, curvePointSize(c.j)) << c.what;
    EXPECT_EQ(levels.l1Size, c.l1Size) << c.what;
    EXPECT_EQ(levels.dcacheSize, c.dcacheSize) << c.what;
    EXPECT_EQ(levels.l2Speed,
              (data.v[c.j - 1] + data.v[c.j] + data.v[c.j + 1] + data.v[c.j + 2]) / 4)
        << c.what;
  }
  // The read curve must reach the probe point.
  Curve partial(49, 40960000, 10240000, {{59, NO_POINT}});
  CacheLevels levels = CACHE_LEVELS_UNSET;
  EXPECT_FALSE(l1EdgeByLatency(partial.v, Curve(49, 400, 1200).v, levels));
}

TEST(CacheEdges, L2EdgeByReadSpeedThenByLatency) {
  const CacheLevels levels{1000000, curvePointSize(59), 32768};  // limit 750000, from point 59
  const Curve flatLatency(0, 300, 300);
  const Curve latencyRise(118, 300, 900);
  const Curve unprobed(0, NO_POINT, NO_POINT);
  const struct {
    const char* what;
    Curve data;
    const Curve* latency;
    u32 point;
    FigureSource source;
  } cases[] = {
      {"a fall of the read speed", Curve(114, 1000000, 700000), &latencyRise, 114,
       FigureSource::Bandwidth},
      {"a fall before the probe point does not count",
       Curve(114, 1000000, 700000, {{30, 100}, {58, 100}}), &latencyRise, 114,
       FigureSource::Bandwidth},
      {"a dip that recovers", Curve(160, 1000000, 0, {{90, 600000}, {91, 600000}}), &latencyRise,
       118, FigureSource::Latency},
      {"no fall: the latency rise", Curve(160, 1000000, 0), &latencyRise, 118,
       FigureSource::Latency},
      {"no fall, no rise", Curve(160, 1000000, 0), &flatLatency, 160, FigureSource::SweepEnd},
      {"no fall, latency not probed", Curve(160, 1000000, 0), &unprobed, 160,
       FigureSource::SweepEnd},
      {"a fall, latency not probed", Curve(114, 1000000, 700000), &unprobed, 114,
       FigureSource::Bandwidth},
      {"a next level more than three quarters as fast: the latency decides",
       Curve(114, 1000000, 760000), &latencyRise, 118, FigureSource::Latency},
      {"a slow fall: halfway from 1000000 to 600000",
       Curve(120, 1000000, 600000,
             {{114, 900000},
              {115, 850000},
              {116, 800000},
              {117, 750000},
              {118, 700000},
              {119, 650000}}),
       &latencyRise, 116, FigureSource::Bandwidth},
      {"a fall more than an octave before the latency's rise is no edge",
       Curve(101, 1000000, 700000), &latencyRise, 118, FigureSource::Latency},
      {"a fall an octave before it is", Curve(102, 1000000, 700000), &latencyRise, 102,
       FigureSource::Bandwidth},
      {"the best of the last octave is the next level's speed",
       Curve(114, 1000000, 500000, {{150, 740000}, {120, 600000}}), &latencyRise, 114,
       FigureSource::Bandwidth},
  };
  for (const auto& c : cases) {
    const L2Edge edge = findL2Edge(c.data.v, c.latency->v, levels);
    EXPECT_EQ(edge.point, c.point) << c.what;
    EXPECT_EQ(edge.source, c.source) << c.what;
  }
  // The latency limit lies halfway from the median around the probe point (not the probe point
  // alone) to the lowest latency of the last octave.
  const Curve noFall(160, 1000000, 0);
  const Curve spikyProbe(118, 300, 650, {{59, 5000}});
  EXPECT_EQ(findL2Edge(noFall.v, spikyProbe.v, levels).point, 118u);
  const struct {
    const char* what;
    Curve latency;
    u32 point;
  } halfway[] = {
      {"a slow climb: halfway from 300 to 900 is 600",
       Curve(106, 300, 900,
             {{100, 400}, {101, 500}, {102, 590}, {103, 600}, {104, 700}, {105, 800}}),
       103},
      {"the last octave's lowest point sets the next level",
       [] {
         Curve c(120, 300, 2000, {{150, 900}});  // limit 600, not 1150
         for (u32 p = 105; p < 120; ++p) c.v[p] = 600;
         return c;
       }(),
       105},
      {"a next level half as long again as the L2", Curve(118, 300, 450), 118},
      {"a next level not that far from the L2", Curve(118, 300, 449), 160},
  };
  for (const auto& c : halfway) {
    EXPECT_EQ(findL2Edge(noFall.v, c.latency.v, levels).point, c.point) << c.what;
  }
  // Levels that were never derived lead nowhere.
  EXPECT_EQ(findL2Edge(Curve(114, 1000000, 700000).v, latencyRise.v, CACHE_LEVELS_UNSET).source,
            FigureSource::SweepEnd);
}

// On curves of the shape the rules were first made for (clean steps), the latency-led analysis
// gives the same figures as the read-speed rules alone, wherever the two curves step together.
TEST(CacheEdges, OldShapedCurvesGiveTheSameFiguresWithTheLatencyCurve) {
  for (u32 l1Step : {9u, 37u, 38u, 49u, 53u, 54u, 70u}) {
    for (u32 l2Step : {100u, 114u, 117u, 130u, 160u}) {
      if (l2Step <= l1Step + 12) continue;
      const Curve data(l1Step, 40960000, 20480000, {});
      Curve withL2 = data;
      for (u32 p = l2Step; p < CACHE_POINTS; ++p) withL2.v[p] = 4096000;
      Curve latency(l1Step, 400, 1200);
      for (u32 p = l2Step; p < CACHE_POINTS; ++p) latency.v[p] = 9000;
      Curve code(48, 30000000, 20000000);
      const std::string what =
          "L1 step " + std::to_string(l1Step) + ", L2 step " + std::to_string(l2Step);
      for (u8 cpuClass : {u8{0}, u8{1}, u8{2}}) {
        CurveCopy unprobed;
        clearCurveCopy(unprobed);
        const CacheFigures old =
            deriveCacheFigures(withL2.v, code.v, unprobed, cpuClass, 0, CacheFigures{});
        const CacheFigures now =
            deriveCacheFigures(withL2.v, code.v, latency.v, cpuClass, 0, CacheFigures{});
        EXPECT_EQ(now.dcacheSize.source, FigureSource::Latency) << what;
        const CacheLevels oldLevels = levelsOf(old), nowLevels = levelsOf(now);
        EXPECT_EQ(nowLevels.l1Size, oldLevels.l1Size) << what;
        EXPECT_EQ(nowLevels.l2ProbeSize, oldLevels.l2ProbeSize) << what;
        EXPECT_EQ(nowLevels.l2Speed, oldLevels.l2Speed) << what;
        const FieldUpdates oldTexts = cacheFieldTexts(old, cpuClass);
        const FieldUpdates nowTexts = cacheFieldTexts(now, cpuClass);
        ASSERT_EQ(nowTexts.count, oldTexts.count) << what;
        for (int k = 0; k < oldTexts.count; ++k) {
          EXPECT_STREQ(nowTexts.items[k].text, oldTexts.items[k].text) << what << ", field " << k;
        }
        EXPECT_EQ(l2Figure(withL2.v, latency.v, cpuClass, nowLevels).kib,
                  l2Figure(withL2.v, unprobed, cpuClass, oldLevels).kib)
            << what << ", class " << int(cpuClass);
      }
    }
  }
}

}  // namespace
}  // namespace vardelo
