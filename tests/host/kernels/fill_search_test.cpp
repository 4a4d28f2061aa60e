#include "kernels/fill_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernels/fetch_code.h"
#include "tests/host/fakes/platform_fake.h"
#include "workers/fill_progress.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

struct Timed {
  u16 code;
  u32 ticks;
};

// A kernel that answers like the real one: BAD_SAMPLE for rejected codes, a scripted time for
// the others (the listed ones as listed, the rest `slowTicks`).
struct Script {
  std::vector<Timed> times;
  u32 slowTicks = 1000;
  std::vector<u16> codesSeen;
  std::vector<u32> sizesSeen;
};
Script script;

u32 scriptedTicks(u32 size) {
  const u16 code = bench.measuring.fillMode.load();
  script.codesSeen.push_back(code);
  script.sizesSeen.push_back(size);
  if (!fillCodeAccepted(code)) return BAD_SAMPLE;
  for (const Timed& t : script.times) {
    if (code == t.code) return t.ticks;
  }
  return script.slowTicks;
}

// What the label showed when the search paused, and the code it had settled on by then.
std::string labelAtSleep;
u16 fillModeAtSleep;
void noteSleep(u32) {
  labelAtSleep = fake::platformLog().texts.back().text;
  fillModeAtSleep = bench.measuring.fillMode.load();
}

class FillSearch : public testing::Test {
 protected:
  void SetUp() override {
    resetBench();
    fake::reset();
    fake::platformLog().onSleep = noteSleep;
    script = Script{};
    labelAtSleep.clear();
    fillModeAtSleep = 0;
  }
  void TearDown() override {
    resetBench();
    fake::reset();
  }

  // The search's winner with the listed times and every other accepted code slower.
  static u16 winner(std::vector<Timed> times) {
    script = Script{};
    script.times = std::move(times);
    searchFillModeWith(scriptedTicks, FILL_PROGRESS_ON_PAGE);
    return bench.measuring.fillMode.load();
  }
};

TEST_F(FillSearch, TriesEveryCodeOnceFrom000AOn2KiBLoops) {
  searchFillModeWith(scriptedTicks, FILL_PROGRESS_ON_PAGE);
  ASSERT_EQ(script.codesSeen.size(), 65536u);
  for (u32 i = 0; i < 65536; ++i) {
    ASSERT_EQ(script.codesSeen[i], (0x000A + i) & 0xFFFF) << "call " << i;
    ASSERT_EQ(script.sizesSeen[i], 2048u) << "call " << i;
  }
}

// What the search reported, to a display that only records.
struct Reports {
  std::vector<u32> tried;
  std::vector<u16> best;
  int done = 0;
  u16 fillModeAtDone = 0;
  size_t stepsAtDone = 0;
};
Reports reports;
void recordStep(u32 tried, u16 bestCode) {
  reports.tried.push_back(tried);
  reports.best.push_back(bestCode);
}
void recordDone() {
  ++reports.done;
  reports.fillModeAtDone = bench.measuring.fillMode.load();
  reports.stepsAtDone = reports.tried.size();
}

// The search itself writes no page: everything it shows goes through the display it is given.
TEST_F(FillSearch, ReportsEvery1024CodesThenTheEndOnceTheWinnerIsKept) {
  reports = Reports{};
  script.times = {{0x1234, 5}};
  searchFillModeWith(scriptedTicks, {recordStep, recordDone});
  ASSERT_EQ(reports.tried.size(), 64u);
  for (u32 i = 0; i < 64; ++i) EXPECT_EQ(reports.tried[i], 1024 * (i + 1)) << "report " << i;
  // 0x1234 is the 4651st code tried: the reports from the fifth on show it.
  EXPECT_EQ(reports.best[0], 0x0409);
  EXPECT_NE(reports.best[3], 0x1234);
  for (u32 i = 4; i < 64; ++i) EXPECT_EQ(reports.best[i], 0x1234) << "report " << i;
  EXPECT_EQ(reports.done, 1);
  EXPECT_EQ(reports.stepsAtDone, 64u) << "the end was reported before the last step";
  EXPECT_EQ(reports.fillModeAtDone, 0x1234) << "the end was reported before the winner was kept";
  EXPECT_TRUE(fake::platformLog().texts.empty());
  EXPECT_TRUE(fake::platformLog().sleeps.empty());
}

TEST_F(FillSearch, ProgressEvery1024CodesThenDashPauseMode) {
  // All accepted codes tie: the last one tried leads.
  searchFillModeWith(scriptedTicks, FILL_PROGRESS_ON_PAGE);
  const std::vector<fake::PageText>& texts = fake::platformLog().texts;
  ASSERT_EQ(texts.size(), 64u * 2 + 2);
  for (size_t i = 0; i < texts.size(); ++i) {
    const u32 wantId = (i < 128 && i % 2 == 1) ? 130 : 139;
    EXPECT_EQ(texts[i].page, 0u) << "text " << i;
    EXPECT_EQ(texts[i].controlId, wantId) << "text " << i;
  }

  const std::string bars25(25, '|');
  struct Update {
    u32 tried;
    std::string bar;
    std::string best;  // "" where not checked
  } updates[] = {
      {1024, "<>", "     409"},  // 0x000A..0x0409
      {2048, "<>", "     7FF"},  // 0x0800..0x08FF have a field 8: none of them leads
      {3072, "<|>", ""},
      {4096, "<|>", ""},
      {5120, "<||>", ""},
      {8192, "<|||>", ""},
      {64512, "<" + bars25 + ">", "    FC09"},
      {65536, "<" + bars25 + ">", "       9"},  // 0x0000 is rejected; 0x0009 was tried last
  };
  for (const Update& u : updates) {
    const size_t at = 2 * (u.tried / 1024 - 1);
    EXPECT_EQ(texts[at].text, u.bar) << "after " << u.tried << " codes";
    if (!u.best.empty()) {
      EXPECT_EQ(texts[at + 1].text, u.best) << "after " << u.tried << " codes";
    }
  }

  EXPECT_EQ(texts[128].text, "-");
  EXPECT_EQ(texts[129].text, "mode");
  EXPECT_EQ(fake::platformLog().sleeps, std::vector<u32>{50});
  EXPECT_EQ(labelAtSleep, "-");
  EXPECT_EQ(fillModeAtSleep, 0x0009);
  EXPECT_EQ(bench.measuring.fillMode.load(), 0x0009);
}

TEST_F(FillSearch, ValueFieldShowsBestSoFarInUppercaseHex) {
  EXPECT_EQ(winner({{0xB3A5, 5}}), 0xB3A5);
  // 0xB3A5 is the 46012th code tried, so the 45th update (after 46080) is the first to show it;
  // the one before shows the last of the tying codes, 0xB009.
  const std::vector<fake::PageText>& texts = fake::platformLog().texts;
  EXPECT_EQ(texts[2 * 43 + 1].text, "    B009");
  for (u32 update = 44; update < 64; ++update) {
    EXPECT_EQ(texts[2 * update + 1].text, "    B3A5") << "update " << update;
  }
}

// The real kernel times rejected codes as BAD_SAMPLE, and a winner right before one shows an
// off-by-one between the code timed and the code kept.
TEST_F(FillSearch, FastestCodeWinsAndNeverARejectedOne) {
  const u16 fastest[] = {0x000A, 0x0007, 0x7FFF, 0xFFFF, 0x0009, 0xB3A5, 0x07FF};
  for (u16 code : fastest) {
    const u16 won = winner({{code, 5}});
    EXPECT_EQ(won, code) << std::hex << "fastest 0x" << code << ", won 0x" << won;
    EXPECT_TRUE(fillCodeAccepted(won)) << std::hex << "0x" << won;
  }
}

TEST_F(FillSearch, TieGoesToTheCodeTriedLater) {
  EXPECT_EQ(winner({{0x000B, 5}, {0xFFFF, 5}}), 0xFFFF);
  EXPECT_EQ(winner({{0x000A, 5}, {0x0009, 5}}), 0x0009);  // 0x0009 is tried last, after the wrap
  // Not a tie: the earlier code keeps its lead.
  EXPECT_EQ(winner({{0x000B, 4}, {0xFFFF, 5}}), 0x000B);
}

}  // namespace
}  // namespace vardelo
