// Refresh thread and the window-message protocol between the workers and the painters.
//
// Workers never draw; they count their changes. Every 350 ms the refresh thread turns each chart
// page's change counter into at most one outstanding repaint message to the main dialog. The
// main dialog paints a page only while it is shown, and the page's painter acknowledges by
// clearing the page's marks. This file holds both halves in window-free form: the refresh step,
// what the main dialog does with each message, the show-tab routine's announcements, and the
// frame rule and closing of the painters. The window code plays them out.
#pragma once

#include "core/bench_state.h"
#include "core/pages.h"

namespace vardelo {

inline constexpr u32 REFRESH_PERIOD_MS = 350;
inline constexpr u32 REFRESH_AFFINITY_MASK = 2;  // the second processor, where there is one
inline constexpr u32 PAINT_PAUSE_MS = 25;

// Window messages the protocol reacts to, with the platform's values (checked against the
// platform headers in the target build).
inline constexpr u32 MSG_SIZE = 0x0005;
inline constexpr u32 MSG_ACTIVATE = 0x0006;
inline constexpr u32 MSG_PAINT = 0x000F;
inline constexpr u32 MSG_ACTIVATEAPP = 0x001C;
inline constexpr u32 MSG_NOTIFY = 0x004E;
inline constexpr i32 NOTIFY_TAB_SELCHANGE = -551;
inline constexpr u32 SIZE_TYPE_RESTORED = 0;

// One step of the refresh thread: cache page, read page, write page, each posting its repaint
// message when it has changes and none is outstanding.
void refreshStep();

// The thread body: ask for the second processor, then a step every 350 ms, for ever.
[[noreturn]] void refreshThreadRun();

#ifdef _WIN32
// Thread entry for CreateThread (a DWORD WINAPI routine): refreshThreadRun. The argument is not
// used; it never returns.
unsigned long __stdcall refreshThread(void* unused);
#endif

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
  u32 result = 0;
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

// Raises the chart's redraw request (nothing for Chart::None).
void raiseRedraw(Chart chart);

// The marks a chart's painter reads and clears. The read chart chooses its frame by readTick
// but pauses on and clears writeTick; the write chart uses readTick for both. So nothing raises
// the write chart's tick while a write pass runs, and every write paint draws the full frame.
struct ChartMarks {
  AtomicU8* frameTick;  // raised: the refresh thread announced this paint
  AtomicU8* pauseTick;  // clear at the end of the paint: pause 25 ms; then cleared
  AtomicU8* newMax;
  AtomicU8* redraw;
  AtomicU8* posted;
};
ChartMarks chartMarks(Chart chart);  // chart must not be None

// The frame rule: a full frame when a redraw is asked for, the maximum changed, or the paint was
// not announced by the refresh thread; otherwise only the curves over the last frame.
constexpr bool fullFrameWanted(u8 redraw, u8 newMax, u8 frameTick) {
  return redraw != 0 || newMax != 0 || frameTick == 0;
}
// The rule applied to the chart's marks as they stand; read once at the opening of a paint.
bool chartWantsFullFrame(Chart chart);

// Closing of a chart paint: pause 25 ms when the pause tick is clear, then clear the pause tick,
// the new-maximum mark, the redraw request and the one-shot, in this order.
void endChartPaint(Chart chart);

}  // namespace vardelo
