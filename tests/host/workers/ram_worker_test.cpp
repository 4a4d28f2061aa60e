#include "workers/ram_worker.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tests/host/fakes/platform_fake.h"
#include "workers/ram_stats.h"
#include "workers/sweep_exclusion.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

// Fake measurements: each records the call and what the worker had announced at that moment,
// and returns what `valueOf` says (by default a value that tells the gap apart).
enum Kind { READ, WRITE, MMX };
struct Measured {
  Kind kind;
  i32 gap;
  u32 block;
  u8 ramBusy;
  u8 owner;           // holder of the right to measure
  std::size_t tabs;   // tab selections made so far
};
std::vector<Measured> measured;
std::function<u32(Kind, i32 gap, u32 block)> valueOf;
std::function<void(const Measured&)> onMeasure;  // acts "during" a pass
int settleCalls = 0;
std::function<void()> onSettle;

u32 gapValue(i32 gap) { return static_cast<u32>(gap + 100000); }

u32 record(Kind kind, i32 gap, u32 block) {
  measured.push_back({kind, gap, block, bench.protocol.ramBusy.load(), sweepOwner(),
                      fake::platformLog().tabsSelected.size()});
  if (onMeasure) onMeasure(measured.back());
  return valueOf ? valueOf(kind, gap, block) : gapValue(gap);
}
u32 fakeRead(i32 gap, u32 block) { return record(READ, gap, block); }
u32 fakeWrite(i32 gap, u32 block) { return record(WRITE, gap, block); }
u32 fakeWriteMmx(i32 gap, u32 block) { return record(MMX, gap, block); }
void fakeSettle() {
  ++settleCalls;
  if (onSettle) onSettle();
}
const RamOps ops{fakeRead, fakeWrite, fakeWriteMmx, fakeSettle};

std::size_t count(Kind kind) {
  std::size_t n = 0;
  for (const Measured& m : measured) n += m.kind == kind;
  return n;
}

constexpr u32 SENTINEL = 0x5A5A5A5A;
constexpr std::size_t PASS_POINTS = 161 + 160 + 80 + 40;  // measurements per curve set

void fill(RamCurve& curve, u32 value) {
  for (AtomicU32& e : curve) e = value;
}
void fillAll(RamCurveSet& set, u32 value) {
  for (RamCurve& c : set) fill(c, value);
}

class RamWorker : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    if (sweepOwner() == 1) endCacheSweep();
    if (sweepOwner() == 2) endRamPasses();
    fake::reset();
    measured.clear();
    valueOf = nullptr;
    onMeasure = nullptr;
    settleCalls = 0;
    onSettle = nullptr;
    resetBench();
    bench.protocol.cacheBusy = 0;  // the tests that need the start-up value set it
  }
};

// Expected value of entry k after a sweep of block `block`, from the measured gaps alone: the
// value of the last measured point whose first entry is at or before k.
TEST_F(RamWorker, GapSweepMeasuresTheGapsOfEachBlockSizeAndFillsEveryEntry) {
  struct Row {
    u32 block;
    std::size_t measurements;
    i32 firstGap, lastGap;
  };
  const Row rows[] = {{32, 161, -3104, 7072}, {64, 160, -3136, 7040}, {128, 80, -3200, 6912},
                      {256, 40, -3328, 6656}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "block " << r.block);
    measured.clear();
    fake::reset();
    fill(bench.results.readCurves[0], NO_POINT);
    fill(bench.results.readCurves[1], SENTINEL);
    ramGapSweep(bench.results.readCurves[0], r.block, fakeRead, RamPassKind::Read);

    EXPECT_EQ(fake::platformLog().sleeps, std::vector<u32>{50});
    ASSERT_EQ(measured.size(), r.measurements);
    EXPECT_EQ(measured.front().gap, r.firstGap);
    EXPECT_EQ(measured.back().gap, r.lastGap);
    i32 lastEntryGap = 0;
    std::size_t next = 0;
    for (int k = 0; k < RAM_POINTS; ++k) {
      const i32 step = -3072 + 32 * k;  // gap + block of entry k
      if (next < measured.size() && measured[next].gap + static_cast<i32>(r.block) == step)
        lastEntryGap = measured[next++].gap;
      EXPECT_EQ(bench.results.readCurves[0][k].load(), gapValue(lastEntryGap)) << "entry " << k;
    }
    EXPECT_EQ(next, measured.size()) << "every measured gap starts an entry";
    for (int k = RAM_POINTS; k < RAM_CURVE_ENTRIES; ++k)
      EXPECT_EQ(bench.results.readCurves[0][k].load(), NO_POINT) << "entry " << k;
    EXPECT_EQ(bench.results.readCurves[1][0].load(), SENTINEL) << "stores stay inside the curve";
  }
}

TEST_F(RamWorker, Block32SkipsNonzeroMultiplesOf64AndShowsThePointBefore) {
  fill(bench.results.readCurves[0], NO_POINT);
  ramGapSweep(bench.results.readCurves[0], 32, fakeRead, RamPassKind::Read);
  std::vector<i32> expected;
  for (i32 gap = -3104; gap <= -32; gap += 64) expected.push_back(gap);
  expected.push_back(0);
  for (i32 gap = 32; gap <= 7072; gap += 64) expected.push_back(gap);
  std::vector<i32> gaps;
  for (const Measured& m : measured) gaps.push_back(m.gap);
  EXPECT_EQ(gaps, expected);

  struct Entry {
    int k;
    i32 shownGap;
  };
  const Entry entries[] = {{0, -3104}, {1, -3104},  {2, -3040}, {95, -96}, {96, -32},
                           {97, 0},    {98, 32},    {99, 32},   {100, 96}, {318, 7072},
                           {319, 7072}};
  for (const Entry& e : entries)
    EXPECT_EQ(bench.results.readCurves[0][e.k].load(), gapValue(e.shownGap)) << "entry " << e.k;
}

// Block 256 with a maximum of 1000: equal values count as new maxima.
TEST_F(RamWorker, SweepKeepsTheMaximumOfItsKindAndCountsItsChanges) {
  const std::vector<u32> values = {999, 1000, 1500, 1500, 1200};  // then 10: three new maxima
  struct Expect {
    RamPassKind kind;
    u32 readMax, writeMax, readDirty, readRedraw, readNewMax, writeDirty;
  };
  const Expect rows[] = {
      {RamPassKind::Read, 1500, 1000, 40, 40, 3, 0},
      {RamPassKind::Write, 1000, 1500, 0, 0, 0, 40 + 3},
  };
  for (const Expect& e : rows) {
    reset();
    valueOf = [&](Kind, i32, u32) {
      const std::size_t i = measured.size() - 1;
      return i < values.size() ? values[i] : 10u;
    };
    bench.results.readMax = 1000;
    bench.results.writeMax = 1000;
    const bool read = e.kind == RamPassKind::Read;
    SCOPED_TRACE(read ? "read" : "write");
    ramGapSweep(read ? bench.results.readCurves[3] : bench.results.writeCurves[3], 256,
                read ? fakeRead : fakeWrite, e.kind);
    EXPECT_EQ(bench.results.readMax.load(), e.readMax);
    EXPECT_EQ(bench.results.writeMax.load(), e.writeMax);
    EXPECT_EQ(bench.protocol.readDirty.load(), e.readDirty);
    EXPECT_EQ(bench.protocol.readRedraw.load(), e.readRedraw);
    EXPECT_EQ(bench.protocol.readNewMax.load(), e.readNewMax);
    EXPECT_EQ(bench.protocol.writeDirty.load(), e.writeDirty);
    EXPECT_EQ(bench.protocol.writeNewMax.load(), 0) << "never raised by a sweep";
    EXPECT_EQ(bench.protocol.writeRedraw.load(), 0);
  }
}

TEST_F(RamWorker, ReadMaxSeedIsTheWrappingMeanOfTheLastFourCachePoints) {
  struct Row {
    u32 points[4];
    u32 seed;
  };
  const Row rows[] = {
      {{1000, 2000, 3000, 4002}, 2500},
      {{0, 0, 0, 3}, 0},
      {{0x40000000, 0x40000000, 0x40000000, 0x40000004}, 1},  // the sum wraps to 4
  };
  for (const Row& r : rows) {
    for (int i = 0; i < 4; ++i) bench.results.dcacheCurve[156 + i] = r.points[i];
    bench.results.dcacheCurve[155] = 0xFFFFFF;  // not one of the four
    EXPECT_EQ(ramReadSeed(), r.seed) << "points " << r.points[0] << ", " << r.points[1] << ", "
                                     << r.points[2] << ", " << r.points[3];
  }
  bench.results.dcacheCurve[155] = 0;
}

// Where the caches are large, the cache page's RAM speed is measured from flushed memory, and
// the read chart starts from it rather than from cache speeds at the curve's end.
TEST_F(RamWorker, ReadMaxSeedIsTheMainMemorySpeedWhereItWasMeasured) {
  for (int i = 0; i < 4; ++i) bench.results.dcacheCurve[156 + i] = 80000000;
  bench.measuring.ramReadSpeed = 12345678;
  EXPECT_EQ(ramReadSeed(), 12345678u);
  bench.protocol.ramRestart = RAM_READ_BIT;
  valueOf = [](Kind, i32, u32) { return 1000u; };
  ramReadPass(ops);
  EXPECT_EQ(bench.results.readMax.load(), 12345678u);
  bench.measuring.ramReadSpeed = 0;
  EXPECT_EQ(ramReadSeed(), 80000000u);
}

TEST_F(RamWorker, ReadPassStepsInOrder) {
  const u32 cache[4] = {1000, 2000, 3000, 4002};  // seed 2500
  for (int i = 0; i < 4; ++i) bench.results.dcacheCurve[156 + i] = cache[i];
  fillAll(bench.results.readCurves, SENTINEL);
  bench.protocol.ramRestart = 3;
  valueOf = [](Kind, i32, u32 block) { return 2000 + block; };  // never reaches the seed
  onSettle = [] {
    EXPECT_EQ(bench.protocol.ramBusy.load(), RAM_READ_BIT);
    EXPECT_EQ(fake::platformLog().tabsSelected, std::vector<u32>{1});
    EXPECT_EQ(fake::platformLog().posted, std::vector<u32>{UM_SHOW_TAB});
    EXPECT_EQ(fake::platformLog().sleeps, std::vector<u32>{30});
    EXPECT_EQ(fake::platformLog().returnCalls, 1) << "the return call comes before settling";
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < RAM_CURVE_ENTRIES; ++k)
        ASSERT_EQ(bench.results.readCurves[c][k].load(), NO_POINT)
            << "curve " << c << " entry " << k;
    EXPECT_EQ(bench.results.readMax.load(), 2500u);
    EXPECT_EQ(bench.protocol.readNewMax.load(), 1);
    EXPECT_TRUE(measured.empty());
  };
  ramReadPass(ops);

  EXPECT_EQ(settleCalls, 1);
  EXPECT_EQ(fake::platformLog().sleeps, (std::vector<u32>{30, 50, 50, 50, 50}));
  ASSERT_EQ(measured.size(), PASS_POINTS);
  for (int c = 0; c < 4; ++c)  // block 32, 64, 128, 256 into curves 0 to 3, every entry
    for (int k = 0; k < RAM_POINTS; ++k)
      ASSERT_EQ(bench.results.readCurves[c][k].load(), 2000 + RAM_BLOCK_BYTES[c]) << c << ", " << k;
  for (const Measured& m : measured) {
    ASSERT_EQ(m.kind, READ);
    ASSERT_EQ(m.ramBusy, RAM_READ_BIT);
  }
  EXPECT_EQ(bench.results.readMax.load(), 2500u) << "no value reached the seed";
  EXPECT_EQ(bench.protocol.readNewMax.load(), 1) << "the seed only";
  EXPECT_EQ(bench.protocol.readDirty.load(), PASS_POINTS + 1);
  EXPECT_EQ(bench.protocol.readRedraw.load(), static_cast<u8>(PASS_POINTS + 1)) << "a byte: wraps";
  EXPECT_EQ(bench.protocol.writeDirty.load(), 0u);
  EXPECT_EQ(bench.protocol.ramBusy.load(), 0);
  EXPECT_EQ(bench.protocol.ramRestart.load(), RAM_WRITE_BIT) << "only the read request is served";
}

// The windows are readied once a pass, after settling and before the first walk.
TEST_F(RamWorker, EachPassPrimesItsWindowsBeforeItsFirstWalk) {
  static std::vector<std::string> order;
  order.clear();
  onSettle = [] { order.push_back("settle"); };
  onMeasure = [](const Measured&) {
    if (order.back() != "walk") order.push_back("walk");
  };
  RamOps primed = ops;
  primed.prime = [] { order.push_back("prime"); };
  ramReadPass(primed);
  ramWritePass(primed);
  EXPECT_EQ(order, (std::vector<std::string>{"settle", "prime", "walk", "settle", "prime", "walk"}));
}

TEST_F(RamWorker, WritePassStartsFromReadMaxAndFillsBothKinds) {
  bench.results.readMax = 5000;
  bench.results.writeMax = 99999;
  bench.protocol.ramRestart = 3;
  fillAll(bench.results.writeCurves, SENTINEL);
  fillAll(bench.results.writeMmxCurves, SENTINEL);
  // One write value above the read scale, in the MMX sweep of block 128.
  valueOf = [](Kind kind, i32 gap, u32 block) {
    return kind == MMX && block == 128 && gap == 0 ? 7000u : (kind == WRITE ? 1000u : 2000u);
  };
  bench.results.writeStats[1].store({320, 1, 2, 3, 4});  // of the previous pass
  onSettle = [] {
    EXPECT_EQ(bench.results.writeStats[1].load(), RamCurveStats{}) << "cleared with its curve";
    EXPECT_EQ(bench.results.writeMax.load(), 5000u);
    EXPECT_EQ(bench.protocol.writeNewMax.load(), 1);
    EXPECT_EQ(bench.protocol.ramBusy.load(), RAM_WRITE_BIT);
    EXPECT_EQ(fake::platformLog().tabsSelected, std::vector<u32>{2});
    EXPECT_EQ(fake::platformLog().returnCalls, 1);
    EXPECT_EQ(bench.results.writeCurves[0][0].load(), NO_POINT);
    EXPECT_EQ(bench.results.writeMmxCurves[3][319].load(), NO_POINT);
  };
  ramWritePass(ops);

  EXPECT_EQ(settleCalls, 1);
  EXPECT_EQ(fake::platformLog().sleeps, (std::vector<u32>{30, 50, 50, 50, 50, 50, 50, 50, 50}));
  ASSERT_EQ(measured.size(), 2 * PASS_POINTS);
  for (std::size_t i = 0; i < measured.size(); ++i) {
    ASSERT_EQ(measured[i].kind, i < PASS_POINTS ? WRITE : MMX) << "measurement " << i;
    ASSERT_EQ(measured[i].ramBusy, RAM_WRITE_BIT);
  }
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(bench.results.writeCurves[c][96].load(), 1000u) << "curve " << c;
    EXPECT_EQ(bench.results.writeMmxCurves[c][c == 2 ? 100 : 96].load(), c == 2 ? 7000u : 2000u)
        << "curve " << c;
    EXPECT_EQ(bench.results.writeMmxCurves[c][320].load(), NO_POINT) << "curve " << c;
    // Each curve's statistics, derived as its points arrived, are those of the whole curve.
    RamCurveCopy plain, mmx;
    copyRamCurve(bench.results.writeCurves[c], plain);
    copyRamCurve(bench.results.writeMmxCurves[c], mmx);
    EXPECT_EQ(bench.results.writeStats[c].load(), ramCurveStats(plain)) << "curve " << c;
    EXPECT_EQ(bench.results.writeMmxStats[c].load(), ramCurveStats(mmx)) << "curve " << c;
    EXPECT_EQ(bench.results.writeStats[c].load().points, 320u) << "curve " << c;
  }
  EXPECT_EQ(bench.results.writeMmxStats[2].load().maxKiBps, 7000u);
  EXPECT_EQ(bench.results.writeMax.load(), 7000u);
  EXPECT_EQ(bench.protocol.writeNewMax.load(), 1) << "the seed only";
  EXPECT_EQ(bench.protocol.writeDirty.load(), 2 * PASS_POINTS + 1 + 1)
      << "points, one new maximum, end";
  EXPECT_EQ(bench.protocol.writeRedraw.load(), 1);
  EXPECT_EQ(bench.protocol.readDirty.load(), 0u);
  EXPECT_EQ(bench.results.readMax.load(), 5000u);
  EXPECT_EQ(bench.protocol.ramBusy.load(), 0);
  EXPECT_EQ(bench.protocol.ramRestart.load(), RAM_READ_BIT);
}

TEST_F(RamWorker, StartAsksForProcessorZeroAndBothPasses) {
  ramWorkerStart();
  EXPECT_EQ(fake::platformLog().affinityMasks, std::vector<u32>{1});
  EXPECT_EQ(bench.protocol.ramRestart.load(), 3);
}

TEST_F(RamWorker, BothRequestedReadsFirstAndSelectsTheWriteTabOnlyThen) {
  bench.protocol.ramRestart = 3;
  // Reads end at a maximum of 100,000 + 7072; writes are slower.
  valueOf = [](Kind kind, i32 gap, u32) { return kind == READ ? gapValue(gap) : 5u; };
  ramWorkerTurn(ops);
  ASSERT_EQ(measured.size(), 3 * PASS_POINTS);
  EXPECT_EQ(measured.front().kind, READ);
  EXPECT_EQ(measured[PASS_POINTS - 1].kind, READ);
  EXPECT_EQ(measured[PASS_POINTS].kind, WRITE);
  EXPECT_EQ(measured[PASS_POINTS - 1].tabs, 1u) << "tab 1 only during the read pass";
  EXPECT_EQ(measured[PASS_POINTS].tabs, 2u);
  EXPECT_EQ(fake::platformLog().tabsSelected, (std::vector<u32>{1, 2}));
  EXPECT_EQ(fake::platformLog().posted, (std::vector<u32>{UM_SHOW_TAB, UM_SHOW_TAB}));
  for (const Measured& m : measured) ASSERT_EQ(m.owner, 2) << "measured without the claim";
  EXPECT_EQ(sweepOwner(), 0) << "claim released at the end of the turn";
  EXPECT_EQ(bench.protocol.ramRestart.load(), 0);
  EXPECT_EQ(bench.results.writeMax.load(), gapValue(7072)) << "the final read maximum";
  EXPECT_EQ(fake::platformLog().sleeps.front(), 30u) << "the turn's pause";
}

// Requests arriving while a pass runs (at its 10th measurement), over two turns.
TEST_F(RamWorker, RequestsMadeDuringAPass) {
  struct Row {
    const char* name;
    u8 requested;
    Kind during;
    u8 pressed;
    std::size_t reads1, writes1;  // measurements of the first turn (writes: both kinds)
    u8 restartAfter1;
    std::size_t reads2, writes2;
  };
  const Row rows[] = {
      {"read during read: absorbed", RAM_READ_BIT, READ, RAM_READ_BIT, PASS_POINTS, 0, 0, 0, 0},
      {"read during write: next turn", RAM_WRITE_BIT, WRITE, RAM_READ_BIT, 0, 2 * PASS_POINTS,
       RAM_READ_BIT, PASS_POINTS, 0},
      {"read during write after both", 3, WRITE, RAM_READ_BIT, PASS_POINTS, 2 * PASS_POINTS,
       RAM_READ_BIT, PASS_POINTS, 0},
      {"write during read: same turn", RAM_READ_BIT, READ, RAM_WRITE_BIT, PASS_POINTS,
       2 * PASS_POINTS, 0, 0, 0},
      {"write during write: absorbed", RAM_WRITE_BIT, WRITE, RAM_WRITE_BIT, 0, 2 * PASS_POINTS, 0,
       0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    reset();
    bench.protocol.ramRestart = r.requested;
    static Kind during;
    static u8 pressed;
    static std::size_t seen;
    during = r.during, pressed = r.pressed, seen = 0;
    onMeasure = [](const Measured& m) {
      if (m.kind == during && ++seen == 10) bench.protocol.ramRestart.fetch_or(pressed);
    };
    ramWorkerTurn(ops);
    EXPECT_EQ(count(READ), r.reads1);
    EXPECT_EQ(count(WRITE) + count(MMX), r.writes1);
    EXPECT_EQ(bench.protocol.ramRestart.load(), r.restartAfter1);

    measured.clear();
    fake::reset();
    onMeasure = nullptr;
    ramWorkerTurn(ops);
    EXPECT_EQ(count(READ), r.reads2);
    EXPECT_EQ(count(WRITE) + count(MMX), r.writes2);
    EXPECT_EQ(fake::platformLog().sleeps.front(), 30u) << "the second turn pauses first";
    EXPECT_EQ(bench.protocol.ramRestart.load(), 0);
  }
}

TEST_F(RamWorker, IdleTurnPausesThirtyMsAndClaimsNothing) {
  ramWorkerTurn(ops);
  EXPECT_EQ(fake::platformLog().sleeps, std::vector<u32>{30});
  EXPECT_TRUE(measured.empty());
  EXPECT_EQ(sweepOwner(), 0);
  EXPECT_EQ(fake::platformLog().tabsSelected.size(), 0u);
}

// The console companion runs its passes itself after this wait: it must come back holding the
// claim when a pass is asked for, and without it, having measured nothing, when none is.
TEST_F(RamWorker, TheTurnsWaitReturnsWithTheClaimOnlyWhenAPassIsAsked) {
  EXPECT_FALSE(awaitRamTurn());
  EXPECT_EQ(sweepOwner(), 0);
  bench.protocol.ramRestart = RAM_WRITE_BIT;
  EXPECT_TRUE(awaitRamTurn());
  EXPECT_EQ(sweepOwner(), 2);
  EXPECT_FALSE(tryBeginCacheSweep()) << "the cache worker got in while the claim was held";
  endRamPasses();
  EXPECT_EQ(fake::platformLog().sleeps, (std::vector<u32>{30, 30}));
  EXPECT_TRUE(measured.empty());
  EXPECT_EQ(bench.protocol.ramRestart.load(), RAM_WRITE_BIT) << "the wait serves no request itself";
}

// The cache worker's first sweep holds the RAM passes back; it ends during the third wait.
TEST_F(RamWorker, NoPassWhileCacheBusy) {
  bench.protocol.cacheBusy = 1;
  ramWorkerStart();
  fake::platformLog().onSleep = [](u32 ms) {
    static int waits;
    if (fake::platformLog().sleeps.size() == 1) waits = 0;
    if (ms == 350 && ++waits == 3) bench.protocol.cacheBusy = 0;
  };
  ramWorkerTurn(ops);
  const std::vector<u32>& sleeps = fake::platformLog().sleeps;
  ASSERT_GE(sleeps.size(), 5u);
  EXPECT_EQ(std::vector<u32>(sleeps.begin(), sleeps.begin() + 5),
            (std::vector<u32>{350, 350, 350, 30, 30}));
  EXPECT_EQ(count(READ), PASS_POINTS);
  EXPECT_EQ(count(WRITE), PASS_POINTS);
}

// The cache worker starts a sweep during the 30 ms pause after the RAM worker saw it idle: the
// RAM worker's claim fails and it waits until that sweep ends.
TEST_F(RamWorker, CacheSweepStartingDuringThePauseWins) {
  bench.protocol.ramRestart = RAM_READ_BIT;
  fake::platformLog().onSleep = [](u32 ms) {
    static int waits;
    const std::size_t n = fake::platformLog().sleeps.size();
    if (n == 1) {
      waits = 0;
      ASSERT_TRUE(tryBeginCacheSweep());
    }
    if (ms == 350 && ++waits == 2) endCacheSweep();
  };
  onMeasure = [](const Measured&) { ASSERT_EQ(bench.protocol.cacheBusy.load(), 0); };
  ramWorkerTurn(ops);
  const std::vector<u32>& sleeps = fake::platformLog().sleeps;
  ASSERT_GE(sleeps.size(), 5u);
  EXPECT_EQ(std::vector<u32>(sleeps.begin(), sleeps.begin() + 5),
            (std::vector<u32>{30, 350, 350, 30, 30}));
  EXPECT_EQ(count(READ), PASS_POINTS);
  EXPECT_EQ(sweepOwner(), 0);
}

}  // namespace
}  // namespace vardelo
