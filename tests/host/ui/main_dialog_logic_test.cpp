#include "ui/main_dialog_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/text_1251.h"
#include "tests/host/fakes/platform_fake.h"
#include "ui/frame_rule.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

std::u16string wide(const char* text1251) {
  char16_t out[64];
  return std::u16string(out, toUtf16From1251(text1251, out, 64));
}

class MainDialogLogic : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    fake::reset();
    resetBench();
  }
};

TEST(MainDialogTabs, CapacityIsTextLengthPlusOne) {
  const i32 capacities[PAGE_COUNT] = {13, 9, 10, 6};
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    EXPECT_EQ(TABS[i].textMax, capacities[i]) << TABS[i].text;
    EXPECT_EQ(TABS[i].textMax, static_cast<i32>(std::strlen(TABS[i].text)) + 1) << TABS[i].text;
  }
  EXPECT_STREQ(TABS[0].text, "Cache Speed ");  // the trailing blank is part of the caption
}

TEST_F(MainDialogLogic, SevenFilterPressesCycleTheCaptionBackToFour) {
  struct Button {
    u32 page, id;
    AtomicU8& level;
    AtomicU8& redraw;
    AtomicU8& otherLevel;
    u32 message;
  };
  const Button buttons[] = {
      {PAGE_READ, ID_READ_FILTER, bench.window.readFilter, bench.protocol.readRedraw,
       bench.window.writeFilter, UM_PAINT_READ},
      {PAGE_WRITE, ID_WRITE_FILTER, bench.window.writeFilter, bench.protocol.writeRedraw,
       bench.window.readFilter, UM_PAINT_WRITE},
  };
  const std::u16string captions[] = {u"фильтр 5", u"фильтр 6", u"фильтр --", u"фильтр 1",
                                     u"фильтр 2", u"фильтр 3", u"фильтр 4"};
  const u8 levels[] = {5, 6, 0, 1, 2, 3, 4};
  for (const Button& b : buttons) {
    reset();
    for (int press = 0; press < 7; ++press) {
      SCOPED_TRACE("page " + std::to_string(b.page) + ", press " + std::to_string(press + 1));
      const PageCommandEffect e = pageCommand(b.page, b.id);
      EXPECT_TRUE(e.handled);
      EXPECT_EQ(b.level.load(), levels[press]);
      EXPECT_EQ(e.captionControl, b.id);
      ASSERT_NE(e.caption, nullptr);
      EXPECT_EQ(wide(e.caption), captions[press]);
      EXPECT_EQ(e.postMessage, b.message);
      EXPECT_EQ(b.redraw.load(), press + 1);  // every press asks for a full frame
      EXPECT_EQ(b.otherLevel.load(), 4);
    }
  }
  // Level 0's caption, byte for byte.
  char caption[32];
  formatFilterCaption(0, caption, sizeof caption);
  EXPECT_STREQ(caption, "\xF4\xE8\xEB\xFC\xF2\xF0 --");
}

TEST_F(MainDialogLogic, RestartButtonsCountAChangeAndSetTheirBitOnly) {
  struct Case {
    u32 page, id;
    AtomicU32& dirty;
    AtomicU8& request;
    u8 before, after;
  };
  const Case cases[] = {
      {PAGE_CACHE, ID_CACHE_RESTART, bench.protocol.cacheDirty, bench.protocol.cacheRestart, 0, 1},
      {PAGE_READ, ID_READ_RESTART, bench.protocol.readDirty, bench.protocol.ramRestart, 2, 3},
      {PAGE_READ, ID_READ_RESTART, bench.protocol.readDirty, bench.protocol.ramRestart, 1, 1},
      {PAGE_WRITE, ID_WRITE_RESTART, bench.protocol.writeDirty, bench.protocol.ramRestart, 1, 3},
      {PAGE_WRITE, ID_WRITE_RESTART, bench.protocol.writeDirty, bench.protocol.ramRestart, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("page " + std::to_string(c.page) + " id " + std::to_string(c.id) + " bits " +
                 std::to_string(c.before));
    reset();
    c.request = c.before;
    c.dirty = 5;
    const PageCommandEffect e = pageCommand(c.page, c.id);
    EXPECT_TRUE(e.handled);
    EXPECT_EQ(c.request.load(), c.after);
    EXPECT_EQ(c.dirty.load(), 6u);
    EXPECT_EQ(e.captionControl, 0u);
    EXPECT_EQ(e.postMessage, 0u);  // the refresh thread announces the change
    EXPECT_FALSE(e.destroyMainDialog);
    EXPECT_EQ(bench.protocol.cacheDirty + bench.protocol.readDirty + bench.protocol.writeDirty, 6u);
  }
}

TEST_F(MainDialogLogic, AboutButtonsAndForeignCommandsTouchNoCounters) {
  struct Case {
    const char* name;
    u32 page, wParam;
    bool handled, destroy;
    const char* address;
  };
  const u32 clickedLater = (1u << 16) | ID_CACHE_RESTART;  // a notification other than a click
  const Case cases[] = {
      {"About close (the write page's restart id)", PAGE_ABOUT, 1300, true, true, nullptr},
      {"About home page (the write page's filter id)", PAGE_ABOUT, 1301, true, false,
       HOME_PAGE_ADDRESS},
      {"About mail", PAGE_ABOUT, 1302, true, false, MAIL_ADDRESS},
      {"Escape on a page", PAGE_READ, 2, false, false, nullptr},
      {"read id on the cache page", PAGE_CACHE, ID_READ_RESTART, false, false, nullptr},
      {"cache id on the write page", PAGE_WRITE, ID_CACHE_RESTART, false, false, nullptr},
      {"restart id with a notification code", PAGE_CACHE, clickedLater, false, false, nullptr},
      {"filter id with a notification code", PAGE_READ, (5u << 16) | ID_READ_FILTER, false,
       false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    const PageCommandEffect e = pageCommand(c.page, c.wParam);
    EXPECT_EQ(e.handled, c.handled);
    EXPECT_EQ(e.destroyMainDialog, c.destroy);
    EXPECT_EQ(e.shellAddress, c.address);
    EXPECT_EQ(e.captionControl, 0u);
    EXPECT_EQ(e.postMessage, 0u);
    EXPECT_EQ(bench.protocol.cacheDirty + bench.protocol.readDirty + bench.protocol.writeDirty, 0u);
    EXPECT_EQ(bench.protocol.cacheRestart.load() | bench.protocol.ramRestart.load(), 0);
    EXPECT_EQ(bench.window.readFilter.load(), 4);
    EXPECT_EQ(bench.window.writeFilter.load(), 4);
  }
  EXPECT_EQ(std::string(MAIL_ADDRESS).rfind("mailto:", 0), 0u);
  EXPECT_NE(std::string(MAIL_ADDRESS).find("?subject=Vardelo1&body="), std::string::npos);
}

TEST(MainDialogHeader, FormatByVendorCutAfterTwentyFiveCharacters) {
  struct Case {
    const char* name;
    u8 vendor;
    u32 family, model, stepping, tscRate;
    std::u16string drawn;
    std::size_t fullLength;
  };
  const Case cases[] = {
      // 21 characters of text and 4 of the 9 blanks.
      {"AMD example", 1, 15, 0x6B, 2, 2929687, u"AMD (F·6B·2), 2999MHz    ", 30},
      {"other vendor", 0, 5, 4, 3, 195312, u"CPU (5·4·3), 200MHz      ", 28},
      {"Intel", 2, 6, 0x9E, 0xA, 3515625, u"Intel (6·9E·A), 3599MHz  ", 30},
      {"unknown vendor code", 7, 6, 0x9E, 0xA, 3515625, u"Intel (6·9E·A), 3599MHz  ", 30},
      {"longer than drawn", 2, 0xF, 0x6B, 0xF, 0xFFFFFFFF, u"Intel (F·6B·F), 4398046MH", 33},
      {"no clock yet", 1, 0, 0, 0, 0, u"AMD (0·0·0), 0MHz        ", 26},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char text[64];
    const u32 drawn = formatHeader(text, sizeof text, c.vendor, c.family, c.model, c.stepping,
                                   c.tscRate);
    EXPECT_EQ(drawn, HEADER_DRAWN_CHARS);
    char16_t out[64];
    EXPECT_EQ(std::u16string(out, toUtf16From1251(text, drawn, out, 64)), c.drawn);
    EXPECT_EQ(std::strlen(text), c.fullLength);
  }
  for (const char* format : {HEADER_FORMAT_OTHER, HEADER_FORMAT_AMD, HEADER_FORMAT_INTEL}) {
    EXPECT_EQ(std::strlen(format), 34u) << '"' << format << '"';
  }
}

TEST_F(MainDialogLogic, HeaderFromTheProcessorFields) {
  bench.machine.cpuVendor = 1, bench.machine.cpuFamily = 15, bench.machine.cpuModel = 0x6B,
  bench.machine.cpuStepping = 2;
  bench.machine.tscRate = 2929687;
  EXPECT_EQ(formatHeaderText(), HEADER_DRAWN_CHARS);
  EXPECT_STREQ(bench.window.headerText,
               "AMD (F\xB7"
               "6B\xB7"
               "2), 2999MHz         ");
  bench.machine.cpuVendor = 0, bench.machine.cpuFamily = 0, bench.machine.cpuModel = 0,
  bench.machine.cpuStepping = 0;
  bench.machine.tscRate = 0;
}

TEST_F(MainDialogLogic, ShowTabAnnouncesChartPagesOnly) {
  struct Case {
    i32 selection;
    u32 from, page;
    std::vector<u32> posted;
    u8 cacheRedraw, readRedraw, writeRedraw;
  };
  const Case cases[] = {
      {0, 3, 0, {UM_PAINT_CACHE}, 1, 0, 0},
      {1, 0, 1, {UM_PAINT_READ}, 0, 1, 0},
      {2, 1, 2, {UM_PAINT_WRITE}, 0, 0, 1},
      {3, 2, 3, {}, 0, 0, 0},
      {-1, 2, 2, {UM_PAINT_WRITE}, 0, 0, 1},  // no selection: the page stays
      {4, 1, 1, {UM_PAINT_READ}, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("selection " + std::to_string(c.selection) + " from page " +
                 std::to_string(c.from));
    reset();
    const u32 page = pageForSelection(c.selection, c.from);
    EXPECT_EQ(page, c.page);
    announceShownPage(page);
    EXPECT_EQ(fake::platformLog().posted, c.posted);
    EXPECT_EQ(bench.protocol.cacheRedraw.load(), c.cacheRedraw);
    EXPECT_EQ(bench.protocol.readRedraw.load(), c.readRedraw);
    EXPECT_EQ(bench.protocol.writeRedraw.load(), c.writeRedraw);
  }
}

TEST_F(MainDialogLogic, RealtimeSwitchAlternatesClassAndWorkerPriority) {
  const PriorityChoice on = toggleRealtime();
  EXPECT_EQ(bench.window.realtimeOn.load(), 1);
  EXPECT_EQ(on.processClass, 0x100u);
  EXPECT_EQ(on.workerPriority, 15);
  const PriorityChoice off = toggleRealtime();
  EXPECT_EQ(bench.window.realtimeOn.load(), 0);
  EXPECT_EQ(off.processClass, 0x20u);
  EXPECT_EQ(off.workerPriority, 0);
}

}  // namespace
}  // namespace vardelo
