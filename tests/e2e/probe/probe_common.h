// What the probe's commands share: finding the program's windows and controls, reading their
// texts, and copies of the program's BenchState.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "core/bench_state.h"
#include "core/constants.h"
#include "core/pages.h"
#include "ui/resources/caption.h"

namespace probe {

inline const wchar_t* const CAPTION = L"" VARDELO_CAPTION;

inline HWND mainWindow() { return FindWindowW(nullptr, CAPTION); }

inline HWND tabControl(HWND main) { return GetDlgItem(main, vardelo::ID_TAB_CONTROL); }

// The pages are child dialogs of the tab control, in creation (tab) order.
inline HWND page(HWND main, int index) {
  HWND child = nullptr;
  int i = -1;
  while ((child = FindWindowExW(tabControl(main), child, L"#32770", nullptr)) != nullptr) {
    if (++i == index) return child;
  }
  return nullptr;
}

inline std::string utf8(const wchar_t* text) {
  char out[1024];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
  return n > 0 ? std::string(out) : std::string();
}

inline std::string windowText(HWND window) {
  wchar_t text[512] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                      &result);
  return utf8(text);
}

inline std::string controlText(HWND main, int pageIndex, int id) {
  HWND control = GetDlgItem(page(main, pageIndex), id);
  return control == nullptr ? "<no control>" : windowText(control);
}

inline int selectedTab(HWND main) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(tabControl(main), TCM_GETCURSEL, 0, 0, SMTO_BLOCK, 5000, &result)) {
    return -1;
  }
  return static_cast<int>(result);
}

// The visible pages as digits, "1" when only the read page shows.
inline std::string visiblePages(HWND main) {
  std::string shown;
  for (int i = 0; i < static_cast<int>(vardelo::PAGE_COUNT); ++i) {
    if (IsWindowVisible(page(main, i))) shown += static_cast<char>('0' + i);
  }
  return shown;
}

inline DWORD processOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// Milliseconds for a message sent to the main dialog to come back; negative when it did not
// within `timeoutMs`.
inline double roundTripMs(HWND main, UINT timeoutMs = 10000) {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  DWORD_PTR result = 0;
  const bool ok = SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_BLOCK, timeoutMs, &result) != 0;
  QueryPerformanceCounter(&b);
  return ok ? (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart : -1.0;
}

// Asks the program for a copy (UM_SNAPSHOT, `what` a SNAPSHOT_ value) of `bytes` bytes into
// `out`; false when none came within the bound.
bool copyFromProgram(HWND main, unsigned what, void* out, std::size_t bytes);

// Rectangle of tab `index` in the tab control's client coordinates, as the program sees it.
inline bool tabRect(HWND main, int index, RECT* item) {
  RECT tabs[vardelo::PAGE_COUNT];
  if (index < 0 || index >= static_cast<int>(vardelo::PAGE_COUNT) ||
      !copyFromProgram(main, vardelo::SNAPSHOT_TAB_RECTS, tabs, sizeof tabs)) {
    return false;
  }
  *item = tabs[index];
  return true;
}

// Screen centre of tab `index`.
inline bool tabCentre(HWND main, int index, POINT* centre) {
  RECT item;
  if (!tabRect(main, index, &item)) return false;
  centre->x = (item.left + item.right) / 2;
  centre->y = (item.top + item.bottom) / 2;
  return ClientToScreen(tabControl(main), centre) != 0;
}

// A left click at a point of the screen, through the system's input queue as a mouse's would.
inline void click(POINT at) {
  SetCursorPos(at.x, at.y);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
}

// Presses the keys in order and lets them go in reverse order, with the main window in front,
// through the system's input queue as a keyboard's would.
inline void pressKeys(HWND main, std::initializer_list<WORD> keys) {
  SetForegroundWindow(main);
  INPUT input[8] = {};
  int n = 0;
  for (WORD key : keys) {
    input[n].type = INPUT_KEYBOARD;
    input[n++].ki.wVk = key;
  }
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
    input[n].type = INPUT_KEYBOARD;
    input[n].ki.wVk = *key;
    input[n++].ki.dwFlags = KEYEVENTF_KEYUP;
  }
  SendInput(n, input, sizeof(INPUT));
}

// A click on the middle of a control; false when it is not there.
inline bool clickControl(HWND main, int pageIndex, int id) {
  RECT r;
  if (!GetWindowRect(GetDlgItem(page(main, pageIndex), id), &r)) return false;
  click(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  return true;
}

// The program's BenchState as it stood a moment ago: asked with UM_SNAPSHOT, the program sends a
// copy of the record back to a window of this probe. Messages reach the program on every kind of
// machine; reading its memory from outside does not work where an emulator runs it.
class BenchReader {
 public:
  explicit BenchReader(HWND main) : main_(main), bytes_(sizeof(vardelo::BenchState)) { update(); }
  BenchReader(const BenchReader&) = delete;
  BenchReader& operator=(const BenchReader&) = delete;

  // Takes a fresh copy; false (and ok() false) when none came within the bound.
  bool update();
  bool ok() const { return ok_; }

  template <typename T>
  T read(std::size_t offset) const {
    T value{};
    if (ok_) std::memcpy(&value, bytes_.data() + offset, sizeof value);
    return value;
  }
  std::uint8_t byte(std::size_t offset) const { return read<std::uint8_t>(offset); }

  // Copies `bytes` bytes of the record from `offset`; zeros without a copy.
  void copy(std::size_t offset, void* out, std::size_t bytes) const {
    if (ok_)
      std::memcpy(out, bytes_.data() + offset, bytes);
    else
      std::memset(out, 0, bytes);
  }

  // Copies `count` 32-bit entries starting at `offset`; NO_POINT each without a copy.
  void entries(std::size_t offset, std::uint32_t* out, std::size_t count) const {
    if (!ok_) {
      for (std::size_t i = 0; i < count; ++i) out[i] = vardelo::NO_POINT;
      return;
    }
    std::memcpy(out, bytes_.data() + offset, count * 4);
  }

 private:
  HWND main_;
  bool ok_ = false;
  std::vector<unsigned char> bytes_;
};

// The measured points of one curve: entries before the first NO_POINT, or before the first 0
// (a RAM curve holds zeros until its first pass clears it).
inline int measuredPoints(const std::uint32_t* curve, int points) {
  int n = 0;
  while (n < points && curve[n] != vardelo::NO_POINT && curve[n] != 0) ++n;
  return n;
}

// Points measured in each of the 14 curves: "dcache icache | read 32..256 | write | mmx", and
// "tail-ok" when every entry behind the points is NO_POINT.
std::string curvesSummary(const BenchReader& bench);

int chaos(HWND main, double seconds, unsigned seed, double answerSeconds);
int monitor(HWND main, double seconds, const char* stopFile);
int pressDuring(HWND main, double seconds, const char* flag, unsigned mask, int front, int tab,
                int id);
std::string marks(HWND main, int chart);

}  // namespace probe
