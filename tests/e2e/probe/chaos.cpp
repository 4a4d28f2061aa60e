// `chaos`: clumsy use for a given time. Random real clicks on the tabs and on the buttons of the
// page on view (never the About page's buttons: "close" ends the program, the others hand off to
// the shell), the Escape key, command 1501 on and off, and WM_COMMANDs the program must ignore:
// unknown identifiers, and known ones with a nonzero notification code. After every action the
// round trip of a message to the main dialog is measured; every few actions the screen is
// searched for windows that were not there at the start (an error box, a crash dialog).
#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "probe_common.h"

namespace probe {

namespace {

enum Action { CLICK_TAB, CLICK_BUTTON, ESCAPE, REALTIME, STRAY_MAIN, STRAY_PAGE, ACTIONS };
const char* const ACTION_NAMES[ACTIONS] = {"tab-clicks",     "button-clicks", "escapes",
                                           "realtime-1501",  "stray-main",    "stray-page"};
// Out of 100.
const int ACTION_WEIGHTS[ACTIONS] = {30, 30, 10, 6, 12, 12};

// The buttons a person may press on each chart page; the identifiers each page reacts to.
using namespace vardelo;
const std::vector<int> BUTTONS[PAGE_COUNT] = {
    {ID_CACHE_RESTART}, {ID_READ_RESTART, ID_READ_FILTER}, {ID_WRITE_RESTART, ID_WRITE_FILTER}, {}};
const std::vector<int> KNOWN_IDS[PAGE_COUNT] = {{ID_CACHE_RESTART},
                                                {ID_READ_RESTART, ID_READ_FILTER},
                                                {ID_WRITE_RESTART, ID_WRITE_FILTER},
                                                {ID_ABOUT_CLOSE, ID_ABOUT_HOME, ID_ABOUT_MAIL}};

bool sendCommand(HWND to, WPARAM wParam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(to, WM_COMMAND, wParam, 0, SMTO_BLOCK, 10000, &result) != 0;
}

struct TopWindow {
  HWND window;
  std::string what;
};

BOOL CALLBACK collect(HWND window, LPARAM list) {
  if (IsWindowVisible(window)) {
    wchar_t cls[128] = {}, caption[256] = {};
    GetClassNameW(window, cls, 128);
    GetWindowTextW(window, caption, 256);
    reinterpret_cast<std::vector<TopWindow>*>(list)->push_back(
        {window, utf8(cls) + " \"" + utf8(caption) + "\""});
  }
  return TRUE;
}

std::vector<TopWindow> topWindows() {
  std::vector<TopWindow> list;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&list));
  return list;
}

}  // namespace

int chaos(HWND main, double seconds, unsigned seed, double answerSeconds) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::set<HWND> known;
  for (const TopWindow& w : topWindows()) known.insert(w.window);
  std::set<std::string> strangers;

  int done[ACTIONS] = {};
  std::vector<double> trips;
  int unanswered = 0, actions = 0, realtimeOn = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < seconds * 1000 && IsWindow(main)) {
    int roll = pick(100), action = 0;
    while (roll >= ACTION_WEIGHTS[action]) roll -= ACTION_WEIGHTS[action++];
    const int shown = selectedTab(main);
    if (action == CLICK_BUTTON && (shown < 0 || BUTTONS[shown].empty())) action = CLICK_TAB;
    switch (action) {
      case CLICK_TAB: {
        POINT at;
        if (tabCentre(main, pick(PAGE_COUNT), &at)) click(at);
        break;
      }
      case CLICK_BUTTON: {
        const std::vector<int>& ids = BUTTONS[shown];
        clickControl(main, shown, ids[pick(ids.size())]);
        break;
      }
      case ESCAPE:
        pressKeys(main, {VK_ESCAPE});
        break;
      case REALTIME:
        sendCommand(main, CMD_REALTIME);
        realtimeOn ^= 1;
        break;
      case STRAY_MAIN: {
        // An unknown identifier, or the priority command with a notification code.
        WPARAM w = pick(2) ? 3 + pick(0xFFF0) : MAKEWPARAM(CMD_REALTIME, 1 + pick(0xFFFE));
        if (w == CMD_REALTIME || w == ID_TAB_CONTROL) w = CMD_REALTIME - 1;
        sendCommand(main, w);
        break;
      }
      case STRAY_PAGE: {
        const int p = pick(PAGE_COUNT);
        const std::vector<int>& ids = KNOWN_IDS[p];
        WPARAM w;
        if (pick(2)) {
          w = MAKEWPARAM(ids[pick(ids.size())], 1 + pick(0xFFFE));
        } else {
          w = 3 + pick(0xFFF0);
          if (std::find(ids.begin(), ids.end(), static_cast<int>(w)) != ids.end()) w = 1099;
        }
        sendCommand(page(main, p), w);
        break;
      }
    }
    ++done[action];
    ++actions;
    const double trip = roundTripMs(main, static_cast<UINT>(answerSeconds * 1000));
    if (trip < 0) ++unanswered; else trips.push_back(trip);
    if (actions % 10 == 0) {
      for (const TopWindow& w : topWindows()) {
        if (!known.count(w.window) && w.window != main) strangers.insert(w.what);
      }
    }
    Sleep(20 + pick(230));
  }
  if (realtimeOn && IsWindow(main)) sendCommand(main, CMD_REALTIME);  // leave it as it was

  std::sort(trips.begin(), trips.end());
  const auto at = [&](double q) { return trips.empty() ? 0.0 : trips[static_cast<size_t>(q * (trips.size() - 1))]; };
  std::printf("actions %d in %.0f s:", actions, (GetTickCount() - start) / 1000.0);
  for (int a = 0; a < ACTIONS; ++a) std::printf(" %s %d", ACTION_NAMES[a], done[a]);
  std::printf("\nround-trip samples %zu median %.1f p99 %.1f max %.1f ms unanswered %d\n",
              trips.size(), at(0.5), at(0.99), trips.empty() ? 0.0 : trips.back(), unanswered);
  std::printf("new-windows %zu\n", strangers.size());
  for (const std::string& s : strangers) std::printf("new-window %s\n", s.c_str());
  const bool alive = IsWindow(main) != 0;
  std::printf("window %s\n", alive ? "alive" : "gone");
  return alive && unanswered == 0 && strangers.empty() ? 0 : 1;
}

}  // namespace probe
