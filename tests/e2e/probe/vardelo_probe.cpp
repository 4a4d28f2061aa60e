// vardelo-probe.exe: drives and reads a running vardelo.exe through the window system, from
// inside the same Wine session, for the end-to-end tests. Each command prints one line on stdout
// and exits 0 on success, 1 when the condition was not met in time or the window is missing.
//
//   wait-window SECONDS            until the main window exists; prints its handle
//   tab                            the selected tab index
//   wait-tab N SECONDS             until tab N is selected (the workers select theirs)
//   select-tab N                   selects tab N and shows its page, as the workers do
//   text PAGE ID                   the text of control ID on page PAGE (0..3), UTF-8
//   wait-text PAGE ID REGEX-FREE-PREFIX SECONDS   until that text starts with the prefix
//   visible PAGE                   1 when the page is visible, else 0
//   command ID                     sends WM_COMMAND ID to the main dialog
//   page-command PAGE ID           sends WM_COMMAND ID to a page (a button click)
//   key-escape                     sends the Escape key to the main dialog
//   close                          posts WM_CLOSE to the main window
//   round-trip                     milliseconds for a message sent to the main dialog to return
//   origin PAGE                    screen position of the page's client area: "x y"
//   face                           the system's button-face colour: "r g b"
//   gdi                            GDI objects and handles of the vardelo.exe process
//   cycle RVA                      the workers' state read from the program's BenchState, found at
//                                  RVA (from the exe's symbol table) in its image: "done" once the
//                                  first cache sweep, read pass and write pass have all ended
//   wait-cycle RVA SECONDS         until that state is "done"
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstddef>
#include <string>

#include "core/bench_state.h"

namespace {

const wchar_t* const CAPTION = L"Memory benchmark v0.1.5 (alpha)";

HWND mainWindow() { return FindWindowW(nullptr, CAPTION); }

HWND tabControl(HWND main) { return GetDlgItem(main, 1011); }

// The pages are child dialogs of the tab control, in creation (tab) order.
HWND page(HWND main, int index) {
  HWND child = nullptr;
  int i = -1;
  while ((child = FindWindowExW(tabControl(main), child, L"#32770", nullptr)) != nullptr) {
    if (++i == index) return child;
  }
  return nullptr;
}

std::string utf8(const wchar_t* text) {
  char out[1024];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
  return n > 0 ? std::string(out) : std::string();
}

std::string controlText(HWND main, int pageIndex, int id) {
  HWND control = GetDlgItem(page(main, pageIndex), id);
  if (control == nullptr) return "<no control>";
  wchar_t text[512] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                      &result);
  return utf8(text);
}

int selectedTab(HWND main) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(tabControl(main), TCM_GETCURSEL, 0, 0, SMTO_BLOCK, 5000, &result)) {
    return -1;
  }
  return static_cast<int>(result);
}

template <typename Condition>
bool waitFor(double seconds, Condition condition) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
  for (;;) {
    if (condition()) return true;
    if (static_cast<int>(GetTickCount() - end) >= 0) return false;
    Sleep(100);
  }
}

DWORD vardeloProcessId(HWND main) {
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  return pid;
}

// Reads one field of the program's BenchState out of its memory.
template <typename T>
T readField(HANDLE process, std::uintptr_t benchAddress, std::size_t offset) {
  T value{};
  SIZE_T got = 0;
  ReadProcessMemory(process, reinterpret_cast<const void*>(benchAddress + offset), &value,
                    sizeof value, &got);
  return value;
}

// "done" when no sweep runs, none is requested and the last MMX write curve is complete; else
// the state as "cacheBusy ramBusy ramRestart last-entry".
std::string cycleState(HWND main, std::uintptr_t rva) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                               vardeloProcessId(main));
  HMODULE modules[1] = {};
  DWORD needed = 0;
  EnumProcessModules(process, modules, sizeof modules, &needed);
  const std::uintptr_t bench = reinterpret_cast<std::uintptr_t>(modules[0]) + rva;
  using vardelo::BenchState;
  const auto cacheBusy = readField<std::uint8_t>(process, bench, offsetof(BenchState, cacheBusy));
  const auto ramBusy = readField<std::uint8_t>(process, bench, offsetof(BenchState, ramBusy));
  const auto ramRestart = readField<std::uint8_t>(process, bench, offsetof(BenchState, ramRestart));
  const auto last = readField<std::uint32_t>(
      process, bench,
      offsetof(BenchState, writeMmxCurves) + (3 * vardelo::RAM_CURVE_ENTRIES + 319) * 4);
  CloseHandle(process);
  if (cacheBusy == 0 && ramBusy == 0 && ramRestart == 0 && last != 0 && last != vardelo::NO_POINT) {
    return "done";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%u %u %u %lu", cacheBusy, ramBusy, ramRestart,
                static_cast<unsigned long>(last));
  return text;
}

int run(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string cmd = argv[1];
  auto arg = [&](int i) { return i < argc ? std::atof(argv[i]) : 0.0; };

  if (cmd == "wait-window") {
    HWND found = nullptr;
    const bool ok = waitFor(arg(2), [&] { return (found = mainWindow()) != nullptr; });
    std::printf("%p\n", static_cast<void*>(found));
    return ok ? 0 : 1;
  }
  HWND main = mainWindow();
  if (main == nullptr) {
    std::printf("no window\n");
    return 1;
  }
  if (cmd == "tab") {
    std::printf("%d\n", selectedTab(main));
  } else if (cmd == "wait-tab") {
    const int want = static_cast<int>(arg(2));
    const bool ok = waitFor(arg(3), [&] { return selectedTab(main) == want; });
    std::printf("%d\n", selectedTab(main));
    return ok ? 0 : 1;
  } else if (cmd == "select-tab") {
    // Selects the tab and asks the dialog to show its page, as the workers do: a WM_NOTIFY sent
    // from another process would carry a pointer into this one.
    const int index = static_cast<int>(arg(2));
    SendMessageW(tabControl(main), TCM_SETCURSEL, index, 0);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(main, vardelo::UM_SHOW_TAB, 0, 0, SMTO_BLOCK, 5000, &result);
    std::printf("%d\n", selectedTab(main));
  } else if (cmd == "text") {
    std::printf("%s\n", controlText(main, static_cast<int>(arg(2)), static_cast<int>(arg(3))).c_str());
  } else if (cmd == "wait-text") {
    const int p = static_cast<int>(arg(2)), id = static_cast<int>(arg(3));
    const std::string prefix = argc > 4 ? argv[4] : "";
    std::string text;
    const bool ok = waitFor(arg(5), [&] {
      text = controlText(main, p, id);
      return text.compare(0, prefix.size(), prefix) == 0;
    });
    std::printf("%s\n", text.c_str());
    return ok ? 0 : 1;
  } else if (cmd == "visible") {
    std::printf("%d\n", IsWindowVisible(page(main, static_cast<int>(arg(2)))) ? 1 : 0);
  } else if (cmd == "command") {
    SendMessageW(main, WM_COMMAND, static_cast<WPARAM>(arg(2)), 0);
    std::printf("sent\n");
  } else if (cmd == "page-command") {
    SendMessageW(page(main, static_cast<int>(arg(2))), WM_COMMAND, static_cast<WPARAM>(arg(3)), 0);
    std::printf("sent\n");
  } else if (cmd == "key-escape") {
    // What the dialog manager makes of an Escape key press: the cancel command.
    SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
    std::printf("sent\n");
  } else if (cmd == "close") {
    PostMessageW(main, WM_CLOSE, 0, 0);
    std::printf("posted\n");
  } else if (cmd == "round-trip") {
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    DWORD_PTR result = 0;
    const bool ok = SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result) != 0;
    QueryPerformanceCounter(&b);
    std::printf("%.1f\n", (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart);
    return ok ? 0 : 1;
  } else if (cmd == "gdi") {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                 vardeloProcessId(main));
    DWORD handles = 0;
    GetProcessHandleCount(process, &handles);
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(process, &memory, sizeof memory);
    std::printf("gdi %lu user %lu handles %lu workingSetKiB %lu\n",
                GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS),
                handles, static_cast<unsigned long>(memory.WorkingSetSize / 1024));
    CloseHandle(process);
  } else if (cmd == "origin") {
    POINT origin{0, 0};
    ClientToScreen(page(main, static_cast<int>(arg(2))), &origin);
    std::printf("%ld %ld\n", origin.x, origin.y);
  } else if (cmd == "face") {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    std::printf("%u %u %u\n", GetRValue(face), GetGValue(face), GetBValue(face));
  } else if (cmd == "cycle") {
    std::printf("%s\n", cycleState(main, std::strtoul(argv[2], nullptr, 0)).c_str());
  } else if (cmd == "wait-cycle") {
    const std::uintptr_t rva = std::strtoul(argv[2], nullptr, 0);
    std::string state;
    const bool ok = waitFor(arg(3), [&] { return (state = cycleState(main, rva)) == "done"; });
    std::printf("%s\n", state.c_str());
    return ok ? 0 : 1;
  } else {
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rc = run(argc, argv);
  std::fflush(stdout);
  return rc;
}
