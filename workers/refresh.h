// The refresh thread: the workers' half of the window-message protocol.
//
// Workers never draw; they count their changes. Every 350 ms the refresh thread turns each chart
// page's change counter into at most one outstanding repaint message to the main dialog. The
// main dialog paints a page only while it is shown (ui/main_dialog_logic.h), and the page's
// painter acknowledges by clearing the page's marks (ui/frame_rule.h).
#pragma once

#include "core/bench_state.h"

namespace vardelo {

inline constexpr u32 REFRESH_PERIOD_MS = 350;
inline constexpr u32 REFRESH_AFFINITY_MASK = 2;  // the second processor, where there is one

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

}  // namespace vardelo
