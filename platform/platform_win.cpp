#include "platform/platform.h"

#include <windows.h>

#include <atomic>

#include "core/bench_state.h"

namespace vardelo::platform {
namespace {

std::atomic<PageTextSink> textSink{nullptr};

}  // namespace

void sleepMs(std::uint32_t ms) { Sleep(ms); }

void setPageTextSink(PageTextSink sink) { textSink.store(sink); }

void setPageText(std::uint32_t page, std::uint32_t controlId, const char* text) {
  HWND pageWindow = page < 4 ? static_cast<HWND>(bench.hPages[page].load()) : nullptr;
  if (pageWindow == nullptr) {
    if (PageTextSink sink = textSink.load()) sink(page, controlId, text);
    return;
  }
  SendDlgItemMessageA(pageWindow, static_cast<int>(controlId), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(text));
}

}  // namespace vardelo::platform
