"""Helpers for the end-to-end tests written in Python: start the real vardelo.exe in the current
Wine session and display, drive and read it through vardelo-probe.exe, read screenshots, record
checks. Every wait is bounded. The bash tests have the same helpers in lib.sh."""

import os
import re
import subprocess
import sys
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TARGET = os.environ.get("TARGET_DIR", os.path.join(TOP, "build", "target"))
EXE = os.path.join(TARGET, "vardelo.exe")
PROBE = os.path.join(TARGET, "vardelo-probe.exe")
WINE_RUN = os.path.join(TOP, "tools", "wine-run")
# Generous bounds: emulated machines run Wine and the program far more slowly.
WINDOW_SECONDS = int(os.environ.get("WINDOW_SECONDS", "240"))
T0 = time.monotonic()


def stamp():
    return "%4.0fs" % (time.monotonic() - T0)


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


def probe(*args, timeout=None):
    """Runs one probe command; returns (exit code, stdout without CRs)."""
    run = subprocess.run([WINE_RUN, PROBE] + [str(a) for a in args], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=timeout)
    return run.returncode, run.stdout.decode("utf-8", "replace").replace("\r", "")


def probe_out(*args, timeout=None):
    return probe(*args, timeout=timeout)[1].strip()


def bench_rva():
    """Offset of the program's BenchState from the start of its image, for the probe."""
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", EXE], stdout=subprocess.PIPE,
                             text=True).stdout
    base = int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", headers, re.M).group(1), 16)
    symbols = subprocess.run(["i686-w64-mingw32-nm", EXE], stdout=subprocess.PIPE,
                             text=True).stdout
    addr = int(re.search(r"^([0-9a-fA-F]+) \S __ZN7vardelo5benchE$", symbols, re.M).group(1), 16)
    return "0x%x" % (addr - base)


class Program:
    """The running vardelo.exe."""

    def __init__(self):
        self.process = subprocess.Popen([WINE_RUN, EXE], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.window = probe("wait-window", WINDOW_SECONDS)[0] == 0

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, seconds):
        """The exit code, or None if it still runs after `seconds`."""
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.running():
            probe("close")
            if self.wait_exit(15) is None:
                self.process.kill()
                self.process.wait()


def unix_pid():
    """The Linux process that runs vardelo.exe under Wine in this test's Wine prefix, or None:
    another test run may have its own vardelo.exe on the machine."""
    prefix = os.environ.get("WINEPREFIX", os.path.join(TOP, "build", "wineprefix")).encode()
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


def test_area_rss(pid, area, length=12 << 20):
    """Resident KiB of the mappings that lie inside the test area [area, area + length): the
    program fills those pages as its passes first write them, which is not growth."""
    total, start, end = 0, 0, 0
    try:
        with open("/proc/%d/smaps" % pid) as f:
            for line in f:
                m = re.match(r"([0-9a-f]+)-([0-9a-f]+) ", line)
                if m:
                    start, end = int(m.group(1), 16), int(m.group(2), 16)
                elif line.startswith("Rss:") and start >= area and end <= area + length:
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
