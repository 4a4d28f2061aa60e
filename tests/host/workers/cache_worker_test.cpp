#include "workers/cache_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/constants.h"
#include "core/processor.h"
#include "tests/host/fakes/platform_fake.h"
#include "ui/cache_fields.h"
#include "workers/cache_analysis.h"
#include "workers/cache_geometry.h"
#include "workers/sweep_exclusion.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

// A machine with a 32 KiB L1 data cache, a 512 KiB L2 and 64-byte lines, as the kernels would
// see it: speeds in KiB/s by block size, and line-probe times that grow with the lines touched.
constexpr u32 L1_SPEED = 45'000'000, L2_SPEED = 20'000'000, RAM_SPEED = 6'000'000;
constexpr u32 CODE_SPEED = 30'000'000;

int measureCalls = 0;
void (*onMeasure)(int call) = nullptr;

u32 fakeMeasure(u32 kind, u32 size) {
  ++measureCalls;
  if (onMeasure) onMeasure(measureCalls);
  if (kind != 0) return size <= 32768 ? CODE_SPEED : CODE_SPEED / 3;
  if (size == READ_VARIANT_BYTES && bench.results.dcacheCurve[0].load() == NO_POINT) {
    const u32 byMode[3] = {40'000'000, 45'000'000, 45'000'000};  // MMX and SSE tie
    return byMode[bench.measuring.readMode.load()];
  }
  return size <= 32768 ? L1_SPEED : size <= 524288 ? L2_SPEED : RAM_SPEED;
}

void fakeSearch(const FillProgress&) { bench.measuring.fillMode = 0xB3A5; }

std::uint64_t fakeLinePass(u32 length, u32 stride) {
  const u32 line = 64;
  return std::uint64_t{length / (stride > line ? stride : line)} * 100 + (length / stride) * 2;
}

const CacheOps OPS{fakeMeasure, fakeSearch, fakeLinePass};

// Main memory behind a large cache, reached only through flushed windows: its probe sees pairs
// of lines fetched together (128 bytes), and its read speed is its own.
constexpr u32 MAIN_MEMORY_SPEED = 12'345'678;
std::vector<u32> warmProbeLengths, coldProbeLengths;
int mainMemoryReads = 0;

std::uint64_t recordingLinePass(u32 length, u32 stride) {
  warmProbeLengths.push_back(length);
  return fakeLinePass(length, stride);
}
std::uint64_t coldLinePass(u32 length, u32 stride) {
  coldProbeLengths.push_back(length);
  const u32 line = 128;
  return std::uint64_t{length / (stride > line ? stride : line)} * 300 + (length / stride) * 2;
}
u32 fakeMainMemoryRead() {
  ++mainMemoryReads;
  return MAIN_MEMORY_SPEED;
}
const CacheOps COLD_OPS{fakeMeasure, fakeSearch,   recordingLinePass, nullptr,
                        nullptr,     coldLinePass, fakeMainMemoryRead};

class CacheWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::platformLog().totalMemoryBytes = 24ull << 30;
    measureCalls = 0;
    onMeasure = nullptr;
    resetBench();
    for (auto& e : bench.results.latencyCurve) e = NO_POINT;
    warmProbeLengths.clear();
    coldProbeLengths.clear();
    mainMemoryReads = 0;
  }
  void TearDown() override {
    fake::reset();
    if (sweepOwner() == 1) endCacheSweep();
    resetBench();
  }

  // What the cache page shows: the last text the worker sent to each field, and each figure it
  // derived as the page formats it.
  static std::map<u32, std::string> fields() {
    std::map<u32, std::string> last;
    for (const auto& t : fake::platformLog().texts) {
      EXPECT_EQ(t.page, 0u);
      last[t.controlId] = t.text;
    }
    const FieldUpdates shown =
        cacheFieldTexts(bench.results.cacheFigures.load(), bench.machine.cpuClass.load());
    for (int k = 0; k < shown.count; ++k) last[shown.items[k].controlId] = shown.items[k].text;
    return last;
  }
};

TEST_F(CacheWorker, AWholeSweepDerivesTheFiguresOfTheModelledMachine) {
  cacheWorkerStart();
  cacheSweep(OPS);

  EXPECT_EQ(bench.measuring.readMode.load(), 2) << "ties go to the higher variant";
  for (u32 i = 0; i < CACHE_POINTS; ++i) {
    const u32 size = sweepBlockSize(i);
    const u32 data = size <= 32768 ? L1_SPEED : size <= 524288 ? L2_SPEED : RAM_SPEED;
    ASSERT_EQ(bench.results.dcacheCurve[i].load(), data) << "data point " << i;
    ASSERT_NE(bench.results.icacheCurve[i].load(), NO_POINT) << "code point " << i;
  }
  for (int i = CACHE_POINTS; i < CACHE_CURVE_ENTRIES; ++i) {
    EXPECT_EQ(bench.results.dcacheCurve[i].load(), NO_POINT) << i;
    EXPECT_EQ(bench.results.icacheCurve[i].load(), NO_POINT) << i;
  }
  EXPECT_EQ(bench.measuring.lineSize.load(), 64);
  EXPECT_EQ(bench.measuring.fillMode.load(), 0xB3A5);
  EXPECT_EQ(bench.protocol.cacheBusy.load(), 0);
  EXPECT_EQ(bench.results.cacheMax.load(), L1_SPEED);

  // The worker derived the figures and published them.
  EXPECT_EQ(bench.results.cacheFigures.load().dcacheSize.value, 32768u);
  EXPECT_EQ(bench.results.cacheFigures.load().l2ProbeSize, 55296u);
  EXPECT_EQ(bench.results.cacheFigures.load().l2Speed.value, L2_SPEED);

  const auto f = fields();
  EXPECT_EQ(f.at(122), " 64byts*");
  EXPECT_EQ(f.at(124), " 64byts");
  EXPECT_EQ(f.at(102), "  512K ");
  EXPECT_EQ(f.at(104), " 24584M ");
  EXPECT_EQ(f.at(130), "    B3A5");

  const auto& log = fake::platformLog();
  EXPECT_EQ(log.affinityMasks, std::vector<u32>{1});
  EXPECT_EQ(log.tabsSelected, std::vector<u32>{0});
  EXPECT_EQ(log.posted, std::vector<u32>{UM_SHOW_TAB});
  // 50 ms before the data sweep, at the start of each of the two probes, before the code sweep.
  EXPECT_EQ(log.sleeps, (std::vector<u32>{50, 50, 50, 50}));
  EXPECT_EQ(bench.protocol.cacheRedraw.load(), 2)
      << "at the thread's start and after the data sweep";
}

// The search reports to the display the sweep hands it, and that display is the cache page's
// "mode" label and fill-code field; after the search the field holds the winner.
TEST_F(CacheWorker, TheFillSearchShowsItsProgressOnTheCachePage) {
  static const CacheOps ops{fakeMeasure,
                            [](const FillProgress& progress) {
                              bench.measuring.fillMode = 0x1234;
                              progress.step(2560, 0x1234);
                              progress.done();
                            },
                            fakeLinePass};
  char savedBar[sizeof bench.measuring.progressBar];
  std::copy(std::begin(bench.measuring.progressBar), std::end(bench.measuring.progressBar),
            savedBar);
  cacheSweep(ops);
  std::copy(std::begin(savedBar), std::end(savedBar), bench.measuring.progressBar);

  std::vector<std::string> label, value;
  for (const auto& t : fake::platformLog().texts) {
    EXPECT_EQ(t.page, PAGE_CACHE);
    if (t.controlId == FIELD_FILL_LABEL) label.push_back(t.text);
    if (t.controlId == FIELD_FILL_MODE) value.push_back(t.text);
  }
  EXPECT_EQ(label, (std::vector<std::string>{"<|>", "-", "mode"}));
  EXPECT_EQ(value, (std::vector<std::string>{"    1234", "    1234"}));
}

TEST_F(CacheWorker, CountsEveryPointAndEveryNewMaximum) {
  cacheSweep(OPS);
  // 320 points; the maximum (seeded with the best variant, 45,000,000) is met again by each of the
  // 49 data points at or below 32 KiB, and equality counts as a new maximum; once more for the
  // figures measured after the data sweep.
  EXPECT_EQ(bench.protocol.cacheNewMax.load(), 49);
  EXPECT_EQ(bench.protocol.cacheDirty.load(), 320u + 49u + 1u);
}

// What an earlier sweep left (here from a different curve) neither survives the sweep nor enters
// the worker's figures: they come from the finished curve.
TEST_F(CacheWorker, DerivesItsFiguresFromTheFinishedCurveNotFromThePaintersValues) {
  CacheFigures earlier;  // an earlier sweep saw a 64 KiB cache
  earlier.l2Speed = figure(16'000'000, FigureSource::Bandwidth);
  earlier.l2ProbeSize = 110592;
  earlier.dcacheSize = figure(65536, FigureSource::Bandwidth);
  bench.results.cacheFigures.store(earlier);
  std::vector<u32> lengths;
  static std::vector<u32>* seen;
  seen = &lengths;
  static const CacheOps ops{fakeMeasure, fakeSearch, [](u32 length, u32 stride) {
                              seen->push_back(length);
                              return fakeLinePass(length, stride);
                            }};
  cacheSweep(ops);
  EXPECT_EQ(bench.results.cacheFigures.load().dcacheSize.value, 32768u);
  EXPECT_EQ(bench.results.cacheFigures.load().l2ProbeSize, 55296u);
  EXPECT_EQ(bench.results.cacheFigures.load().l2Speed.value, L2_SPEED);
  ASSERT_FALSE(lengths.empty());
  EXPECT_EQ(lengths.front(), 55296u) << "the L2 line probe reads the worker's own probe size";
  // limit 15,000,000 first reached past 512 KiB: 557056 rounds to 557056 in 32 KiB steps.
  EXPECT_EQ(fields().at(102), "  512K ");
}

TEST_F(CacheWorker, WaitsWhileARamPassRuns) {
  bench.protocol.cacheBusy = 0;
  bench.protocol.ramBusy = 1;
  fake::platformLog().onSleep = [](u32 ms) {
    if (ms == CACHE_WAIT_MS && fake::platformLog().sleeps.size() == 3) bench.protocol.ramBusy = 0;
  };
  cacheSweep(OPS);
  const auto& sleeps = fake::platformLog().sleeps;
  ASSERT_GE(sleeps.size(), 3u);
  EXPECT_EQ(sleeps[0], CACHE_WAIT_MS);
  EXPECT_EQ(sleeps[2], CACHE_WAIT_MS);
  EXPECT_NE(sleeps[3], CACHE_WAIT_MS) << "the sweep starts once ramBusy is 0";
  EXPECT_EQ(measureCalls, 3 + 160 + 160);
}

// The variant choice times the 256- and 512-bit loads only where they can run, after the three
// classic widths; where they cannot, the sweep is the one of a processor without them.
std::vector<u32> modesTimed;

u32 wideMeasure(u32 kind, u32 size) {
  if (kind == 0 && size == READ_VARIANT_BYTES && bench.results.dcacheCurve[0].load() == NO_POINT) {
    const u32 mode = bench.measuring.readMode.load();
    modesTimed.push_back(mode);
    const u32 byMode[5] = {40'000'000, 45'000'000, 45'000'000, 90'000'000, 80'000'000};
    return mode < 5 ? byMode[mode] : 0;
  }
  return fakeMeasure(kind, size);
}

TEST_F(CacheWorker, TriesTheWideVariantsWhereTheyAreAvailable) {
  static const CacheOps wide{wideMeasure, fakeSearch, fakeLinePass};
  const struct {
    u8 avx, avx512;
    std::vector<u32> timed;
    u8 readMode;
  } cases[] = {
      {0, 0, {0, 1, 2}, 2},
      {1, 0, {0, 1, 2, 3}, 3},
      {1, 1, {0, 1, 2, 3, 4}, 3},  // 512-bit loads slower than 256-bit ones here
      {0, 1, {0, 1, 2, 4}, 4},
  };
  for (const auto& c : cases) {
    SetUp();
    bench.machine.avx = c.avx;
    bench.machine.avx512 = c.avx512;
    modesTimed.clear();
    cacheSweep(wide);
    EXPECT_EQ(modesTimed, c.timed) << "avx " << int(c.avx) << ", avx512 " << int(c.avx512);
    EXPECT_EQ(bench.measuring.readMode.load(), c.readMode)
        << "avx " << int(c.avx) << ", avx512 " << int(c.avx512);
  }
}

// The latency probe covers the block sizes of the data curve once the data curve is complete
// and before the line probes, keeps the lowest of its passes at each size, and a new sweep
// starts from an empty latency curve.
std::vector<std::string> events;

u32 eventMeasure(u32 kind, u32 size) {
  if (kind == 0 && size == sweepBlockSize(CACHE_POINTS - 1)) events.push_back("last data point");
  return fakeMeasure(kind, size);
}
std::vector<u32> latencyBlocks;  // in the order probed

// Each pass returns other values at some sizes, as interference would: 0x400 and 0x1200 are the
// lowest, and the curve must keep them.
u32 fakeLatency(u32 block) {
  if (events.empty() || events.back() != "latency") {
    events.push_back("latency");
    EXPECT_EQ(bench.results.latencyCurve[0].load(), NO_POINT)
        << "cleared at the start of the sweep";
  }
  latencyBlocks.push_back(block);
  const u32 pass = (latencyBlocks.size() - 1) / CACHE_POINTS;
  const u32 low = block <= 32768 ? 0x400 : 0x1200;
  return (block / 256 + pass) % LATENCY_PASSES == 0 ? low : low + 0x500 * (pass + 1);
}
std::uint64_t eventLinePass(u32 length, u32 stride) {
  if (events.back() != "line probe") events.push_back("line probe");
  return fakeLinePass(length, stride);
}

TEST_F(CacheWorker, ProbesTheLatencyOfEveryBlockAfterTheDataSweep) {
  static const CacheOps ops{eventMeasure, fakeSearch, eventLinePass, fakeLatency};
  for (int sweep = 0; sweep < 2; ++sweep) {
    events.clear();
    latencyBlocks.clear();
    bench.results.latencyCurve[0] = 0x1200;  // left from an earlier sweep
    cacheSweep(ops);
    EXPECT_EQ(events, (std::vector<std::string>{"last data point", "latency", "line probe"}));
    // Passes up and down in turn.
    ASSERT_EQ(latencyBlocks.size(), LATENCY_PASSES * CACHE_POINTS);
    for (u32 pass = 0; pass < LATENCY_PASSES; ++pass) {
      for (u32 k = 0; k < CACHE_POINTS; ++k) {
        const u32 i = pass % 2 == 0 ? k : CACHE_POINTS - 1 - k;
        ASSERT_EQ(latencyBlocks[pass * CACHE_POINTS + k], sweepBlockSize(i)) << pass << ", " << k;
      }
    }
    for (u32 i = 0; i < CACHE_POINTS; ++i) {
      ASSERT_EQ(bench.results.latencyCurve[i].load(), sweepBlockSize(i) <= 32768 ? 0x400u : 0x1200u)
          << i;
    }
    for (int i = CACHE_POINTS; i < CACHE_CURVE_ENTRIES; ++i) {
      EXPECT_EQ(bench.results.latencyCurve[i].load(), NO_POINT) << i;
    }
    // Every point and new maximum and the figures after the data sweep (as without the probe),
    // and once more for the latency curve.
    EXPECT_EQ(bench.protocol.cacheDirty.load(), (sweep + 1) * (320u + 49u + 2u))
        << "sweep " << sweep;
  }
}

// The test area gets pages of its own at the start of every sweep, before anything is measured
// in it (untouched pages all read the system's one page of zeros).
int prepareCalls = 0;
int measuresBeforePrepare = -1;

TEST_F(CacheWorker, PreparesTheTestAreaBeforeMeasuring) {
  static const CacheOps ops{fakeMeasure, fakeSearch, fakeLinePass, nullptr, [] {
                              ++prepareCalls;
                              measuresBeforePrepare = measureCalls;
                              EXPECT_EQ(bench.results.dcacheCurve[0].load(), NO_POINT);
                            }};
  prepareCalls = 0;
  cacheSweep(ops);
  EXPECT_EQ(prepareCalls, 1);
  EXPECT_EQ(measuresBeforePrepare, 0);
  const int callsAfterFirst = measureCalls;
  cacheSweep(ops);
  EXPECT_EQ(prepareCalls, 2);
  EXPECT_EQ(measuresBeforePrepare, callsAfterFirst);
}

// Where the read curve is flat (the L2 refills the L1 as fast as the loads read, and the L3
// nearly as fast), the latency probe gives the edges.
TEST_F(CacheWorker, AFlatReadCurveTakesItsEdgesFromTheLatency) {
  static const CacheOps ops{
      [](u32 kind, u32 size) { return kind == 0 ? 90'000'000u : fakeMeasure(kind, size); },
      fakeSearch, fakeLinePass,
      [](u32 block) { return block <= 32768    ? 370u
                             : block <= 524288 ? 740u
                                               : 2600u; }};
  bench.machine.cpuClass = 1;
  cacheSweep(ops);
  EXPECT_EQ(bench.results.cacheFigures.load().dcacheSize.value, 32768u);
  EXPECT_EQ(bench.results.cacheFigures.load().dcacheSize.source, FigureSource::Latency);
  EXPECT_EQ(bench.results.cacheFigures.load().l2Size.source, FigureSource::Latency);
  EXPECT_EQ(fields().at(102), "  512K ");
}

// An 8 MiB L3 behind the L2, to main memory's latency ten times its own: the worker probes past
// the sweep, reads the L3's speed from a block inside it, and the page shows both. A later sweep
// on which the L3 shows no end (a test area too small to reach main memory) unsets them.
u32 l3Latency(u32 block) {
  return block <= 32768 ? 370u : block <= 524288 ? 740u : block <= (8u << 20) ? 2600u : 26000u;
}
u32 l3Speeds(u32 kind, u32 size) {
  if (kind != 0) return fakeMeasure(kind, size);
  return size <= 32768        ? L1_SPEED
         : size <= 524288     ? L2_SPEED
         : size <= (8u << 20) ? 15'000'000u
                              : RAM_SPEED;
}
std::vector<u32> l3SpeedSizes;

TEST_F(CacheWorker, AnL3BeyondTheSweepGetsItsSizeAndSpeed) {
  static const CacheOps ops{[](u32 kind, u32 size) {
                              if (size > (4u << 20)) ADD_FAILURE() << "a read beyond the sweep";
                              if (kind == 0 && bench.results.icacheCurve[0].load() == NO_POINT &&
                                  bench.results.latencyCurve[0].load() != NO_POINT) {
                                l3SpeedSizes.push_back(size);
                              }
                              return l3Speeds(kind, size);
                            },
                            fakeSearch,
                            fakeLinePass,
                            l3Latency,
                            nullptr,
                            nullptr,
                            nullptr,
                            l3Latency};
  l3SpeedSizes.clear();
  bench.machine.testAreaBytes = 64u << 20;
  cacheSweep(ops);
  const CacheFigures f = bench.results.cacheFigures.load();
  EXPECT_EQ(f.l3Size, figure(8u << 20, FigureSource::Latency));
  EXPECT_EQ(f.l3Speed, figure(15'000'000, FigureSource::Bandwidth));
  EXPECT_EQ(l3SpeedSizes, std::vector<u32>{4u << 20}) << "half the L3";
  EXPECT_EQ(fields().at(103), "    8M ");
  EXPECT_EQ(fields().at(113), "  14648 ");
  const FarLatencies far = bench.results.farLatencies.load();
  ASSERT_GE(far.count, 5u);
  EXPECT_EQ(far.bytes[0], 4u << 20);
  EXPECT_EQ(far.ticksX256[3], 26000u);  // 12 MiB: main memory
  EXPECT_EQ(far.probeMs, 7u);           // one tick of the fake clock

  bench.machine.testAreaBytes = 12u << 20;
  cacheSweep(ops);
  EXPECT_FALSE(bench.results.cacheFigures.load().l3Size.isSet());
  EXPECT_FALSE(bench.results.cacheFigures.load().l3Speed.isSet());
  EXPECT_EQ(bench.results.farLatencies.load().count, 4u);  // 4, 6, 8, 12 MiB
}

// A RAM line probe that cannot time its passes shows no result and leaves the line size the RAM
// kernels use as it was.
TEST_F(CacheWorker, AFailedRamLineProbeKeepsTheLineSize) {
  static const CacheOps ops{fakeMeasure, fakeSearch, [](u32 length, u32 stride) {
                              return length == RAM_PROBE_BYTES ? std::uint64_t{1} << 32
                                                               : fakeLinePass(length, stride);
                            }};
  bench.measuring.lineSize = 64;
  cacheSweep(ops);
  EXPECT_EQ(bench.measuring.lineSize.load(), 64);
  EXPECT_EQ(fields().at(124), "-");
  EXPECT_EQ(fields().at(122), " 64byts*") << "the L2 probe is not affected";
}

// Two presses during a sweep bring exactly one more sweep; a press before the sweep clears its
// request is absorbed by that sweep.
TEST_F(CacheWorker, RestartRequestsDuringASweepBringOneMoreSweep) {
  onMeasure = [](int call) {
    if (call == 10 || call == 200) bench.protocol.cacheRestart = 1;
  };
  cacheSweep(OPS);
  ASSERT_TRUE(cacheIdleTurn());
  onMeasure = nullptr;
  cacheSweep(OPS);
  for (int turn = 0; turn < 5; ++turn) EXPECT_FALSE(cacheIdleTurn()) << "turn " << turn;

  bench.protocol.cacheRestart = 1;  // pressed before the sweep starts
  cacheSweep(OPS);
  EXPECT_FALSE(cacheIdleTurn());
}

// A span beyond the window (a large cache): the RAM line probe runs over cold windows, and the
// main-memory read gives the RAM speed and its field; the L2 probe stays where it was.
TEST_F(CacheWorker, LargeCachesProbeAndReadMainMemoryFromColdWindows) {
  bench.machine.ramSpanBytes = 128u << 20;
  cacheSweep(COLD_OPS);
  EXPECT_EQ(bench.measuring.lineSize.load(), 128);
  EXPECT_EQ(mainMemoryReads, 1);
  EXPECT_EQ(bench.measuring.ramReadSpeed.load(), MAIN_MEMORY_SPEED);
  const auto f = fields();
  EXPECT_EQ(f.at(124), "128byts");
  EXPECT_EQ(f.at(114), " 12056 ");
  EXPECT_EQ(coldProbeLengths, std::vector<u32>(coldProbeLengths.size(), RAM_PROBE_BYTES));
  EXPECT_GE(coldProbeLengths.size(), 20u);
  for (u32 length : warmProbeLengths)
    EXPECT_EQ(length, bench.results.cacheFigures.load().l2ProbeSize) << "only the L2 probe";
}

// Caches of 2 MiB or less: the same operations at hand change nothing of today's figures.
TEST_F(CacheWorker, SmallCachesKeepTheProbeInPlaceAndTheCurvesRamSpeed) {
  cacheSweep(COLD_OPS);
  EXPECT_EQ(bench.measuring.lineSize.load(), 64);
  EXPECT_EQ(mainMemoryReads, 0);
  EXPECT_TRUE(coldProbeLengths.empty());
  EXPECT_EQ(bench.measuring.ramReadSpeed.load(), 0u);
  EXPECT_EQ(bench.results.cacheFigures.load().ramSpeed, figure(RAM_SPEED, FigureSource::Bandwidth))
      << "the curve's last points";
  EXPECT_NE(std::find(warmProbeLengths.begin(), warmProbeLengths.end(), RAM_PROBE_BYTES),
            warmProbeLengths.end());
}

// Pairs of dependent loads decide both line sizes where they show one (the strided passes, which
// see 128-byte pairs from memory here, are then not made); where they do not, and on class 2,
// whose 128-byte lines they cannot show, the strided passes do.
TEST_F(CacheWorker, LineSizesByPairsWhereTheyShowOne) {
  static std::vector<u32> pairRegions;
  static u32 pairLine;
  const PairChaseTicks pairs = [](u32 region, u32 step) {
    pairRegions.push_back(region);
    return pairLine == 0 ? 256u : step >= pairLine ? 512u : 256u;
  };
  const struct {
    u32 line;  // what the pairs show; 0: nothing
    u8 cpuClass;
    const char* l2Line;
    const char* ramLine;
    bool passes;
  } cases[] = {
      {64, CLASS_AMD_FAMILY6_UP, " 64byts*", " 64byts", false},
      {32, CLASS_OTHER, " 32byts*", " 32byts", false},
      {0, CLASS_AMD_FAMILY6_UP, " 64byts*", "128byts", true},
      {64, CLASS_INTEL_FAMILY15, " 64byts*", "128byts", true},
  };
  for (const auto& c : cases) {
    SetUp();
    pairRegions.clear();
    pairLine = c.line;
    bench.machine.ramSpanBytes = 128u << 20;
    bench.machine.cpuClass = c.cpuClass;
    CacheOps ops = COLD_OPS;
    ops.pairChase = pairs;
    ops.ramPairChase = pairs;
    cacheSweep(ops);
    const auto f = fields();
    EXPECT_EQ(f.at(122), c.l2Line) << c.line << ", class " << int{c.cpuClass};
    EXPECT_EQ(f.at(124), c.ramLine) << c.line << ", class " << int{c.cpuClass};
    EXPECT_EQ(bench.measuring.lineSize.load(), c.ramLine[0] == '1' ? 128 : c.line);
    EXPECT_EQ(!coldProbeLengths.empty(), c.passes) << c.line << ", class " << int{c.cpuClass};
    if (c.cpuClass != CLASS_INTEL_FAMILY15) {
      ASSERT_FALSE(pairRegions.empty());
      EXPECT_EQ(pairRegions.front(), bench.results.cacheFigures.load().l2ProbeSize);
    } else {
      EXPECT_TRUE(pairRegions.empty());
    }
  }
}

// A sweep whose data curve never shows an L1 edge within reach leaves the L2 line and size
// fields alone rather than probing from an unset size.
TEST_F(CacheWorker, NoUsableAnalysisLeavesTheL2FieldsAlone) {
  static const CacheOps flat{[](u32, u32) { return 100u; }, fakeSearch, fakeLinePass};
  // A flat curve: the L1 search runs to its end (136), and the values come from points 146-149.
  cacheSweep(flat);
  EXPECT_EQ(bench.results.cacheFigures.load().l2ProbeSize, curvePointSize(146));
  const auto f = fields();
  EXPECT_EQ(f.count(122), 1u);

  SetUp();
  // A curve that is measured only up to a point before ten past its edge: simulate a sweep that
  // stores NO_POINT beyond 50 by returning the marker itself.
  static const CacheOps cut{[](u32 kind, u32 size) {
                              return kind == 0 && size > 40000 ? NO_POINT : fakeMeasure(kind, size);
                            },
                            fakeSearch, fakeLinePass};
  cacheSweep(cut);
  EXPECT_EQ(bench.results.cacheFigures.load().l2ProbeSize, 0xFFFFFFFFu);
  EXPECT_EQ(bench.results.cacheFigures.load().dcacheSize.value, 0u);
  const auto g = fields();
  EXPECT_EQ(g.count(122), 0u);
  EXPECT_EQ(g.count(102), 0u);
  EXPECT_EQ(g.count(124), 1u) << "the RAM line probe needs no analysis";
}

}  // namespace
}  // namespace vardelo
