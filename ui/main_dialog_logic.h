// The decisions of the main dialog and its pages, apart from the window system: the tab table,
// what the main dialog does with each message and what the show-tab routine announces, the
// processor header, the filter cycle and its captions, what each page button changes and asks
// the window to do, and the real-time priority switch. The window code (main_dialog_win.cpp,
// pages_win.cpp) plays the results out.
//
// Texts here are code page 1251, written as byte escapes so their bytes stay exact.
#pragma once

#include <cstddef>

#include "core/bench_state.h"
#include "core/pages.h"
#include "ui/frame_rule.h"

namespace vardelo {

// One tab: its text, the text capacity the tab item is given (length plus one) and the page
// template created for it.
struct TabEntry {
  const char* text;
  i32 textMax;
  const char* pageTemplate;
};
inline constexpr TabEntry TABS[PAGE_COUNT] = {
    {"Cache Speed ", 13, "IDD_CHILD1"},
    {"Read RAM", 9, "IDD_CHILD2"},
    {"Write RAM", 10, "IDD_CHILD3"},
    {"About", 6, "IDD_CHILD4"},
};
inline constexpr const char* MAIN_TEMPLATE = "IDD_DIALOG1";
inline constexpr const char* ICON_NAME = "MYICON";

// The page a tab selection shows; a selection outside the tabs (none) leaves `current`.
u32 pageForSelection(i32 selection, u32 current);

// Window messages the protocol reacts to, with the platform's values (checked against the
// platform headers in the target build).
inline constexpr u32 MSG_SIZE = 0x0005;
inline constexpr u32 MSG_ACTIVATE = 0x0006;
inline constexpr u32 MSG_PAINT = 0x000F;
inline constexpr u32 MSG_ACTIVATEAPP = 0x001C;
inline constexpr u32 MSG_NOTIFY = 0x004E;
inline constexpr i32 NOTIFY_TAB_SELCHANGE = -551;
inline constexpr u32 SIZE_TYPE_RESTORED = 0;

// What the main dialog does with one message, given the page shown. Every message returns 0;
// `handled` tells the protocol's messages from the rest, which other code may handle.
struct DialogAction {
  bool handled = false;
  bool showTab = false;           // run the show-tab routine
  bool updateTabControl = false;  // UpdateWindow on the tab control
  i32 updatePage = -1;            // UpdateWindow on this page before painting; -1 none
  bool raiseRedraw = false;       // raise the painter's redraw request before it runs
  Chart painter = Chart::None;    // painter to run
  bool drawHeader = false;        // draw the processor header last
};
DialogAction mainDialogAction(u32 message, u32 wParam, i32 notifyCode, u32 curPage);

// What the show-tab routine announces once `page` is shown: the chart whose redraw request it
// raises and the repaint message it posts (none and 0 for the About page).
struct ShowTabEffect {
  Chart redraw;
  u32 message;
};
ShowTabEffect showTabEffect(u32 page);
// Raises that redraw request, then posts that message.
void announceShownPage(u32 page);

// Processor header: one format per vendor, each 34 characters, the blanks at the end wiping out
// the tail of a longer header drawn before. Only the first 25 characters are drawn.
inline constexpr char HEADER_FORMAT_OTHER[] = "CPU (%lX\xB7%lX\xB7%lX), %luMHz         ";
inline constexpr char HEADER_FORMAT_AMD[] = "AMD (%lX\xB7%lX\xB7%lX), %luMHz         ";
inline constexpr char HEADER_FORMAT_INTEL[] = "Intel (%lX\xB7%lX\xB7%lX), %luMHz       ";
inline constexpr u32 HEADER_DRAWN_CHARS = 25;
inline constexpr i32 HEADER_X = 255;  // pixels, client coordinates of the tab control
inline constexpr i32 HEADER_Y = 4;

// VENDOR_OTHER "CPU", VENDOR_AMD "AMD", VENDOR_INTEL (and any code above) "Intel".
const char* headerFormat(u8 cpuVendor);

// Formats the header into `out` and returns how many of its characters are drawn.
u32 formatHeader(char* out, std::size_t cap, u8 cpuVendor, u32 family, u32 model, u32 stepping,
                 u32 tscRate);
// The same from the processor fields of `bench`, into bench.window.headerText.
u32 formatHeaderText();

// Filter levels run 0..FILTER_LEVEL_MAX and wrap: 4, 5, 6, 0, 1, ... from the start.
inline constexpr char FILTER_FORMAT[] = "\xF4\xE8\xEB\xFC\xF2\xF0 %1lu";  // "фильтр %1lu"
inline constexpr char FILTER_OFF[] = "\xF4\xE8\xEB\xFC\xF2\xF0 --";       // "фильтр --"

constexpr u8 nextFilterLevel(u8 level) {
  return level >= FILTER_LEVEL_MAX ? 0 : static_cast<u8>(level + 1);
}
// "фильтр N" for levels 1..6, "фильтр --" for 0.
void formatFilterCaption(u8 level, char* out, std::size_t cap);

// The About page's hand-offs to the shell.
inline constexpr char HOME_PAGE_ADDRESS[] = "https://vardelo.example.org/";
inline constexpr char MAIL_ADDRESS[] =
    "mailto:vardelo@example.org?subject=Vardelo1&body=Hello%2C%20Vardelo%20team%21";

// What a page's WM_COMMAND leaves for the window to do, after the shared state is changed.
struct PageCommandEffect {
  bool handled = false;
  u32 captionControl = 0;         // nonzero: give this control of the page `caption`
  const char* caption = nullptr;  // code page 1251
  u32 postMessage = 0;            // nonzero: post it to the main dialog
  bool destroyMainDialog = false;
  const char* shellAddress = nullptr;  // nonzero: open it with the shell
};

// A command on page `page` with the full wParam: restart requests raise their page's change
// counter and set their bit; a filter button steps its level, formats bench.window.filterLabel and
// asks for a full redraw. Anything else is not handled and changes nothing.
PageCommandEffect pageCommand(u32 page, u32 wParam);

// Priority values with the platform's numbers.
inline constexpr u32 PRIORITY_CLASS_NORMAL = 0x20;
inline constexpr u32 PRIORITY_CLASS_REALTIME = 0x100;
inline constexpr i32 THREAD_PRIORITY_PLAIN = 0;
inline constexpr i32 THREAD_PRIORITY_TOP = 15;  // time-critical

struct PriorityChoice {
  u32 processClass;      // for the process
  i32 workerPriority;    // for the two sweep workers
};
// Flips bench.window.realtimeOn and returns the priorities that go with its new value.
PriorityChoice toggleRealtime();

}  // namespace vardelo
