// The cache-size rules on curves measured on real machines (tests/host/data/measured): the
// derived L1 and L2 sizes are the true sizes rounded up to a power of two.
#include <gtest/gtest.h>

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
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
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
  return {levels.l1Size / 1024, l2.kib, l1, l2.source};
}

std::string describe(const Sizes& s) {
  return "L1 " + std::to_string(s.l1KiB) + "K by " + figureSourceName(s.l1Source) + ", L2 " +
         std::to_string(s.l2KiB) + "K by " + figureSourceName(s.l2Source);
}

// With pages of its own under the test area the read curve steps at the L1 (about 200 GB/s to
// 95), but the L3 reads at about four fifths of the L2's speed, so the L2 edge is mostly the
// latency's; where other guests slowed the L3 further (report 4) the read speed shows it too.
TEST(MeasuredCurves, Zen3With256BitLoadsAndLatency) {
  for (const char* file : {"zen3-kvm/report-1.json", "zen3-kvm/report-2.json",
                           "zen3-kvm/report-3.json", "zen3-kvm/report-4.json",
                           "zen3-kvm/report-5.json"}) {
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
  // The classic rules, as without a latency probe: 48 KiB shows as 64K.
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

}  // namespace
}  // namespace vardelo
