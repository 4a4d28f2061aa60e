// The main dialog: creation of the tabs and pages, the show-tab routine, the repaint messages
// handed to the painters, the processor header, the real-time switch and the end of the process.
//
// Dialogs are created with the wide calls so that the templates' Cyrillic texts reach the
// controls as they are; the ANSI calls would pass them through the system's code page.
#include <windows.h>
#include <commctrl.h>

#include <cstddef>

#include "core/text_1251.h"
#include "ui/dialog_font_win.h"
#include "ui/gdi_player_win.h"
#include "ui/main_dialog_logic.h"
#include "ui/painters.h"
#include "ui/ui_win.h"

namespace vardelo {

// bench.window.tabItem is handed to the tab control as its TCITEMA.
static_assert(sizeof(TabItem) == sizeof(TCITEMA));
static_assert(offsetof(TabItem, text) == offsetof(TCITEMA, pszText));
static_assert(offsetof(TabItem, textMax) == offsetof(TCITEMA, cchTextMax));
static_assert(offsetof(TabItem, param) == offsetof(TCITEMA, lParam));
static_assert(PRIORITY_CLASS_NORMAL == NORMAL_PRIORITY_CLASS);
static_assert(PRIORITY_CLASS_REALTIME == REALTIME_PRIORITY_CLASS);
static_assert(THREAD_PRIORITY_PLAIN == THREAD_PRIORITY_NORMAL);
static_assert(THREAD_PRIORITY_TOP == THREAD_PRIORITY_TIME_CRITICAL);
// The message values the dialog's rule is written with are the platform's.
static_assert(MSG_SIZE == WM_SIZE && MSG_ACTIVATE == WM_ACTIVATE && MSG_PAINT == WM_PAINT);
static_assert(MSG_ACTIVATEAPP == WM_ACTIVATEAPP && MSG_NOTIFY == WM_NOTIFY);
static_assert(NOTIFY_TAB_SELCHANGE == static_cast<i32>(TCN_SELCHANGE));
static_assert(SIZE_TYPE_RESTORED == SIZE_RESTORED);

namespace {

void exitNow(unsigned exitCode) { ExitProcess(exitCode); }

HWND windowOf(const AtomicHandle& handle) { return static_cast<HWND>(handle.load()); }
HWND tabControl() { return windowOf(bench.window.hTab); }
HWND pageWindow(u32 page) {
  return page < PAGE_COUNT ? windowOf(bench.window.hPages[page]) : nullptr;
}
HINSTANCE moduleInstance() { return static_cast<HINSTANCE>(bench.machine.hInstance.load()); }

// Resource names are plain ASCII.
struct WideName {
  wchar_t text[16];
  explicit WideName(const char* name) { toUtf16From1251(name, text, sizeof text / sizeof *text); }
};

constexpr DLGPROC PAGE_PROCEDURES[PAGE_COUNT] = {cachePageProc, readPageProc, writePageProc,
                                                 aboutPageProc};

void insertTabs(HWND tab) {
  // Each tab as wide as its caption: a minimum width taken from a wide font's average cell would
  // push the last tab under the processor header.
  SendMessageA(tab, TCM_SETMINTABWIDTH, 0, 0);
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    TabItem& item = bench.window.tabItem;
    item = TabItem{};
    item.mask = TCIF_TEXT;
    item.text = const_cast<char*>(TABS[i].text);  // the control only reads it
    item.textMax = TABS[i].textMax;
    SendMessageA(tab, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
  }
}

void createPages(HWND tab) {
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    const WideName name(TABS[i].pageTemplate);
    bench.window.hPages[i] =
        createDialogWithFace(moduleInstance(), name.text, tab, PAGE_PROCEDURES[i]);
    fitStaticTexts(windowOf(bench.window.hPages[i]));
  }
}

void createMainDialog(HWND dialog) {
  bench.window.hMainDlg = dialog;
  InitCommonControls();
  HWND tab = GetDlgItem(dialog, ID_TAB_CONTROL);
  bench.window.hTab = tab;
  insertTabs(tab);
  createPages(tab);
  bench.window.curPage = PAGE_CACHE;
  const WideName icon(ICON_NAME);
  SendMessageW(dialog, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconW(moduleInstance(), icon.text)));
}

void runPainter(Chart chart) {
  switch (chart) {
    case Chart::Cache: paintCacheChart(); break;
    case Chart::Read: paintReadChart(); break;
    case Chart::Write: paintWriteChart(); break;
    case Chart::None: break;
  }
}

void carryOut(const DialogAction& action) {
  if (action.showTab) showSelectedTab();
  if (action.updateTabControl) UpdateWindow(tabControl());
  if (action.updatePage >= 0) UpdateWindow(pageWindow(static_cast<u32>(action.updatePage)));
  if (action.raiseRedraw) raiseRedraw(action.painter);
  runPainter(action.painter);
  if (action.drawHeader) drawProcessorHeader();
}

// The process class follows the switch; of the threads only the two sweep workers change, so
// the refresh thread and this one keep their priorities within the class.
void switchRealtime() {
  const PriorityChoice choice = toggleRealtime();
  SetPriorityClass(GetCurrentProcess(), choice.processClass);
  SetThreadPriority(static_cast<HANDLE>(bench.machine.hCacheThread.load()), choice.workerPriority);
  SetThreadPriority(static_cast<HANDLE>(bench.machine.hRamThread.load()), choice.workerPriority);
}

// A copy for a watching program's window: the record as it stands (the workers go on writing it
// meanwhile, so a copy may mix two moments, as any outside look at it would), or where the tabs
// are.
void sendSnapshot(WPARAM what, HWND to) {
  RECT tabs[PAGE_COUNT] = {};
  COPYDATASTRUCT data{what, sizeof bench, const_cast<BenchState*>(&bench)};
  if (what == SNAPSHOT_TAB_RECTS) {
    for (u32 i = 0; i < PAGE_COUNT; ++i) {
      SendMessageW(tabControl(), TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&tabs[i]));
    }
    data.cbData = sizeof tabs;
    data.lpData = tabs;
  } else if (what != SNAPSHOT_BENCH) {
    return;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutW(to, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                      SMTO_ABORTIFHUNG, 5000, &result);
}

}  // namespace

ProcessEnd endProcess = exitNow;

void runMainDialog() {
  const WideName name(MAIN_TEMPLATE);
  runDialogWithFace(moduleInstance(), name.text, nullptr, mainDialogProc);
}

void showSelectedTab() {
  const u32 shown = bench.window.curPage.load();
  ShowWindow(pageWindow(shown), SW_HIDE);
  const auto selection = static_cast<i32>(SendMessageW(tabControl(), TCM_GETCURSEL, 0, 0));
  const u32 page = pageForSelection(selection, shown);
  bench.window.curPage = page;
  ShowWindow(pageWindow(page), SW_SHOWDEFAULT);
  announceShownPage(page);
}

void drawProcessorHeader() {
  HWND tab = tabControl();
  HDC dc = GetDC(tab);
  SetBkMode(dc, TRANSPARENT);
  HFONT font = createChartFont();
  HGDIOBJ previous = SelectObject(dc, font);
  const u32 drawn = formatHeaderText();
  wchar_t text[HEADER_DRAWN_CHARS + 1];
  const std::size_t length =
      toUtf16From1251(bench.window.headerText, drawn, text, HEADER_DRAWN_CHARS + 1);
  RECT client{};
  GetClientRect(tab, &client);
  textOutWithin(dc, HEADER_X, HEADER_Y, text, static_cast<int>(length), client.right - 2);
  SelectObject(dc, previous);
  DeleteObject(font);
  ReleaseDC(tab, dc);
}

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      createMainDialog(dialog);
      return 0;  // no control takes the focus
    case WM_COMMAND:
      // Escape's IDCANCEL lands here too and is left alone: the window stays.
      if (wParam == CMD_REALTIME) switchRealtime();
      return 0;
    case WM_CLOSE:
    case WM_DESTROY:
      endProcess(0);
      return 0;
    case UM_SNAPSHOT:
      sendSnapshot(wParam, reinterpret_cast<HWND>(lParam));
      return TRUE;
    default:
      break;
  }
  const i32 notifyCode =
      message == WM_NOTIFY ? static_cast<i32>(reinterpret_cast<const NMHDR*>(lParam)->code) : 0;
  carryOut(
      mainDialogAction(message, static_cast<u32>(wParam), notifyCode, bench.window.curPage.load()));
  return 0;
}

}  // namespace vardelo
