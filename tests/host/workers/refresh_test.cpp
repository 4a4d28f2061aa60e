#include "workers/refresh.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/host/fakes/platform_fake.h"
#include "ui/frame_rule.h"
#include "ui/main_dialog_logic.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

constexpr u32 WM_COMMAND_ID = 0x0111;  // not part of the protocol

class Refresh : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    fake::reset();
    resetBench();
  }
  static std::vector<u32>& posted() { return fake::platformLog().posted; }

  // The user-interface thread: hands each posted message to the main dialog's rule and runs
  // the painter it names, as the window code will. Returns the frames drawn, 'F' full, 'C'
  // curves only.
  static std::string deliverPosted() {
    std::string frames;
    std::vector<u32> queue;
    queue.swap(posted());
    for (u32 message : queue) frames += dispatch(message);
    return frames;
  }
  static std::string dispatch(u32 message, u32 wParam = 0) {
    const DialogAction a = mainDialogAction(message, wParam, 0, bench.window.curPage.load());
    if (a.raiseRedraw) raiseRedraw(a.painter);
    if (a.painter == Chart::None) return "";
    const bool full = chartWantsFullFrame(a.painter);
    endChartPaint(a.painter);
    return full ? "F" : "C";
  }
};

TEST_F(Refresh, StepPostsAtMostOneOutstandingMessagePerPage) {
  struct Row {
    const char* name;
    u32 cacheDirty, readDirty, writeDirty;
    u8 cachePosted, readPosted, writePosted;
    std::vector<u32> messages;
    u8 cacheTick, readTick, writeTick;
    u32 cacheDirtyAfter, readDirtyAfter, writeDirtyAfter;
  };
  const Row rows[] = {
      {"no changes", 0, 0, 0, 0, 0, 0, {}, 0, 0, 0, 0, 0, 0},
      {"all changed", 3, 1, 7, 0, 0, 0, {UM_PAINT_CACHE, UM_PAINT_READ, UM_PAINT_WRITE}, 1, 1, 1,
       0, 0, 0},
      {"all outstanding", 3, 1, 7, 1, 1, 1, {}, 0, 1, 1, 3, 1, 7},  // cache tick: posts only
      {"outstanding, no changes", 0, 0, 0, 1, 1, 1, {}, 0, 0, 0, 0, 0, 0},
      {"read only", 0, 2, 0, 0, 0, 0, {UM_PAINT_READ}, 0, 1, 0, 0, 0, 0},
      {"cache and write", 5, 0, 1, 0, 1, 0, {UM_PAINT_CACHE, UM_PAINT_WRITE}, 1, 0, 1, 0, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    reset();
    bench.protocol.cacheDirty = r.cacheDirty, bench.protocol.readDirty = r.readDirty,
    bench.protocol.writeDirty = r.writeDirty;
    bench.protocol.cachePosted = r.cachePosted, bench.protocol.readPosted = r.readPosted;
    bench.protocol.writePosted = r.writePosted;
    refreshStep();
    EXPECT_EQ(posted(), r.messages);
    EXPECT_EQ(bench.protocol.cacheTick.load(), r.cacheTick);
    EXPECT_EQ(bench.protocol.readTick.load(), r.readTick);
    EXPECT_EQ(bench.protocol.writeTick.load(), r.writeTick);
    EXPECT_EQ(bench.protocol.cacheDirty.load(), r.cacheDirtyAfter);
    EXPECT_EQ(bench.protocol.readDirty.load(), r.readDirtyAfter);
    EXPECT_EQ(bench.protocol.writeDirty.load(), r.writeDirtyAfter);
    EXPECT_EQ(bench.protocol.cachePosted.load(), r.cachePosted || r.cacheDirty ? 1 : 0);
    EXPECT_EQ(bench.protocol.readPosted.load(), r.readPosted || r.readDirty ? 1 : 0);
    EXPECT_EQ(bench.protocol.writePosted.load(), r.writePosted || r.writeDirty ? 1 : 0);
  }
}

TEST_F(Refresh, PainterClearsTheOneShotAndTheNextStepAnnouncesPiledUpChanges) {
  bench.window.curPage = 1;
  bench.protocol.readDirty = 1;
  refreshStep();
  EXPECT_EQ(posted(), std::vector<u32>{UM_PAINT_READ});
  bench.protocol.readDirty += 5;  // the pass goes on while the message waits
  refreshStep();
  bench.protocol.readDirty += 5;
  refreshStep();
  EXPECT_EQ(posted(), std::vector<u32>{UM_PAINT_READ}) << "no second message while outstanding";
  EXPECT_EQ(bench.protocol.readTick.load(), 3) << "raised on every step that found changes";
  EXPECT_EQ(bench.protocol.readDirty.load(), 10u);

  EXPECT_EQ(deliverPosted(), "C") << "announced, no redraw request: curves only";
  EXPECT_EQ(bench.protocol.readPosted.load(), 0);
  refreshStep();
  EXPECT_EQ(posted(), std::vector<u32>{UM_PAINT_READ});
  EXPECT_EQ(bench.protocol.readDirty.load(), 0u);
}

// The user looks at the About page while a read pass runs: the page's messages are ignored,
// so after at most one more nothing is posted until the page is shown again.
TEST_F(Refresh, AboutPageDuringARamPass) {
  bench.window.curPage = 3;
  std::vector<u32> all;
  std::string frames;
  for (int step = 0; step < 20; ++step) {
    bench.protocol.readDirty += 12;
    bench.protocol.readRedraw += 12;
    refreshStep();
    all.insert(all.end(), posted().begin(), posted().end());
    frames += deliverPosted();
  }
  EXPECT_EQ(all, std::vector<u32>{UM_PAINT_READ});
  EXPECT_EQ(frames, "") << "no painter for the About page";
  EXPECT_EQ(bench.protocol.readPosted.load(), 1) << "the one message stays outstanding";
  EXPECT_EQ(bench.protocol.readDirty.load(), 19u * 12u) << "changes pile up in the counter";

  // Shown again: the show-tab routine asks for a full frame, which clears the one-shot, and the
  // next step announces the piled-up changes.
  bench.window.curPage = 1;
  announceShownPage(1);
  EXPECT_EQ(deliverPosted(), "F");
  EXPECT_EQ(bench.protocol.readPosted.load(), 0);
  refreshStep();
  EXPECT_EQ(posted(), std::vector<u32>{UM_PAINT_READ});
}

TEST_F(Refresh, MainDialogMessageTable) {
  struct Row {
    u32 message, wParam;
    i32 notify;
    u32 curPage;
    bool handled, showTab, updateTab;
    i32 updatePage;
    bool raise;
    Chart painter;
    bool header;
  };
  const Chart N = Chart::None;
  const Row rows[] = {
      {UM_PAINT_CACHE, 0, 0, 0, true, false, false, 0, false, Chart::Cache, true},
      {UM_PAINT_CACHE, 0, 0, 1, true, false, false, -1, false, N, true},
      {UM_PAINT_READ, 0, 0, 1, true, false, false, 1, false, Chart::Read, true},
      {UM_PAINT_READ, 0, 0, 3, true, false, false, -1, false, N, true},
      {UM_PAINT_READ, 0, 0, 2, true, false, false, -1, false, N, true},
      {UM_PAINT_WRITE, 0, 0, 2, true, false, false, 2, false, Chart::Write, true},
      {UM_PAINT_WRITE, 0, 0, 0, true, false, false, -1, false, N, true},
      {UM_SHOW_TAB, 0, 0, 2, true, true, false, -1, false, N, false},
      {MSG_NOTIFY, 0, -551, 0, true, true, false, -1, false, N, false},
      {MSG_NOTIFY, 0, -552, 0, false, false, false, -1, false, N, false},
      {MSG_PAINT, 0, 0, 0, true, false, false, 0, false, Chart::Cache, true},
      {MSG_PAINT, 0, 0, 1, true, false, false, 1, true, Chart::Read, true},
      {MSG_PAINT, 0, 0, 2, true, false, false, 2, true, Chart::Write, true},
      {MSG_PAINT, 0, 0, 3, true, false, false, -1, false, N, true},
      {MSG_SIZE, 0, 0, 1, true, false, true, -1, false, N, false},
      {MSG_SIZE, 1, 0, 1, false, false, false, -1, false, N, false},  // minimised
      {MSG_ACTIVATE, 1, 0, 1, true, false, true, -1, false, N, false},
      {MSG_ACTIVATEAPP, 0, 0, 2, true, false, true, -1, false, N, false},
      {WM_COMMAND_ID, 1501, 0, 0, false, false, false, -1, false, N, false},
  };
  for (const Row& r : rows) {
    const DialogAction a = mainDialogAction(r.message, r.wParam, r.notify, r.curPage);
    const std::string where = "message " + std::to_string(r.message) + " wParam " +
                              std::to_string(r.wParam) + " code " + std::to_string(r.notify) +
                              " page " + std::to_string(r.curPage);
    EXPECT_EQ(a.handled, r.handled) << where;
    EXPECT_EQ(a.showTab, r.showTab) << where;
    EXPECT_EQ(a.updateTabControl, r.updateTab) << where;
    EXPECT_EQ(a.updatePage, r.updatePage) << where;
    EXPECT_EQ(a.raiseRedraw, r.raise) << where;
    EXPECT_EQ(static_cast<int>(a.painter), static_cast<int>(r.painter)) << where;
    EXPECT_EQ(a.drawHeader, r.header) << where;
  }
}

TEST_F(Refresh, ShowTabRaisesThePagesRedrawRequestThenPostsItsMessage) {
  struct Row {
    u32 page;
    AtomicU8* redraw;
    std::vector<u32> messages;
  };
  const Row rows[] = {{0, &bench.protocol.cacheRedraw, {UM_PAINT_CACHE}},
                      {1, &bench.protocol.readRedraw, {UM_PAINT_READ}},
                      {2, &bench.protocol.writeRedraw, {UM_PAINT_WRITE}},
                      {3, nullptr, {}}};
  for (const Row& r : rows) {
    reset();
    announceShownPage(r.page);
    EXPECT_EQ(posted(), r.messages) << "page " << r.page;
    for (AtomicU8* flag :
         {&bench.protocol.cacheRedraw, &bench.protocol.readRedraw, &bench.protocol.writeRedraw})
      EXPECT_EQ(flag->load(), flag == r.redraw ? 1 : 0) << "page " << r.page;
    EXPECT_EQ(showTabEffect(r.page).message, r.messages.empty() ? 0u : r.messages[0]);
  }
}

// Each chart's frame decision and closing, with the marks wired as the charts need them.
TEST_F(Refresh, FrameRuleAndPainterClosingPerChart) {
  // Marks, in the order: cacheTick readTick writeTick; chart's newMax; chart's redraw.
  struct Row {
    Chart chart;
    u8 cacheTick, readTick, writeTick, newMax, redraw;
    bool full, pause;
    u8 cacheTickAfter, readTickAfter, writeTickAfter;
  };
  const Chart C = Chart::Cache, R = Chart::Read, W = Chart::Write;
  const Row rows[] = {
      {C, 1, 0, 0, 0, 0, false, false, 0, 0, 0},  // announced: curves only, no pause
      {C, 0, 0, 0, 0, 0, true, true, 0, 0, 0},    // not announced: full frame and pause
      {C, 1, 0, 0, 1, 0, true, false, 0, 0, 0},
      {C, 1, 0, 0, 0, 1, true, false, 0, 0, 0},
      {C, 0, 5, 5, 0, 0, true, true, 0, 5, 5},    // the RAM ticks are not the cache chart's
      {R, 0, 1, 0, 0, 0, false, true, 0, 1, 0},   // frame by readTick, pause by writeTick
      {R, 0, 0, 1, 0, 0, true, false, 0, 0, 0},
      {R, 0, 1, 1, 1, 0, true, false, 0, 1, 0},
      {R, 0, 1, 1, 0, 1, true, false, 0, 1, 0},
      {R, 7, 1, 1, 0, 0, false, false, 7, 1, 0},
      {W, 0, 1, 0, 0, 0, false, false, 0, 0, 0},  // readTick for both
      {W, 0, 0, 1, 0, 0, true, true, 0, 0, 1},    // writeTick is not the write chart's
      {W, 0, 1, 0, 1, 0, true, false, 0, 0, 0},
      {W, 0, 1, 0, 0, 1, true, false, 0, 0, 0},
  };
  for (const Row& r : rows) {
    reset();
    bench.protocol.cacheTick = r.cacheTick, bench.protocol.readTick = r.readTick,
    bench.protocol.writeTick = r.writeTick;
    const ChartMarks m = chartMarks(r.chart);
    *m.newMax = r.newMax;
    *m.redraw = r.redraw;
    *m.posted = 1;
    const std::string where = "chart " + std::to_string(static_cast<int>(r.chart)) + " ticks " +
                              std::to_string(r.cacheTick) + std::to_string(r.readTick) +
                              std::to_string(r.writeTick) + " newMax " +
                              std::to_string(r.newMax) + " redraw " + std::to_string(r.redraw);
    EXPECT_EQ(chartWantsFullFrame(r.chart), r.full) << where;
    // The pause comes before any mark is cleared.
    static ChartMarks seen;
    static int pausesWithMarksUp;
    seen = m, pausesWithMarksUp = 0;
    fake::platformLog().onSleep = [](u32) { pausesWithMarksUp += seen.posted->load() == 1; };
    endChartPaint(r.chart);
    EXPECT_EQ(fake::platformLog().sleeps, r.pause ? std::vector<u32>{25} : std::vector<u32>{})
        << where;
    EXPECT_EQ(pausesWithMarksUp, r.pause ? 1 : 0) << where;
    EXPECT_EQ(m.newMax->load(), 0) << where;
    EXPECT_EQ(m.redraw->load(), 0) << where;
    EXPECT_EQ(m.posted->load(), 0) << where;
    EXPECT_EQ(bench.protocol.cachePaints.load() + bench.protocol.readPaints.load() +
                  bench.protocol.writePaints.load(),
              1u)
        << where;
    EXPECT_EQ(m.paints->load(), 1u) << where;
    EXPECT_EQ(bench.protocol.cacheTick.load(), r.cacheTickAfter) << where;
    EXPECT_EQ(bench.protocol.readTick.load(), r.readTickAfter) << where;
    EXPECT_EQ(bench.protocol.writeTick.load(), r.writeTickAfter) << where;
  }
}

// A system paint: the RAM pages are always drawn whole; the cache page is unless an announced
// paint has not run yet.
TEST_F(Refresh, SystemPaintFrames) {
  struct Row {
    u32 page;
    u8 cacheTick, readTick;
    const char* frames;
  };
  const Row rows[] = {{0, 0, 0, "F"}, {0, 1, 0, "C"}, {1, 0, 1, "F"}, {2, 0, 1, "F"}, {3, 0, 0, ""}};
  for (const Row& r : rows) {
    reset();
    bench.window.curPage = r.page;
    bench.protocol.cacheTick = r.cacheTick;
    bench.protocol.readTick = r.readTick;
    EXPECT_EQ(dispatch(MSG_PAINT), r.frames) << "page " << r.page;
  }
}

// A write pass: the first write paint clears readTick, and nothing raises it again until a read
// pass runs, so every write paint is a full frame.
TEST_F(Refresh, WritePassPaintsAreFullFrames) {
  bench.window.curPage = 2;
  bench.protocol.writeNewMax = 1;
  std::string frames;
  for (int step = 0; step < 6; ++step) {
    bench.protocol.writeDirty += 3;
    refreshStep();
    frames += deliverPosted();
  }
  EXPECT_EQ(frames, "FFFFFF");
  EXPECT_EQ(fake::platformLog().sleeps, std::vector<u32>(6, 25)) << "readTick stays clear";
}

TEST_F(Refresh, ThreadAsksForTheSecondProcessorThenStepsEvery350Ms) {
  struct Stop {};
  bench.protocol.readDirty = 1;
  fake::platformLog().onSleep = [](u32) {
    const fake::PlatformLog& log = fake::platformLog();
    // The first step follows the first sleep.
    const std::vector<u32> expected = log.sleeps.size() == 1 ? std::vector<u32>{}
                                                             : std::vector<u32>{UM_PAINT_READ};
    EXPECT_EQ(log.posted, expected) << "at sleep " << log.sleeps.size();
    if (log.sleeps.size() == 3) throw Stop{};
  };
  EXPECT_THROW(refreshThreadRun(), Stop);
  EXPECT_EQ(fake::platformLog().affinityMasks, std::vector<u32>{2});
  EXPECT_EQ(fake::platformLog().sleeps, (std::vector<u32>{350, 350, 350}));
}

}  // namespace
}  // namespace vardelo
