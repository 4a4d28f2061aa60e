// vardelo-probe.exe: drives and reads a running vardelo.exe through the window system, from
// inside the same Wine session, for the end-to-end tests. Each command prints one line on stdout
// and exits 0 on success, 1 when the condition was not met in time or the window is missing.
//
//   --desktop NAME COMMAND ...     runs COMMAND on that desktop (see run)
//   run NAME PROGRAM               runs PROGRAM on a new desktop NAME; exits with its exit code
//   state                          the main window, tab centres, pages and controls, one a line:
//                                    main <left> <top> <right> <bottom> <caption>
//                                    tab <index> <x> <y>              (screen centre)
//                                    tabrect <index> <l> <t> <r> <b>  (tab control's client)
//                                    page <index> <visible>
//                                    control <page> <id> <x> <y> <text>
//   wait-window SECONDS            until the main window exists; prints its handle
//   tab                            the selected tab index
//   wait-tab N SECONDS             until tab N is selected (the workers select theirs)
//   select-tab N                   selects tab N and shows its page, as the workers do
//   text PAGE ID                   the text of control ID on page PAGE (0..3), UTF-8
//   wait-text PAGE ID REGEX-FREE-PREFIX SECONDS   until that text starts with the prefix
//   visible PAGE                   1 when the page is visible, else 0
//   command ID                     sends WM_COMMAND ID to the main dialog
//   page-command PAGE ID           sends WM_COMMAND ID to a page (a button click)
//   click PAGE ID                  a mouse click on the middle of that control
//   click-tab N                    a mouse click on tab N; waits until its page is the one shown
//   key-escape                     sends the Escape key to the main dialog
//   close                          posts WM_CLOSE to the main window
//   sys-close                      posts what the title bar's close box sends (SC_CLOSE)
//   key-alt-f4                     presses Alt+F4 with the main window in front
//   round-trip [TIMEOUT_MS]        milliseconds for a message sent to the main dialog to return
//                                  (exit 1 when it did not within the bound, default 10000)
//   origin PAGE                    screen position of the page's client area: "x y"
//   face                           the system's button-face colour: "r g b"
//   gdi                            GDI objects and handles of the vardelo.exe process
//   cycle                          the workers' state from a copy of the program's BenchState
//                                  (UM_SNAPSHOT): "done" once the first cache sweep, read pass and
//                                  write pass have all ended
//   wait-cycle SECONDS             until that state is "done"
//   texts PAGE ID...               "ID<tab>text" for each control, read in one go
//   curves                         measured points of every curve, read from BenchState
//   curve KIND B                   the entries of one curve: KIND dcache, icache (B 0), read,
//                                  write or mmx (B 0..3 for blocks of 32..256 bytes)
//   figures                        the cache page's figures as numbers: "name value source" lines,
//                                  then "cpuClass N"
//   stats KIND B                   the statistics of one RAM curve (KIND read, write or mmx):
//                                  points, minimum, maximum, average, linear (KiB/s), percent
//   area                           the address of the program's test area, in hexadecimal
//   monitor SECONDS STOPFILE       waits up to SECONDS for the main window, then every 50 ms
//                                  writes one line per change of the selected tab, the visible
//                                  page, the fill-search texts, the workers' flags and the
//                                  curves' progress, stamped with milliseconds since the window
//                                  was found; ends when STOPFILE exists, the window goes or time
//                                  is up
//   press-during SECONDS FLAG MASK FRONT TAB ID
//                                  once FLAG & MASK is set and page FRONT shows, clicks tab TAB
//                                  and then button ID on its page (see trigger.cpp)
//   marks CHART                    "dirty posted redraw paints" of chart page CHART (0..2)
//   chaos SECONDS SEED [ANSWER]    random clicks on tabs and buttons, Escape, 1501 on and off and
//                                  stray WM_COMMANDs for that long; prints what it did and the
//                                  message round trips it saw, each unanswered after ANSWER
//                                  seconds (default 10) counted as never answered (see chaos.cpp)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "probe_common.h"

namespace {

using namespace probe;

template <typename Condition>
bool waitFor(double seconds, Condition condition) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
  for (;;) {
    if (condition()) return true;
    if (static_cast<int>(GetTickCount() - end) >= 0) return false;
    Sleep(100);
  }
}

// "done" when no sweep runs, none is requested and the last MMX write curve is complete; else
// the state as "cacheBusy ramBusy ramRestart last-entry".
std::string cycleState(HWND main) {
  using vardelo::BenchState;
  BenchReader bench(main);
  const auto cacheBusy = bench.byte(offsetof(BenchState, protocol.cacheBusy));
  const auto ramBusy = bench.byte(offsetof(BenchState, protocol.ramBusy));
  const auto ramRestart = bench.byte(offsetof(BenchState, protocol.ramRestart));
  const auto last = bench.read<std::uint32_t>(
      offsetof(BenchState, results.writeMmxCurves) +
      ((vardelo::RAM_BLOCK_KINDS - 1) * vardelo::RAM_CURVE_ENTRIES + vardelo::RAM_POINTS - 1) * 4);
  if (!bench.ok()) return "no copy of the program's state";
  if (cacheBusy == 0 && ramBusy == 0 && ramRestart == 0 && last != 0 && last != vardelo::NO_POINT) {
    return "done";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%u %u %u %lu", cacheBusy, ramBusy, ramRestart,
                static_cast<unsigned long>(last));
  return text;
}

// Which page a page window is, by a control only it has.
int pageIndex(HWND pageWindow) {
  using namespace vardelo;
  if (GetDlgItem(pageWindow, ID_CACHE_RESTART)) return PAGE_CACHE;
  if (GetDlgItem(pageWindow, ID_READ_FILTER)) return PAGE_READ;
  if (GetDlgItem(pageWindow, WRITE_FIELDS_BASE + COMBINED_FIELD_OFFSET)) return PAGE_WRITE;
  if (GetDlgItem(pageWindow, ID_ABOUT_MAIL)) return PAGE_ABOUT;
  return -1;
}

void printState(HWND main) {
  RECT r;
  GetWindowRect(main, &r);
  std::printf("main %ld %ld %ld %ld %s\n", r.left, r.top, r.right, r.bottom, windowText(main).c_str());
  const int tabs = static_cast<int>(SendMessageW(tabControl(main), TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < tabs; ++i) {
    POINT centre;
    if (tabCentre(main, i, &centre)) std::printf("tab %d %ld %ld\n", i, centre.x, centre.y);
    RECT item;
    if (tabRect(main, i, &item)) {
      std::printf("tabrect %d %ld %ld %ld %ld\n", i, item.left, item.top, item.right, item.bottom);
    }
  }
  for (HWND p = GetWindow(tabControl(main), GW_CHILD); p; p = GetWindow(p, GW_HWNDNEXT)) {
    const int index = pageIndex(p);
    std::printf("page %d %d\n", index, (GetWindowLongW(p, GWL_STYLE) & WS_VISIBLE) ? 1 : 0);
    for (HWND c = GetWindow(p, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      GetWindowRect(c, &r);
      std::printf("control %d %d %ld %ld %s\n", index, GetDlgCtrlID(c), (r.left + r.right) / 2,
                  (r.top + r.bottom) / 2, windowText(c).c_str());
    }
  }
}

// Runs a program on a desktop of its own (created here); a new desktop takes the X display of
// the process that opens it.
int runOnDesktop(const char* desktop, const char* program) {
  if (!CreateDesktopA(desktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr)) return 101;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = const_cast<char*>(desktop);
  PROCESS_INFORMATION info{};
  std::string commandLine = program;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return 102;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 103;
  GetExitCodeProcess(info.hProcess, &code);
  return static_cast<int>(code);
}

int run(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--desktop") == 0) {
    HDESK desktop = OpenDesktopA(argv[2], 0, FALSE, GENERIC_ALL);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) return 2;
    argv[2] = argv[0];
    return run(argc - 2, argv + 2);
  }
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "run") == 0) return argc > 3 ? runOnDesktop(argv[2], argv[3]) : 2;
  const std::string cmd = argv[1];
  auto arg = [&](int i) { return i < argc ? std::atof(argv[i]) : 0.0; };

  if (cmd == "monitor") {
    HWND found = nullptr;
    if (!waitFor(arg(2), [&] { return (found = mainWindow()) != nullptr; })) return 1;
    return monitor(found, arg(2), argc > 3 ? argv[3] : "");
  }
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
  if (cmd == "state") {
    printState(main);
  } else if (cmd == "tab") {
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
  } else if (cmd == "texts") {
    const int p = static_cast<int>(arg(2));
    for (int i = 3; i < argc; ++i) {
      std::printf("%s\t%s\n", argv[i], controlText(main, p, std::atoi(argv[i])).c_str());
    }
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
  } else if (cmd == "click") {
    const bool ok = clickControl(main, static_cast<int>(arg(2)), static_cast<int>(arg(3)));
    std::printf("%s\n", ok ? "clicked" : "no control");
    return ok ? 0 : 1;
  } else if (cmd == "click-tab") {
    const int index = static_cast<int>(arg(2));
    POINT at;
    if (!tabCentre(main, index, &at)) return 1;
    click(at);
    const std::string want(1, static_cast<char>('0' + index));
    const bool ok = waitFor(10, [&] { return visiblePages(main) == want; });
    std::printf("%s\n", visiblePages(main).c_str());
    return ok ? 0 : 1;
  } else if (cmd == "key-escape") {
    // What the dialog manager makes of an Escape key press: the cancel command.
    SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
    std::printf("sent\n");
  } else if (cmd == "close") {
    PostMessageW(main, WM_CLOSE, 0, 0);
    std::printf("posted\n");
  } else if (cmd == "sys-close") {
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    std::printf("posted\n");
  } else if (cmd == "key-alt-f4") {
    pressKeys(main, {VK_MENU, VK_F4});
    std::printf("pressed\n");
  } else if (cmd == "round-trip") {
    const double ms = roundTripMs(main, argc > 2 ? static_cast<UINT>(arg(2)) : 10000);
    std::printf("%.1f\n", ms);
    return ms >= 0 ? 0 : 1;
  } else if (cmd == "gdi") {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                 processOf(main));
    DWORD handles = 0;
    GetProcessHandleCount(process, &handles);
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(process, &memory, sizeof memory);
    std::printf("gdi %lu user %lu handles %lu workingSetKiB %lu privateKiB %lu\n",
                GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS),
                handles, static_cast<unsigned long>(memory.WorkingSetSize / 1024),
                static_cast<unsigned long>(memory.PagefileUsage / 1024));
    CloseHandle(process);
  } else if (cmd == "origin") {
    POINT origin{0, 0};
    ClientToScreen(page(main, static_cast<int>(arg(2))), &origin);
    std::printf("%ld %ld\n", origin.x, origin.y);
  } else if (cmd == "face") {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    std::printf("%u %u %u\n", GetRValue(face), GetGValue(face), GetBValue(face));
  } else if (cmd == "cycle") {
    std::printf("%s\n", cycleState(main).c_str());
  } else if (cmd == "wait-cycle") {
    std::string state;
    const bool ok = waitFor(arg(2), [&] { return (state = cycleState(main)) == "done"; });
    std::printf("%s\n", state.c_str());
    return ok ? 0 : 1;
  } else if (cmd == "curves") {
    BenchReader bench(main);
    std::printf("%s\n", curvesSummary(bench).c_str());
  } else if (cmd == "curve" && argc > 3) {
    using vardelo::BenchState;
    const std::string kind = argv[2];
    const int b = std::atoi(argv[3]);
    std::size_t offset = 0;
    int entries = vardelo::RAM_CURVE_ENTRIES;
    if (kind == "dcache" || kind == "icache") {
      offset = kind == "dcache" ? offsetof(BenchState, results.dcacheCurve)
                                : offsetof(BenchState, results.icacheCurve);
      entries = vardelo::CACHE_CURVE_ENTRIES;
    } else if (kind == "read" || kind == "write" || kind == "mmx") {
      offset = kind == "read"    ? offsetof(BenchState, results.readCurves)
               : kind == "write" ? offsetof(BenchState, results.writeCurves)
                                 : offsetof(BenchState, results.writeMmxCurves);
      offset += static_cast<std::size_t>(b) * vardelo::RAM_CURVE_ENTRIES * 4;
    } else {
      return 2;
    }
    BenchReader bench(main);
    std::uint32_t curve[vardelo::RAM_CURVE_ENTRIES];
    bench.entries(offset, curve, entries);
    for (int i = 0; i < entries; ++i) std::printf("%s%lu", i ? " " : "", static_cast<unsigned long>(curve[i]));
    std::printf("\n");
  } else if (cmd == "stats" && argc > 3) {
    // The statistics the RAM worker derived for one curve, as numbers.
    using vardelo::BenchState;
    const std::string kind = argv[2];
    const int b = std::atoi(argv[3]);
    if (b < 0 || b >= vardelo::RAM_BLOCK_KINDS) return 2;
    std::size_t offset = 0;
    if (kind == "read")
      offset = offsetof(BenchState, results.readStats);
    else if (kind == "write")
      offset = offsetof(BenchState, results.writeStats);
    else if (kind == "mmx")
      offset = offsetof(BenchState, results.writeMmxStats);
    else
      return 2;
    BenchReader bench(main);
    vardelo::SharedRamStats shared;
    bench.copy(offset + static_cast<std::size_t>(b) * sizeof shared, &shared, sizeof shared);
    const vardelo::RamCurveStats s = shared.load();
    std::printf("%lu %lu %lu %lu %lu %lu\n", static_cast<unsigned long>(s.points),
                static_cast<unsigned long>(s.minKiBps), static_cast<unsigned long>(s.maxKiBps),
                static_cast<unsigned long>(s.averageKiBps),
                static_cast<unsigned long>(s.linearKiBps),
                static_cast<unsigned long>(vardelo::ratioPercent(s)));
  } else if (cmd == "figures") {
    // The figures the cache worker derived, as numbers: one "name value source" line each.
    BenchReader bench(main);
    vardelo::SharedCacheFigures shared;
    bench.copy(offsetof(vardelo::BenchState, results.cacheFigures), &shared, sizeof shared);
    const vardelo::CacheFigures f = shared.load();
    for (const vardelo::CacheFigureField& field : vardelo::CACHE_FIGURE_FIELDS) {
      const vardelo::Figure value = f.*field.member;
      std::printf("%s %lu %s\n", field.name, static_cast<unsigned long>(value.value),
                  vardelo::figureSourceName(value.source));
    }
    std::printf("cpuClass %u\n", bench.byte(offsetof(vardelo::BenchState, machine.cpuClass)));
  } else if (cmd == "area") {
    BenchReader bench(main);
    std::printf("0x%lx %lu\n",
                static_cast<unsigned long>(
                    bench.read<std::uint32_t>(offsetof(vardelo::BenchState, machine.testArea))),
                static_cast<unsigned long>(bench.read<std::uint32_t>(
                    offsetof(vardelo::BenchState, machine.testAreaBytes))));
  } else if (cmd == "press-during" && argc > 7) {
    return pressDuring(main, arg(2), argv[3], static_cast<unsigned>(arg(4)),
                       static_cast<int>(arg(5)), static_cast<int>(arg(6)), static_cast<int>(arg(7)));
  } else if (cmd == "marks") {
    std::printf("%s\n", marks(main, static_cast<int>(arg(2))).c_str());
  } else if (cmd == "chaos") {
    return chaos(main, arg(2), static_cast<unsigned>(arg(3)), argc > 4 ? arg(4) : 10.0);
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
