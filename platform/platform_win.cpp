#include "platform/platform.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "core/bench_state.h"
#include "core/pages.h"
#include "core/text_1251.h"

namespace vardelo::platform {
namespace {

std::atomic<PageTextSink> textSink{nullptr};

}  // namespace

void sleepMs(std::uint32_t ms) { Sleep(ms); }

std::uint32_t millisecondsNow() { return GetTickCount(); }

void exitProcess(unsigned exitCode) { ExitProcess(exitCode); }

void setThreadAffinity(std::uint32_t mask) { SetThreadAffinityMask(GetCurrentThread(), mask); }

void selectTab(std::uint32_t index) {
  if (HWND tab = static_cast<HWND>(bench.window.hTab.load()))
    SendMessageA(tab, TCM_SETCURSEL, index, 0);
}

void postToMainDialog(std::uint32_t message) {
  if (HWND dlg = static_cast<HWND>(bench.window.hMainDlg.load())) PostMessageA(dlg, message, 0, 0);
}

std::uint64_t totalPhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

void callReturnAtTestArea() {
  std::uint8_t* area = bench.machine.testArea.load();
  area[0] = 0xC3;  // ret
  reinterpret_cast<void (*)()>(area)();
}

void setPageTextSink(PageTextSink sink) { textSink.store(sink); }

void setPageText(std::uint32_t page, std::uint32_t controlId, const char* text) {
  HWND pageWindow =
      page < PAGE_COUNT ? static_cast<HWND>(bench.window.hPages[page].load()) : nullptr;
  if (pageWindow == nullptr) {
    if (PageTextSink sink = textSink.load()) sink(page, controlId, text);
    return;
  }
  // The program's texts are code page 1251 bytes; converted here, they show the same whatever
  // the system's ANSI code page.
  wchar_t wide[256];
  toUtf16From1251(text, wide, 256);
  SendDlgItemMessageW(pageWindow, static_cast<int>(controlId), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(wide));
}

void setL3ColumnEnabled(bool enabled) {
  HWND pageWindow = static_cast<HWND>(bench.window.hPages[PAGE_CACHE].load());
  if (pageWindow == nullptr) return;
  // The header has no identifier of its own: it is the static that reads "L3".
  for (HWND child = GetWindow(pageWindow, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t text[4];
    if (GetWindowTextW(child, text, 4) == 2 && text[0] == L'L' && text[1] == L'3') {
      EnableWindow(child, enabled);
      break;
    }
  }
  for (const std::uint32_t id : {FIELD_L3_SIZE, FIELD_L3_SPEED}) {
    EnableWindow(GetDlgItem(pageWindow, static_cast<int>(id)), enabled);
  }
}

}  // namespace vardelo::platform
