// The cache-size rules on curves measured on real machines (tests/host/data/measured), and on
// curves of today's shapes built from the machines' sizes: the L1 and L2 sizes the page shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "workers/cache_analysis.h"
#include "workers/cache_edges.h"
#include "workers/cache_figures.h"
#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

std::string readFile(const std::string& relative) {
  const std::string path = std::string(VARDELO_MEASURED_DIR) + "/" + relative;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void fillUnmeasured(CurveCopy& curve) { std::fill(std::begin(curve), std::end(curve), NO_POINT); }

// Every number that follows `"key": ` in the text, in order.
std::vector<double> valuesOf(const std::string& text, const std::string& key) {
  std::vector<double> values;
  const std::string needle = "\"" + key + "\": ";
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + 1)) {
    values.push_back(std::strtod(text.c_str() + at + needle.size(), nullptr));
  }
  return values;
}

struct Measured {
  CurveCopy data, code, latency;
  u8 cpuClass = 0;
};

// A report of vardelo-report.exe: the data and code curves, and the latency where it has one.
Measured fromReport(const std::string& relative) {
  const std::string text = readFile(relative);
  Measured m;
  fillUnmeasured(m.data);
  fillUnmeasured(m.code);
  fillUnmeasured(m.latency);
  const std::vector<double> data = valuesOf(text, "dataKiBps"), code = valuesOf(text, "codeKiBps"),
                            latency = valuesOf(text, "latencyTicksX256");
  EXPECT_EQ(data.size(), 160u) << relative;
  for (std::size_t i = 0; i < data.size() && i < 160; ++i) m.data[i] = static_cast<u32>(data[i]);
  for (std::size_t i = 0; i < code.size() && i < 160; ++i) m.code[i] = static_cast<u32>(code[i]);
  for (std::size_t i = 0; i < latency.size() && i < 160; ++i) {
    m.latency[i] = static_cast<u32>(latency[i]);
  }
  m.cpuClass = static_cast<u8>(valuesOf(text, "cpuClass").at(0));
  return m;
}

using Samples = std::vector<std::pair<double, double>>;  // (bytes, value), sizes ascending

// The curve at the sweep's block sizes: linear over the logarithm of the size between samples,
// the first sample's value below the first size, the last one's above the last.
void interpolate(const Samples& samples, double scale, CurveCopy& curve) {
  fillUnmeasured(curve);
  for (u32 i = 0; i < CACHE_POINTS; ++i) {
    const double size = sweepBlockSize(i);
    double value = samples.back().second;
    if (size <= samples.front().first) value = samples.front().second;
    for (std::size_t k = 1; k < samples.size(); ++k) {
      const auto& [s0, v0] = samples[k - 1];
      const auto& [s1, v1] = samples[k];
      if (size >= s0 && size <= s1) {
        value = v0 + (v1 - v0) * std::log(size / s0) / std::log(s1 / s0);
        break;
      }
    }
    curve[i] = static_cast<u32>(value * scale);
  }
}

// zen4-kvm/latency.txt: "8 KiB 1.09 ns" per line; ns to picoseconds (the rules need ratios only).
void zen4Latency(CurveCopy& latency) {
  std::istringstream in(readFile("zen4-kvm/latency.txt"));
  Samples samples;
  double kib, ns;
  std::string unitSize, unitTime;
  while (in >> kib >> unitSize >> ns >> unitTime) samples.push_back({kib * 1024, ns});
  ASSERT_EQ(samples.size(), 26u);
  interpolate(samples, 1000.0, latency);
}

// One curve of zen4-kvm/likwid-curves.json: pairs [bytes, MB/s] at the sweep's sizes from 4608
// on, 4608 standing for points 0 to 2. To KiB/s.
void likwidCurve(const std::string& name, CurveCopy& curve) {
  const std::string text = readFile("zen4-kvm/likwid-curves.json");
  std::size_t at = text.find("\"" + name + "\": [");
  ASSERT_NE(at, std::string::npos) << name;
  at = text.find('[', at);
  std::vector<double> numbers;
  const char* p = text.c_str() + at;
  while (*p != '\0' && *p != '"') {
    if ((*p >= '0' && *p <= '9')) {
      char* end = nullptr;
      numbers.push_back(std::strtod(p, &end));
      p = end;
    } else {
      ++p;
    }
  }
  ASSERT_EQ(numbers.size(), 2u * 158u) << name;
  fillUnmeasured(curve);
  for (u32 i = 0; i < CACHE_POINTS; ++i) {
    const u32 k = i < 2 ? 0 : i - 2;
    ASSERT_EQ(numbers[2 * k], sweepBlockSize(i)) << name << " point " << i;
    curve[i] = static_cast<u32>(numbers[2 * k + 1] * 1e6 / 1024);
  }
}

// The "Read 128-bit SSE" column of intel-xeon-kvm/pmbw.md, GiB/s to KiB/s.
void xeonSse(CurveCopy& curve) {
  std::istringstream in(readFile("intel-xeon-kvm/pmbw.md"));
  Samples samples;
  for (std::string line; std::getline(in, line);) {
    double size = 0, columns[7];
    char unit[8] = {};
    // "| 4 KiB | 37.9 | 75.1 | 51.7 | 153.2 | ..." ; rows of the separate RAM runs do not parse.
    if (std::sscanf(line.c_str(), "| %lf %3s | %lf | %lf | %lf | %lf |", &size, unit, &columns[0],
                    &columns[1], &columns[2], &columns[3]) != 6) {
      continue;
    }
    const double bytes = size * (std::string(unit) == "MiB" ? 1048576 : 1024);
    if (!samples.empty() && bytes <= samples.back().first) continue;
    samples.push_back({bytes, columns[3]});
  }
  ASSERT_EQ(samples.size(), 21u);
  interpolate(samples, 1048576.0, curve);
}

struct Sizes {
  u32 l1KiB, l2KiB;
  FigureSource l1Source, l2Source;
};

// The figures the program derives from finished curves: the analysis' D-cache size (field 101)
// and the worker's L2 size (field 102).
Sizes derive(const CurveCopy& data, const CurveCopy& latency, u8 cpuClass) {
  CacheLevels levels = CACHE_LEVELS_UNSET;
  const FigureSource l1 = findL1Edge(data, latency, levels);
  const L2Figure l2 = l2Figure(data, latency, cpuClass, levels);
  return {levels.dcacheSize / 1024, l2.kib, l1, l2.source};
}

std::string describe(const Sizes& s) {
  return "L1 " + std::to_string(s.l1KiB) + "K by " + figureSourceName(s.l1Source) + ", L2 " +
         std::to_string(s.l2KiB) + "K by " + figureSourceName(s.l2Source);
}

// With pages of its own under the test area the read curve steps at the L1 (about 200 GB/s to
// 95), but the L3 reads at about four fifths of the L2's speed, so the L2 edge is mostly the
// latency's; where other guests slowed the L3 further (report 4) the read speed shows it too.
TEST(MeasuredCurves, Zen3With256BitLoadsAndLatency) {
  for (const char* file :
       {"zen3-kvm/report-1.json", "zen3-kvm/report-2.json", "zen3-kvm/report-3.json",
        "zen3-kvm/report-4.json", "zen3-kvm/report-5.json"}) {
    const Measured m = fromReport(file);
    ASSERT_TRUE(latencyMeasured(m.latency)) << file;
    const Sizes s = derive(m.data, m.latency, m.cpuClass);
    EXPECT_EQ(s.l1KiB, 32u) << file << ": " << describe(s);
    EXPECT_EQ(s.l2KiB, 512u) << file << ": " << describe(s);
    // The read curve alone finds the L1 too.
    CurveCopy noLatency;
    fillUnmeasured(noLatency);
    EXPECT_EQ(derive(m.data, noLatency, m.cpuClass).l1KiB, 32u) << file;
    // The page shows the same D-cache size as the worker derives.
    const CacheFigures f =
        deriveCacheFigures(m.data, m.code, m.latency, m.cpuClass, 0, CacheFigures{});
    EXPECT_EQ(f.dcacheSize.value, 32768u) << file;
  }
}

TEST(MeasuredCurves, Zen4FlatCurveOf128BitLoads) {
  Measured m = fromReport("zen4-kvm/report-sse.json");
  ASSERT_FALSE(latencyMeasured(m.latency)) << "measured before the latency probe";
  // The read curve alone has no edge: the classic rules end at 2 MiB for both, as this report
  // showed.
  const Sizes alone = derive(m.data, m.latency, m.cpuClass);
  EXPECT_EQ(alone.l1KiB, 2048u) << describe(alone);
  EXPECT_EQ(alone.l2KiB, 2048u) << describe(alone);
  // With the machine's latency curve both edges are found.
  zen4Latency(m.latency);
  const Sizes s = derive(m.data, m.latency, m.cpuClass);
  EXPECT_EQ(s.l1KiB, 32u) << describe(s);
  EXPECT_EQ(s.l2KiB, 1024u) << describe(s);
  EXPECT_EQ(s.l1Source, FigureSource::Latency);
  EXPECT_EQ(s.l2Source, FigureSource::Latency);
}

TEST(MeasuredCurves, Zen4LikwidCurvesOfEveryWidthWithLatency) {
  CurveCopy latency;
  zen4Latency(latency);
  for (const char* name : {"load", "load_sse", "load_avx", "load_avx512"}) {
    CurveCopy data;
    likwidCurve(name, data);
    const Sizes s = derive(data, latency, 1);
    EXPECT_EQ(s.l1KiB, 32u) << name << ": " << describe(s);
    EXPECT_EQ(s.l2KiB, 1024u) << name << ": " << describe(s);
    // L3 reads only 10-15 % slower than L2 here: no read-speed rule can see the L2 edge.
    EXPECT_EQ(s.l2Source, FigureSource::Latency) << name;
  }
}

TEST(MeasuredCurves, IntelXeon128BitCurveByTheReadSpeedRules) {
  CurveCopy data, noLatency;
  xeonSse(data);
  fillUnmeasured(noLatency);
  // The classic rules, as without a latency probe: 48 KiB shows as 64K, since the samples hold
  // nothing between 48 and 64 KiB and the curve read between them falls over all 16 points.
  const Sizes s = derive(data, noLatency, 0);
  EXPECT_EQ(s.l1KiB, 64u) << describe(s);
  EXPECT_EQ(s.l2KiB, 2048u) << describe(s);
  EXPECT_EQ(s.l1Source, FigureSource::Bandwidth);
  // The holding fall of the L2 rule that runs beside a latency curve finds the same edge.
  CacheLevels levels = CACHE_LEVELS_UNSET;
  findL1Edge(data, noLatency, levels);
  const L2Edge edge = findL2Edge(data, noLatency, levels);
  EXPECT_EQ(edge.source, FigureSource::Bandwidth);
  EXPECT_EQ(l2SizeAtPointKiB(edge.point, 0, levels.l1Size), 2048u) << "point " << edge.point;
}

// A 48 KiB L1 both curves show sharply, and a 1 MiB L2 whose edge the read speed finds near
// 1 MiB while the latency, lengthened by page walks, crosses its halfway point at 1280 KiB.
TEST(MeasuredCurves, Zen5With512BitLoadsAndLatency) {
  const Measured m = fromReport("zen5-kvm/report-native.json");
  ASSERT_TRUE(latencyMeasured(m.latency));
  CurveCopy noLatency;
  fillUnmeasured(noLatency);
  for (u8 cpuClass : {m.cpuClass, u8{0}}) {
    const Sizes s = derive(m.data, m.latency, cpuClass);
    EXPECT_EQ(s.l1KiB, 48u) << describe(s);
    EXPECT_EQ(s.l2KiB, 1024u) << describe(s);
    EXPECT_EQ(s.l2Source, FigureSource::Bandwidth);
    EXPECT_EQ(derive(m.data, noLatency, cpuClass).l1KiB, 48u);
    // With the L3 read as fast as the L2 the latency decides: its power of two, not 1280K.
    CurveCopy flat;
    std::copy(std::begin(m.data), std::end(m.data), flat);
    CacheLevels levels = CACHE_LEVELS_UNSET;
    findL1Edge(m.data, m.latency, levels);
    std::fill(flat + pointOfSize(levels.l2ProbeSize), flat + CACHE_POINTS, levels.l2Speed);
    const L2Figure byLatency = l2Figure(flat, m.latency, cpuClass, levels);
    EXPECT_EQ(byLatency.source, FigureSource::Latency);
    EXPECT_EQ(byLatency.kib, 1024u) << "class " << int(cpuClass);
  }
}

// The same machine on a busier run: the latency rose from 36 KiB over twelve points and shows
// no size of its own, while the read speed fell sharply after 48 KiB, which decides.
TEST(MeasuredCurves, Zen5WithAGradualLatencyTakesTheSharpReadSpeedEdge) {
  const Measured m = fromReport("zen5-kvm/report-native-gradual.json");
  ASSERT_TRUE(latencyMeasured(m.latency));
  const Sizes s = derive(m.data, m.latency, m.cpuClass);
  EXPECT_EQ(s.l1KiB, 48u) << describe(s);
  EXPECT_EQ(s.l1Source, FigureSource::Bandwidth);
  EXPECT_EQ(s.l2KiB, 1024u) << describe(s);
  // A burst of interference on the L2's plateau (seen once: four points from 96 KiB reading as
  // slowly as the L3) is no edge: the curve comes back to the L2's level after it.
  Measured busy = m;
  const u32 dip = pointOfSize(96 * 1024);
  for (u32 i = dip; i < dip + 4; ++i) busy.data[i] = busy.data[CACHE_POINTS - 1];
  const Sizes b = derive(busy.data, busy.latency, busy.cpuClass);
  EXPECT_EQ(b.l2KiB, 1024u) << describe(b);
}

// Two more busy runs of the same machine, each misread once by a rule that trusted one curve.
TEST(MeasuredCurves, Zen5BusyRunsKeepTheirSizes) {
  const struct {
    const char* file;
    const char* what;
    FigureSource l1Source, l2Source;
  } runs[] = {
      {"zen5-kvm/report-native-early-rise.json",
       "the latency rises from 34 KiB (1.2 to 2.4 ns by 48 KiB) and, crossing its limit at "
       "42 KiB without a size of its own, gives the power of two below; the read speed, flat to "
       "48 KiB and falling sharply after, decides",
       FigureSource::Bandwidth, FigureSource::Bandwidth},
      {"zen5-kvm/report-native-split-l2.json",
       "the L2's plateau reads at two speeds in turn from 54 KiB to 768 KiB (another guest on "
       "the host) while its loads wait 2.6 ns up to 800 KiB: the read speed's fall at 108 KiB "
       "is no edge, the latency's near 1 MiB is",
       FigureSource::Latency, FigureSource::Latency},
  };
  for (const auto& r : runs) {
    const Measured m = fromReport(r.file);
    ASSERT_TRUE(latencyMeasured(m.latency)) << r.file;
    const Sizes s = derive(m.data, m.latency, m.cpuClass);
    EXPECT_EQ(s.l1KiB, 48u) << r.what << ": " << describe(s);
    EXPECT_EQ(s.l1Source, r.l1Source) << r.what;
    EXPECT_EQ(s.l2KiB, 1024u) << r.what << ": " << describe(s);
    EXPECT_EQ(s.l2Source, r.l2Source) << r.what;
  }
}

// A machine of today's shape as its curves show it, speeds in GB/s and latencies in ns: a sharp
// L1 edge (the L1 is indexed within the page), and an L2 edge blurred from two thirds to one and
// a half times its size, where the curves move in proportion to the lines that miss (the L2 is
// indexed above the page, and where the pages land decides which sets overflow first; with
// the test area on large pages the edge is sharp, l2Blur 1). Behind the L2 the L3 up to its
// size, then memory.
struct Machine {
  u32 l1, l2, l3;  // bytes
  double l1Read, l2Read, l3Read, ramRead;
  double l1Ns, l2Ns, l3Ns, ramNs;
  double l2Blur = 1.5;
};

// The share of `block` that misses a level of `size` whose edge is blurred by `blur` (1: sharp).
double missShare(double block, double size, double blur) {
  if (blur == 1) return block > size ? 1 : 0;
  const double first = size / blur, last = size * blur;
  return std::clamp(std::log(block / first) / std::log(last / first), 0.0, 1.0);
}

void machineCurves(const Machine& m, CurveCopy& data, CurveCopy& latency) {
  for (u32 i = 0; i < CACHE_POINTS; ++i) {
    const double block = sweepBlockSize(i);
    const double l1Miss = missShare(block, m.l1, 1), l2Miss = missShare(block, m.l2, m.l2Blur),
                 l3Miss = missShare(block, m.l3, 1.5);
    const auto level = [&](double v1, double v2, double v3, double vRam) {
      const double behindL2 = v3 + (vRam - v3) * l3Miss;
      return v1 + (v2 - v1) * l1Miss + (behindL2 - v2) * l1Miss * l2Miss;
    };
    data[i] = static_cast<u32>(level(m.l1Read, m.l2Read, m.l3Read, m.ramRead) * 1e9 / 1024);
    latency[i] = static_cast<u32>(level(m.l1Ns, m.l2Ns, m.l3Ns, m.ramNs) * 1000);
  }
}

// Where an edge clearly lies at a size that is not a power of two the pages show it; the other
// sizes stay as they were. With and without the latency curve, whichever rule decides.
TEST(MeasuredCurves, SizesOfTodaysMachinesAsTheirCurvesShowThem) {
  constexpr u32 K = 1024, M = 1024 * 1024;
  const struct {
    const char* what;
    Machine machine;
    u8 cpuClass;
    u32 l1KiB, l2KiB;  // with the latency curve
    u32 l1KiBByReadSpeed, l2KiBByReadSpeed;
  } cases[] = {
      // The Xeon of intel-xeon-kvm as the program measures it with 512-bit loads.
      {"48K/2M/300M",
       {48 * K, 2 * M, 300 * M, 330, 136, 60, 20, 1.9, 5.8, 30, 90},
       0,
       48,
       2048,
       48,
       2048},
      {"48K/1M/32M",
       {48 * K, 1 * M, 32 * M, 440, 225, 100, 25, 1.1, 2.5, 6, 90},
       1,
       48,
       1024,
       48,
       1024},
      // Without the latency curve the classic three-quarter limit meets the blurred edge early.
      {"32K/1.25M/30M",
       {32 * K, 1280 * K, 30 * M, 300, 120, 50, 20, 1.2, 4.5, 20, 90},
       0,
       32,
       1280,
       32,
       1024},
      // Blurred up to 2.25 MiB, a 1.5 MiB edge reaches into the last octave, whose best point
      // stands for the next level: the halfway point comes late, and the power of two stays.
      {"48K/1.5M/8M",
       {48 * K, 1536 * K, 8 * M, 300, 120, 50, 20, 1.2, 4.5, 20, 90},
       0,
       48,
       2048,
       48,
       2048},
      {"48K/1.5M/8M, a sharp L2 edge",
       {48 * K, 1536 * K, 8 * M, 300, 120, 50, 20, 1.2, 4.5, 20, 90, 1},
       0,
       48,
       1536,
       48,
       1536},
      // A sharp 3 MiB edge: the rules beside the latency curve take the last octave as the next
      // level, which here is the L2 itself, and find no edge; the classic limit alone finds it.
      {"48K/3M/36M, a sharp L2 edge",
       {48 * K, 3 * M, 36 * M, 300, 120, 50, 20, 1.2, 4.5, 20, 90, 1},
       0,
       48,
       4096,
       48,
       3072},
      // L3 nearly as fast as the L2: the latency finds the L2 edge, the read speed none.
      {"32K/512K/32M",
       {32 * K, 512 * K, 32 * M, 200, 100, 85, 20, 1.1, 4, 14, 90},
       1,
       32,
       512,
       32,
       4096},
      {"24K/1M/2M", {24 * K, 1 * M, 2 * M, 40, 20, 10, 4, 1.5, 6, 30, 100}, 0, 24, 1024, 24, 1024},
  };
  for (const auto& c : cases) {
    CurveCopy data, latency, unprobed;
    machineCurves(c.machine, data, latency);
    fillUnmeasured(unprobed);
    const Sizes s = derive(data, latency, c.cpuClass);
    EXPECT_EQ(s.l1KiB, c.l1KiB) << c.what << ": " << describe(s);
    EXPECT_EQ(s.l2KiB, c.l2KiB) << c.what << ": " << describe(s);
    const Sizes byReadSpeed = derive(data, unprobed, c.cpuClass);
    EXPECT_EQ(byReadSpeed.l1KiB, c.l1KiBByReadSpeed) << c.what << ": " << describe(byReadSpeed);
    EXPECT_EQ(byReadSpeed.l2KiB, c.l2KiBByReadSpeed) << c.what << ": " << describe(byReadSpeed);
    // The page's D-cache figure is the same.
    const CacheFigures f = deriveCacheFigures(data, data, latency, c.cpuClass, 0, CacheFigures{});
    EXPECT_EQ(f.dcacheSize.value, c.l1KiB * K) << c.what;
  }
}

}  // namespace
}  // namespace vardelo
