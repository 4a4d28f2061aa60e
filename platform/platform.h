// The handful of platform services that the measuring logic needs, as free functions.
//
// The program links the Win32 versions (platform/platform_win.cpp); the host unit tests link
// fakes (tests/host/fakes/) that record what was asked, so the workers' logic can run and be
// checked on the host without a window or a Windows kernel.
#pragma once

#include <cstdint>

#include "core/text_format.h"

namespace vardelo::platform {

// Suspends the calling thread; 0 gives up the rest of its time slice.
void sleepMs(std::uint32_t ms);

// Milliseconds since the system started, wrapping after about 49.7 days: differences of two
// readings in u32 arithmetic are right across the wrap.
std::uint32_t millisecondsNow();

// Ends the process at once with `exitCode`, without running static destructors first.
[[noreturn]] void exitProcess(unsigned exitCode);

// Sets the text of control `controlId` on page `page` (PAGE_CACHE .. PAGE_ABOUT).
// The text is 8-bit, code page 1251. The call waits until the user-interface thread has taken
// it. Where no window exists (the console companion, or before the dialog is up) the text goes
// to the installed text sink instead, if any, else nowhere.
void setPageText(std::uint32_t page, std::uint32_t controlId, const char* text);

// Greys the "Cache Speed " page's L3 column (its header, size and speed cells) or shows it as
// measured. Called by the user-interface thread; nothing where no window exists.
void setL3ColumnEnabled(bool enabled);

// Sets every text of `updates` on page `page`, in order (platform/page_texts.cpp).
void sendFieldUpdates(std::uint32_t page, const FieldUpdates& updates);

// Asks the scheduler to run the calling thread only on the processors in `mask`; a request
// outside the process's own mask is refused, and the result is ignored.
void setThreadAffinity(std::uint32_t mask);

// Selects tab `index` of the main dialog's tab control (sent: waits for the user-interface
// thread; selects without a selection-change notification). Nothing happens without a window.
void selectTab(std::uint32_t index);

// Posts `message` to the main dialog with both parameters 0. Dropped without a window.
void postToMainDialog(std::uint32_t message);

// Total physical memory in bytes, from the 64-bit memory status (the 32-bit call caps at 2 GiB);
// 0 when the system does not tell.
std::uint64_t totalPhysicalMemoryBytes();

// Writes a return instruction at the first byte of the test area and calls it: the code cache
// and the instruction fetch of that page are touched before a RAM pass.
void callReturnAtTestArea();

// Receives page texts when there is no window to show them; the console companion installs one
// to print progress. Null by default.
using PageTextSink = void (*)(std::uint32_t page, std::uint32_t controlId, const char* text);
void setPageTextSink(PageTextSink sink);

}  // namespace vardelo::platform
