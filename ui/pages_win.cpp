// The four page procedures: the restart and filter buttons of the chart pages and the About
// page's close, home page and mail buttons. pageCommand decides; this file carries it out.
#include <windows.h>
#include <shellapi.h>

#include "core/text_1251.h"
#include "platform/platform.h"
#include "ui/main_dialog_logic.h"
#include "ui/ui_win.h"

namespace vardelo {
namespace {

void openWithShell(const char* address) {
  ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_SHOWNORMAL);
}

void carryOut(HWND page, const PageCommandEffect& effect) {
  if (effect.captionControl != 0) {
    wchar_t caption[sizeof bench.window.filterLabel];
    toUtf16From1251(effect.caption, caption, sizeof caption / sizeof *caption);
    SendDlgItemMessageW(page, static_cast<int>(effect.captionControl), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(caption));
  }
  if (effect.postMessage != 0) platform::postToMainDialog(effect.postMessage);
  // The main dialog's WM_DESTROY ends the process.
  if (effect.destroyMainDialog) DestroyWindow(static_cast<HWND>(bench.window.hMainDlg.load()));
  if (effect.shellAddress != nullptr) shellOpen(effect.shellAddress);
}

INT_PTR pageProcedure(u32 pageIndex, HWND page, UINT message, WPARAM wParam) {
  if (message == WM_COMMAND) carryOut(page, pageCommand(pageIndex, static_cast<u32>(wParam)));
  return 0;
}

}  // namespace

ShellOpen shellOpen = openWithShell;

INT_PTR CALLBACK cachePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  return pageProcedure(PAGE_CACHE, page, message, wParam);
}

INT_PTR CALLBACK readPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  return pageProcedure(PAGE_READ, page, message, wParam);
}

INT_PTR CALLBACK writePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  return pageProcedure(PAGE_WRITE, page, message, wParam);
}

INT_PTR CALLBACK aboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  return pageProcedure(PAGE_ABOUT, page, message, wParam);
}

}  // namespace vardelo
