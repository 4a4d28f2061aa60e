"""The window of the real vardelo.exe under Xvfb and Wine, driven with the X mouse and keyboard
(xdotool) as a person would and read back through the window system: the caption, the tabs and
their pages, the filter button's caption cycle, Escape leaving the window open, the RAM worker
bringing the read page up when the first cache sweep ends, and the process ending with exit code 0
when the window is closed (the About page's "close" button; Alt+F4 once the passes have begun).
Screenshots of every page, in the default locale and in Russian, are kept in
$TARGET_DIR/e2e-window/ for a person to look at; the time to the window and the round trip of a
message to the dialog while the cache sweep runs are printed, not tested.

The test runs on an X display of its own, and the program on a Wine desktop of its own: a new
desktop takes the X display of the process that opens it. A worker that starts a pass brings its
page up whenever it starts, so every click checks where it landed and is repeated where a page
change took it.
"""

import os
import subprocess
import sys
import time

if not os.environ.get("VARDELO_E2E_X"):
    os.environ["VARDELO_E2E_X"] = "1"
    os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable,
                           os.path.abspath(__file__)])

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import (CAPTION, EXE, PROBE, SWEEP_SECONDS, TARGET, Program, answered, check,  # noqa: E402
                 lag, painted, probe, probe_out, wait_for)
from e2e import FACTS as F  # noqa: E402
import looks  # noqa: E402

SHOTS = os.path.join(TARGET, "e2e-window")
FILTER_CAPTIONS = ["фильтр 4", "фильтр 5", "фильтр 6", "фильтр --", "фильтр 1", "фильтр 2",
                   "фильтр 3"]
NAMES = ["cache", "read", "write", "about"]
READ, WRITE = F.PAGE_READ, F.PAGE_WRITE
READ_FILTER, WRITE_FILTER = F.ID_READ_FILTER, F.ID_WRITE_FILTER


# ---- The window as the probe reads it --------------------------------------------------------

class State:
    """One reading of `probe state`: the main window, the tab centres, the pages and controls."""

    def __init__(self):
        self.main, self.tabs, self.pages, self.controls = None, {}, {}, {}
        code, out = probe("state")
        self.ok = code == 0
        for line in out.splitlines():
            words = line.split(" ")
            if words[0] == "main" and len(words) >= 5:
                self.main = ([int(v) for v in words[1:5]], " ".join(words[5:]))
            elif words[0] == "tab":
                self.tabs[int(words[1])] = (int(words[2]), int(words[3]))
            elif words[0] == "page":
                self.pages[int(words[1])] = words[2] == "1"
            elif words[0] == "control" and len(words) >= 5:
                self.controls[(int(words[1]), int(words[2]))] = (
                    int(words[3]), int(words[4]), " ".join(words[5:]))

    def shown(self):
        return "".join(str(p) for p in sorted(self.pages) if self.pages[p])

    def text(self, page, control):
        return self.controls.get((page, control), (0, 0, None))[2]


def state_when(condition, seconds):
    """The first state for which condition(state) holds within `seconds`, else the last one."""
    state = wait_for(lambda: (lambda s: s if s.ok and condition(s) else None)(State()), seconds,
                     poll=0.2)
    return state or State()


def x_click(x, y):
    # No --sync: it waits for the pointer to move, and a second click on the same spot does not.
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"])


def x_window():
    out = subprocess.run(["xdotool", "search", "--name", "^%s$" % CAPTION.replace(".", r"\.")
                          .replace("(", r"\(").replace(")", r"\)")],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    return out.split()[0] if out.split() else None


def x_viewable():
    window = x_window()
    return window and "IsViewable" in subprocess.run(
        ["xwininfo", "-id", window], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
        text=True).stdout


def show_tab(page):
    """Clicks tab `page` until its page is the one shown; returns the state then, or None."""
    for _ in range(6):
        state = State()
        if page not in state.tabs:
            return None
        x_click(*state.tabs[page])
        state = state_when(lambda s: s.shown() == str(page), 10)
        if state.shown() == str(page):
            return state
        if not answered("click on tab %d" % page):
            return None
    return None


def shoot(name, page):
    """The main window's rectangle, once the page has painted what was asked of it."""
    painted(page)
    state = State()
    (left, top, right, bottom), _ = state.main
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (
        right - left, bottom - top, left, top), "+repage", os.path.join(SHOTS, name + ".png")])


def filter_caption(page):
    return State().text(page, READ_FILTER if page == READ else WRITE_FILTER)


def next_caption(caption):
    return FILTER_CAPTIONS[(FILTER_CAPTIONS.index(caption) + 1) % len(FILTER_CAPTIONS)]


def advance_read_filter(how):
    """Advances the read page's filter by one (`how` clicks or presses Space on it) and returns
    the caption it reached. A worker that brings its page up between the check and the click
    takes the click to that page: then the write filter moved instead, and it is done again."""
    for _ in range(4):
        state = State()
        if state.shown() != "1":
            state = show_tab(1)
        if state is None:
            return None
        want = next_caption(state.text(READ, READ_FILTER))
        write_before = state.text(WRITE, WRITE_FILTER)
        how(state)
        state = state_when(lambda s: s.text(READ, READ_FILTER) == want or
                           s.text(WRITE, WRITE_FILTER) != write_before, 30)
        if state.text(READ, READ_FILTER) == want:
            return want
        if state.text(WRITE, WRITE_FILTER) != write_before:
            check.note("a worker brought page %s up as the filter was pressed; pressing again" %
                       state.shown())
            continue
        return state.text(READ, READ_FILTER)
    return None


def click_filter(state):
    x, y, _ = state.controls[(READ, READ_FILTER)]
    x_click(x, y)


# ---- The run ---------------------------------------------------------------------------------

def start(desktop):
    program = Program(SHOTS, desktop=desktop)
    if not check.ok("the main window appears on %s" % desktop, program.window):
        program.stop()
        return None
    viewable = wait_for(x_viewable, 60, poll=0.2)
    check.ok("the main window is on the X display", viewable)
    print("time from start to the main window: %.0f ms" % (program.window_seconds * 1000))
    return program


def expect_exit(program, what):
    t = time.monotonic()
    code = program.wait_exit(60)
    check.eq("%s: exit code 0 (after %.0f ms)" % (what, (time.monotonic() - t) * 1000), 0, code)
    program.stop()


def default_locale():
    lag("default locale: start")
    program = start("vardelo-e2e-default")
    if program is None:
        return
    try:
        state = State()
        check.eq("caption", CAPTION, state.main[1] if state.main else None)
        name = subprocess.run(["xprop", "-id", x_window() or "0", "WM_NAME"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        check.ok("X window name", '"%s"' % CAPTION in name, name.strip())
        # The monitor started with the window: the first pages it saw.
        first_pages = wait_for(lambda: program.monitor.events("pages")[:1], 30)
        check.eq("only the cache page shown at start", "0",
                 first_pages[0][2] if first_pages else None)
        check.eq("read filter at start", "фильтр 4", state.text(READ, READ_FILTER))
        shoot("default-cache", 0)

        for page in (1, 2, 3, 0):
            lag("tab %d" % page)
            if check.ok("tab %d shows page %d alone" % (page, page), show_tab(page) is not None):
                shoot("default-" + NAMES[page], page)

        # Seven presses bring the caption back to "фильтр 4", through "фильтр --" for level 0.
        lag("the read filter's seven presses")
        start_caption = filter_caption(1)
        captions = [advance_read_filter(click_filter) for _ in range(7)]
        check.eq("filter caption cycled back through all levels",
                 [FILTER_CAPTIONS[(FILTER_CAPTIONS.index(start_caption) + i + 1) % 7]
                  for i in range(7)], captions)

        # Escape, then Space on the filter button, which has the focus since its last click: once
        # the caption moves on, the keys have arrived and the Escape before the Space has been
        # handled.
        lag("Escape, then Space")

        def escape_space(_):
            window = x_window()
            if window:
                subprocess.run(["xdotool", "windowfocus", "--sync", window],
                               stderr=subprocess.DEVNULL)
            subprocess.run(["xdotool", "key", "Escape", "space"])

        before = filter_caption(1)
        after = advance_read_filter(escape_space)
        check.ok("Escape leaves the window open", program.running() and
                 after == next_caption(before), "filter %r -> %r" % (before, after))

        lag("the About page's close button")
        state = show_tab(3)
        if check.ok("the About page shows", state is not None):
            x, y, _ = state.controls[(F.PAGE_ABOUT, F.ID_ABOUT_CLOSE)]
            x_click(x, y)
            expect_exit(program, "About page's close button")
    finally:
        program.stop()


def russian_locale():
    os.environ["LANG"] = os.environ["LC_ALL"] = "ru_RU.UTF-8"
    lag("Russian locale: start")
    program = start("vardelo-e2e-ru")
    if program is None:
        return
    try:
        check.eq("cache restart button", "обновить",
                 State().text(F.PAGE_CACHE, F.ID_CACHE_RESTART))
        shoot("ru-cache", 0)
        for page in (1, 3, 0):
            lag("tab %d" % page)
            if check.ok("tab %d shows its page" % page, show_tab(page) is not None):
                shoot("ru-" + NAMES[page], page)
        check.eq("read filter", "фильтр 4", State().text(READ, READ_FILTER))
        # The looks of the RAM pages while the first cache sweep runs (a page whose pass has
        # begun is shot once it ends).
        looks.check_looks(SHOTS, "ru", pages=(1, 2), monitor=program.monitor)

        # The first cache sweep runs on its own; when it ends, the RAM worker starts its read
        # pass and brings the read page up. Meanwhile the user-interface thread keeps answering.
        lag("the first cache sweep, and the read pass after it")
        monitor = program.monitor
        trips, unanswered = [], 0
        deadline = time.monotonic() + SWEEP_SECONDS
        while monitor.first(lambda f: f["ramBusy"] & 1) is None and time.monotonic() < deadline:
            code, out = probe("round-trip")
            if code == 0:
                trips.append(float(out))
            else:
                unanswered += 1
            if not program.running():
                break
            time.sleep(0.5)  # the poll interval of this bounded wait
        check.eq("messages to the dialog unanswered within 10 s during the sweep", 0, unanswered)
        read_start = monitor.wait(lambda f: f["ramBusy"] & 1, 10, "the read pass starts")
        if read_start is not None:
            monitor.brought_to_front(read_start, 1, "the RAM worker brought the read page up")
            shoot("ru-read-pass", int(State().shown() or 1))
        lag("the cache page's looks once its sweep is done")
        looks.check_looks(SHOTS, "ru", pages=(0,), monitor=monitor)
        if trips:
            trips.sort()
            print("round trip of a message to the dialog during the cache sweep: %d samples,"
                  " median %.1f ms, max %.1f ms" % (len(trips), trips[len(trips) // 2], trips[-1]))

        lag("Alt+F4 once the passes have begun")
        window = x_window()
        if window:
            subprocess.run(["xdotool", "windowfocus", "--sync", window], stderr=subprocess.DEVNULL)
        subprocess.run(["xdotool", "key", "alt+F4"])
        expect_exit(program, "Alt+F4 once the passes have begun")
    finally:
        program.stop()


def main():
    if not (os.path.exists(EXE) and os.path.exists(PROBE)):
        print("missing %s or %s" % (EXE, PROBE))
        return 1
    os.makedirs(SHOTS, exist_ok=True)
    default_locale()
    russian_locale()
    print("screenshots: %s" % SHOTS)
    print("window test: %s" % ("passed" if check.failures == 0 else
                               "%d failures" % check.failures))
    return 0 if check.failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
