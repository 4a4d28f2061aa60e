"""Helpers for the end-to-end tests: start the real vardelo.exe in the current Wine session and
display, drive and read it through vardelo-probe.exe, follow its passes through the probe's
monitor, read screenshots once the page has painted, record checks.

Every wait is bounded and ends as soon as its state holds; a test never assumes that a pass is
still running or already over. The lag knob (VARDELO_E2E_LAG) delays each step to show that."""

import os
import random
import re
import subprocess
import sys
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TARGET = os.environ.get("TARGET_DIR", os.path.join(TOP, "build", "target"))
EXE = os.path.join(TARGET, "vardelo.exe")
PROBE = os.path.join(TARGET, "vardelo-probe.exe")
WINE_RUN = os.path.join(TOP, "tools", "wine-run")
sys.path.insert(0, os.path.join(TOP, "tools"))
# The program's numbers (control ids, markers, curve layouts) and its caption, from its headers.
from vardelo_facts import FACTS, caption  # noqa: E402


def built_version(target=TARGET):
    """The version the target build was made with, from the header CMake generated into it;
    None when there is none."""
    try:
        with open(os.path.join(target, "generated", "vardelo_version.h")) as f:
            m = re.search(r'^#define VARDELO_VERSION "([^"]*)"$', f.read(), re.M)
    except OSError:
        return None
    return m.group(1) if m else None


def built_ia32_kind(target=TARGET):
    """How the target build found this machine to run 32-bit code, "native" or "emulated";
    None when it has not said."""
    try:
        with open(os.path.join(target, "generated", "ia32_kind")) as f:
            kind = f.read().strip()
    except OSError:
        return None
    return kind if kind in ("native", "emulated") else None


VERSION = built_version()
# The programs started here learn it through the environment, as the target tests do.
if built_ia32_kind() and "VARDELO_IA32" not in os.environ:
    os.environ["VARDELO_IA32"] = built_ia32_kind()
# The main window's caption, by which the probe and the X display find the program.
CAPTION = caption(VERSION)

# Generous bounds: emulated machines run Wine and the program far more slowly.
WINDOW_SECONDS = int(os.environ.get("WINDOW_SECONDS", "240"))
# Bound of a wait for a whole pass or sweep; a native machine needs a small part of it.
SWEEP_SECONDS = int(os.environ.get("VARDELO_E2E_SWEEP_SECONDS", "1800"))
# A message to the program may wait for a pass that holds the processor: this long it may be
# answered late before it counts as never answered.
ANSWER_SECONDS = int(os.environ.get("VARDELO_E2E_ANSWER_SECONDS", "120"))
SEED = int(os.environ.get("VARDELO_E2E_SEED", str(int(time.time()) % 100000)))
T0 = time.monotonic()


def memory_text(mib):
    """Field 104: MiB up to 99999, then GiB with a tenth (truncated), whole GiB from 1000 GiB."""
    if mib <= 99999:
        return " %5dM " % mib
    gib = mib // 1024
    return " %5dG " % gib if gib >= 1000 else " %3d.%dG " % (gib, mib % 1024 * 10 // 1024)


def stamp():
    return "%4.0fs" % (time.monotonic() - T0)


# ---- The lag knob ----------------------------------------------------------------------------
# VARDELO_E2E_LAG delays every step of a test: "S" by S seconds, "A-B" by a random number of
# seconds between A and B (seeded by VARDELO_E2E_SEED). A long lag makes the program look as fast
# to the test as a fast machine does: each pass is over before the test's next step.

def parse_lag(text):
    """(low, high) seconds from "S" or "A-B"; raises ValueError on anything else."""
    text = text.strip()
    m = re.fullmatch(r"(\d+(?:\.\d*)?)(?:-(\d+(?:\.\d*)?))?", text)
    if not m:
        raise ValueError("VARDELO_E2E_LAG: %r is neither seconds nor A-B" % text)
    low = float(m.group(1))
    high = float(m.group(2)) if m.group(2) else low
    if high < low:
        raise ValueError("VARDELO_E2E_LAG: %r runs backwards" % text)
    return low, high


LAG = parse_lag(os.environ.get("VARDELO_E2E_LAG", "0"))
_lag_random = random.Random(SEED)


def lag(step):
    """Called at the start of every step of a test: waits as the lag knob says."""
    seconds = _lag_random.uniform(*LAG) if LAG[1] > 0 else 0.0
    print("-- [%s] %s%s" % (stamp(), step, " (after a lag of %.1f s)" % seconds if seconds else ""))
    sys.stdout.flush()
    if seconds:
        time.sleep(seconds)


def wait_for(condition, seconds, poll=0.25):
    """Polls condition() until it returns something true or `seconds` pass; returns its last
    value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(poll)


class Checks:
    """Counts failures; prints one line per check."""

    def __init__(self):
        self.failures = 0

    def ok(self, what, condition, detail=""):
        if condition:
            print("ok [%s]: %s%s" % (stamp(), what, " (%s)" % (detail,) if detail else ""))
        else:
            self.failures += 1
            print("FAIL [%s]: %s%s" % (stamp(), what, ": %s" % (detail,) if detail else ""))
        sys.stdout.flush()
        return condition

    def eq(self, what, expected, got):
        return self.ok(what, expected == got, "expected %r, got %r" % (expected, got))

    def note(self, text):
        print("   [%s] %s" % (stamp(), text))
        sys.stdout.flush()


check = Checks()

# The Wine desktop the program runs on, when a test starts it on a desktop of its own.
DESKTOP = None


def probe_command(*args):
    desktop = ["--desktop", DESKTOP] if DESKTOP else []
    return [WINE_RUN, PROBE] + desktop + [str(a) for a in args]


def probe(*args, timeout=None):
    """Runs one probe command; returns (exit code, stdout without CRs)."""
    run = subprocess.run(probe_command(*args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         timeout=timeout)
    return run.returncode, run.stdout.decode("utf-8", "replace").replace("\r", "")


def probe_out(*args, timeout=None):
    return probe(*args, timeout=timeout)[1].strip()


# ---- Answers from the program ----------------------------------------------------------------

def answered(what):
    """After a request that was not answered within its short bound: waits up to ANSWER_SECONDS
    for the dialog to answer a message, and tells "answered late" from "never answered"."""
    t = time.monotonic()
    code, out = probe("round-trip", ANSWER_SECONDS * 1000, timeout=ANSWER_SECONDS + 60)
    if code == 0:
        check.note("%s: the dialog answered late (a message came back after %.1f s)" %
                   (what, time.monotonic() - t))
        return True
    check.ok("%s: the dialog answers within %d s" % (what, ANSWER_SECONDS), False, "never answered")
    return False


def show(page):
    """Clicks the page's tab, as a person would, until its page is the one shown. A worker that
    starts a pass brings its own page up, and may do so just after the click: click again."""
    for _ in range(8):
        code, _ = probe("click-tab", page)  # waits up to 10 s for the page
        if code == 0:
            return check.ok("tab %d shows its page" % page, True)
        if not answered("click on tab %d" % page):
            return False
    return check.ok("tab %d shows its page" % page, False, "pages %s" % probe_out("state"))


def press(page, button):
    return check.ok("button %d on page %d clicked" % (button, page),
                    probe("click", page, button)[0] == 0)


# ---- The monitor's log -----------------------------------------------------------------------

class Monitor:
    """vardelo-probe.exe monitor, started before the program: it waits for the window and logs
    every change from then on, so that a test sees each pass start and end however late its own
    steps come."""

    # How long the program must have been idle, nothing running or asked for, before a wait
    # gives up on a moment that has passed or cannot come.
    IDLE_SECONDS = 10

    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.log_path = os.path.join(folder, "monitor.log")
        self.stop_path = os.path.join(folder, "monitor.stop")
        if os.path.exists(self.stop_path):
            os.remove(self.stop_path)
        self.mark = 0.0  # events before this time (ms) do not satisfy a wait
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen(
                probe_command("monitor", 7200, "Z:" + self.stop_path.replace("/", "\\")),
                stdout=log, stderr=subprocess.DEVNULL)

    def stop(self):
        open(self.stop_path, "w").close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()

    def latest(self):
        """The time of the last line the monitor wrote."""
        events = self.events()
        return events[-1][0] if events else 0.0

    def events(self, kind=None):
        out = []
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.rstrip("\r\n")
                parts = line.split(" ", 2)
                if len(parts) < 2 or not re.fullmatch(r"\d+", parts[0]):
                    continue
                if kind is None or parts[1] == kind:
                    out.append((float(parts[0]), parts[1], parts[2] if len(parts) > 2 else ""))
        return out

    def flags(self):
        """[(t, {"cacheBusy": .., "ramBusy": .., ...})]"""
        out = []
        for t, _, value in self.events("flags"):
            words = value.split()
            out.append((t, {words[i]: int(words[i + 1]) for i in range(0, len(words), 2)}))
        return out

    def first(self, condition, since=None):
        """The first time from `since` (default: the mark) at which condition(flags) held."""
        since = self.mark if since is None else since
        for t, f in self.flags():
            if t >= since and condition(f):
                return t
        return None

    def wait(self, condition, seconds, what):
        """Until condition(flags) holds from the mark on; checks that it does within `seconds`
        and returns the time it first held (None if it did not). An event that came before this
        wait began counts, so a step that comes late still finds it. A wait for a moment that
        cannot come is cut short: once the program has been idle, nothing running or asked for,
        for IDLE_SECONDS of this wait."""
        started = time.monotonic()
        deadline = started + seconds
        idle_since = None
        while True:
            flags = self.flags()
            for t, f in flags:
                if t >= self.mark and condition(f):
                    check.ok(what, True, "at %.1f s" % (t / 1000))
                    return t
            now = time.monotonic()
            if flags and not any(flags[-1][1].values()):
                idle_since = idle_since or now
                if now - idle_since >= self.IDLE_SECONDS:
                    check.ok(what, False, "the program is idle, nothing running or asked for:"
                             " the moment has passed or cannot come (flags %s at %.1f s)" %
                             (flags[-1][1], flags[-1][0] / 1000))
                    return None
            else:
                idle_since = None
            if now >= deadline:
                check.ok(what, False, "not within %d s" % seconds)
                return None
            time.sleep(0.25)

    def since(self, t):
        self.mark = t

    def passes(self, bit, since, until=None):
        """[(start, end)] of the RAM passes whose ramBusy bit is `bit` (1 read, 2 write) that
        started from `since` on; end None while the pass runs."""
        out = []
        previous = 0
        for t, f in self.flags():
            busy = f["ramBusy"] & bit
            if busy and not previous and t >= since and (until is None or t <= until):
                out.append([t, None])
            elif previous and not busy and out and out[-1][1] is None:
                out[-1][1] = t
            previous = busy
        return [tuple(p) for p in out]

    def brought_to_front(self, t, page, what, seen_by=None):
        """From time t on, the monitor saw the tab and the visible page switch to `page` (or
        both were on it already, when the page was on view as the pass started). `seen_by`
        names another witness, such as an armed press that saw the page come up before it
        clicked away from it, faster than the monitor looks."""
        deadline = time.monotonic() + 10
        while True:
            seen = {}
            for kind in ("tab", "pages"):
                events = self.events(kind)
                before = [v for (tt, _, v) in events if tt < t - 100][-1:]
                seen[kind] = before + [v for (tt, _, v) in events if tt >= t - 100]
            if str(page) in seen["tab"][:3] and str(page) in seen["pages"][:4]:
                return check.ok(what, True)
            if time.monotonic() > deadline:
                if seen_by:
                    return check.ok(what, True, "seen by %s" % seen_by)
                return check.ok(what, False, "tabs %s, pages %s" % (seen["tab"][:3],
                                                                    seen["pages"][:4]))
            time.sleep(0.25)


class PressDuring:
    """A press armed in advance: once the flag says a pass has started and the pass has brought
    its page up, the probe clicks another tab and a button on that page. Armed before the pass,
    it presses during it at any pace of the program and of the test."""

    def __init__(self, flag, mask, front, tab, button, seconds=None):
        self.what = "%s during %s&%d: tab %d, button %d" % ("press", flag, mask, tab, button)
        self.process = subprocess.Popen(
            probe_command("press-during", seconds or SWEEP_SECONDS, flag, mask, front, tab,
                          button), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def result(self, seconds=None):
        """(pressed during the pass, the probe's line); waits for the probe to end."""
        try:
            out, _ = self.process.communicate(timeout=seconds or SWEEP_SECONDS + 60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return False, "no answer from the probe"
        return self.process.returncode == 0, out.decode("utf-8", "replace").strip()

    def cancel(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Program:
    """The running vardelo.exe: started with a monitor beside it when a log folder is given, on
    a Wine desktop of its own when one is named."""

    def __init__(self, log_folder=None, desktop=None):
        global DESKTOP
        DESKTOP = desktop
        self.monitor = None
        started = time.monotonic()
        if log_folder and not desktop:
            self.monitor = Monitor(log_folder)  # it waits for the window
        if desktop:
            windows_path = subprocess.run(["winepath", "-w", EXE], stdout=subprocess.PIPE,
                                          stderr=subprocess.DEVNULL, text=True).stdout.strip()
            # The probe creates the desktop and runs the program on it; it ends with its code.
            command = [WINE_RUN, PROBE, "run", desktop, windows_path]
        else:
            command = [WINE_RUN, EXE]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if desktop:
            # The probe can look for the window once the desktop exists.
            self.window = bool(wait_for(lambda: probe("wait-window", 2)[0] == 0, WINDOW_SECONDS))
        else:
            self.window = probe("wait-window", WINDOW_SECONDS)[0] == 0
        self.window_seconds = time.monotonic() - started
        if log_folder and desktop and self.window:
            self.monitor = Monitor(log_folder)

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, seconds):
        """The exit code, or None if it still runs after `seconds`."""
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.monitor:
            self.monitor.stop()
        if self.running():
            probe("close")
            if self.wait_exit(15) is None:
                # On a desktop of its own the program is the probe's child: end it as well.
                pid = unix_pid()
                if pid:
                    os.kill(pid, 9)
                self.process.kill()
                self.process.wait()


def wine_env():
    """Wine's environment as tools/wine-run sets it for the programs it starts."""
    out = subprocess.run([os.path.join(TOP, "tools", "wine-env")], stdout=subprocess.PIPE,
                         text=True, check=True).stdout
    return dict(line.split("=", 1) for line in out.splitlines())


def unix_pid():
    """The Linux process that runs vardelo.exe under Wine in this test's Wine prefix, or None:
    another test run may have its own vardelo.exe on the machine."""
    prefix = wine_env()["WINEPREFIX"].encode()
    out = subprocess.run(["pgrep", "-x", "vardelo.exe"], stdout=subprocess.PIPE,
                         text=True).stdout.split()
    for pid in out:
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if b"WINEPREFIX=" + prefix in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            pass
    return None


def proc_figures(pid):
    """Resident and virtual memory (KiB), threads and open file descriptors of a Linux process."""
    figures = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "VmSize", "Threads"):
                    figures[key] = int(value.split()[0])
        figures["fds"] = len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        pass
    return figures


def test_area_rss(pid, area, length):
    """Resident KiB of the mappings that overlap the test area [area, area + length) (the
    buffer around it may add a page or two): the area's pages count apart from the rest of the
    program's memory."""
    total, start, end = 0, 0, 0
    try:
        with open("/proc/%d/smaps" % pid) as f:
            for line in f:
                m = re.match(r"([0-9a-f]+)-([0-9a-f]+) ", line)
                if m:
                    start, end = int(m.group(1), 16), int(m.group(2), 16)
                elif line.startswith("Rss:") and start < area + length and end > area:
                    total += int(line.split()[1])
    except OSError:
        pass
    return total


class Shot:
    """A screenshot of the whole screen, read into memory."""

    def __init__(self, path):
        subprocess.run(["import", "-window", "root", path], check=True)
        size = subprocess.run(["identify", "-format", "%w %h", path], stdout=subprocess.PIPE,
                              text=True, check=True).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])
        self.rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"],
                                  stdout=subprocess.PIPE, check=True).stdout
        self.path = path

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])


class PageShot:
    """A screenshot seen in the coordinates of one page's client area."""

    def __init__(self, shot, page):
        self.shot = shot
        self.ox, self.oy = (int(v) for v in probe_out("origin", page).split())

    def pixel(self, x, y):
        return self.shot.pixel(self.ox + x, self.oy + y)

    def column(self, x, top, bottom):
        return [self.pixel(x, y) for y in range(top, bottom + 1)]

    def region(self, left, top, right, bottom):
        return [self.pixel(x, y) for x in range(left, right + 1) for y in range(top, bottom + 1)]


def share(pixels, *colours):
    """Percentage of the pixels that have one of the colours."""
    return 100 * sum(1 for p in pixels if p in colours) // max(1, len(pixels))


def marks(page):
    """[dirty, posted, redraw, paints] of chart page `page`, or None if the probe did not say."""
    words = probe_out("marks", page).split()
    return [int(w) for w in words] if len(words) == 4 and all(w.isdigit() for w in words) else None


def painted(page, seconds=60):
    """Waits until chart page `page` has painted what it was asked to: no repaint posted or
    raised and not yet done, or, on a page whose pass keeps raising them, a whole paint begun
    after this wait began (the second paint to finish since: the first may have been under way)."""
    if page > 2:
        return True
    first = (marks(page) or [0, 0, 0, 0])[3]

    def done():
        now = marks(page)
        return now is not None and (now[1:3] == [0, 0] or now[3] - first >= 2)

    return check.ok("page %d paints what it was asked to" % page, wait_for(done, seconds))


def main_window_rect():
    """(left, top, width, height) of the main window on the screen."""
    for line in probe_out("state").splitlines():
        words = line.split(" ")
        if words[0] == "main":
            left, top, right, bottom = (int(v) for v in words[1:5])
            return left, top, right - left, bottom - top
    return None


def crop_to_window(path):
    """Crops a screenshot of the whole screen to the main window."""
    rect = main_window_rect()
    if rect:
        subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0],
                                                                 rect[1]), "+repage", path])


def page_pass_running(monitor, page):
    """Whether the pass that draws chart page `page` runs, as the monitor last saw it."""
    flags = monitor.flags() if monitor else []
    if not flags or page > 2:
        return False
    f = flags[-1][1]
    return bool(f["cacheBusy"] if page == 0 else f["ramBusy"] & page)


def settled_shot(path, page, seconds=60, monitor=None):
    """Shows `page` and takes a screenshot of it once it has painted what there is to paint: its
    repaint marks are clear and two screenshots in a row agree. A page whose pass is running
    keeps changing: with a monitor, the shot waits for that pass to end. Returns a PageShot (of
    the last screenshot if the page never settled, with a failed check)."""
    show(page)
    previous = None
    deadline = time.monotonic() + seconds
    while True:
        if page_pass_running(monitor, page):
            previous = None
            wait_for(lambda: not page_pass_running(monitor, page), SWEEP_SECONDS, poll=0.5)
            deadline = time.monotonic() + seconds
        marks_clear = page > 2 or (marks(page) or [1])[:3] == [0, 0, 0]
        shot = Shot(path)
        shown = probe_out("visible", page) == "1"
        if marks_clear and shown and previous is not None and shot.rgb == previous.rgb:
            return PageShot(shot, page)
        if not shown:
            show(page)
        if time.monotonic() > deadline:
            check.ok("page %d settles for its screenshot" % page, False,
                     "marks %s, shown %s" % (probe_out("marks", page), shown))
            return PageShot(shot, page)
        previous = shot if shown else None
        time.sleep(0.2)
