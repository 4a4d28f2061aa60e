"""The whole first cycle of the real program, as a person lets it run, then its buttons.

Started under Xvfb and Wine, vardelo.exe runs its first cache sweep, read pass and write pass on
its own. A monitor (vardelo-probe.exe monitor), started before the program, logs every change of
the selected tab, the visible page, the fill-search texts and the workers' flags; the test reads
texts and screenshots once the page has painted. Each step waits for the state it needs and finds
an event that came before it in the monitor's log, so the test holds at any pace of the program:
the presses that must come during a pass are armed before it starts and made by the probe as the
pass brings its page up. Checked along the way:

- each sweep brings its page to the front when it starts;
- the fill search's progress bar grows from "<>" to 25 bars, the best code beside it in "%8lX",
  and the label reads "mode" again before the code sweep starts;
- every readout of the cache page in its format once the sweep is done;
- the read and write statistics: each column the RAM worker's number for it, minimum <= average
  <= maximum, the percentage, the combined figure from the four averages;
- the curves reach the right edge of the charts, the charts' grid, marker and legend colours;
- a read restart pressed during the write pass runs one read pass after it, and no more;
- the pages after the first cycle: the charts and the statistics;
- the filter buttons cycle their captions and change what the chart shows;
- the cache restart runs the sweep again (with its fill search); a write restart pressed during it
  runs a write pass after it;
- the About page's "close" ends the process with exit code 0.

VARDELO_E2E_CYCLE=full also waits for that last write pass to end and checks its statistics
(a few minutes more); the default, quick, closes the program once the write pass has started.
Screenshots stay in $TARGET_DIR/e2e-cycle/.
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import (FACTS as F, SWEEP_SECONDS, TARGET, PressDuring, Program, check, lag,  # noqa: E402
                 memory_text, press, probe, probe_out, settled_shot, share, show, wait_for)
import looks  # noqa: E402

FULL = os.environ.get("VARDELO_E2E_CYCLE", "quick") == "full"
SHOTS = os.path.join(TARGET, "e2e-cycle")
BLOCKS = F.RAM_BLOCK_BYTES
BLOCK_COLOURS = {32: (0, 150, 255), 64: (100, 225, 225), 128: (100, 255, 100), 256: (200, 240, 0)}
NO_POINT = F.NO_POINT
CACHE, READ, WRITE, ABOUT = F.PAGE_CACHE, F.PAGE_READ, F.PAGE_WRITE, F.PAGE_ABOUT
(ICACHE_SIZE, DCACHE_SIZE, L2_SIZE, MEMORY_SIZE, ICACHE_SPEED, DCACHE_SPEED, L2_SPEED, RAM_SPEED,
 L2_LINE, RAM_LINE, FILL_MODE, FILL_LABEL) = (
    F.FIELD_ICACHE_SIZE, F.FIELD_DCACHE_SIZE, F.FIELD_L2_SIZE, F.FIELD_MEMORY_SIZE,
    F.FIELD_ICACHE_SPEED, F.FIELD_DCACHE_SPEED, F.FIELD_L2_SPEED, F.FIELD_RAM_SPEED,
    F.FIELD_L2_LINE, F.FIELD_RAM_LINE, F.FIELD_FILL_MODE, F.FIELD_FILL_LABEL)


def idle(f):
    return not any(f.values())


# ---- Page texts ------------------------------------------------------------------------------

def texts(page, ids):
    out = {}
    for line in probe_out("texts", page, *ids).split("\n"):
        key, _, value = line.partition("\t")
        if key:
            out[int(key)] = value
    return out


def cache_figures():
    """The figures the cache worker derived, as numbers: {name: (value, source)}, and the
    processor's timing class."""
    figures = {}
    for line in probe_out("figures").split("\n"):
        name, value, *source = line.split()
        figures[name] = (int(value), source[0] if source else "")
    return figures, figures.pop("cpuClass")[0]


def figure_texts(figures, cpu_class):
    """{field: text} of the cache page's figures, each number as its field formats it."""
    def value(name):
        v, source = figures[name]
        return None if source == "unset" else v
    out = {}
    for field, name, fmt in ((DCACHE_SPEED, "dataSpeed", " %6d "), (ICACHE_SPEED, "codeSpeed", " %6d "),
                             (L2_SPEED, "l2Speed", " %6d "), (RAM_SPEED, "ramSpeed", " %5d "),
                             (DCACHE_SIZE, "dcache", " %4dK "), (L2_SIZE, "l2", " %4dK "),
                             (ICACHE_SIZE, "icache", "%4dk:4*" if cpu_class == 2 else " %4dK ")):
        v = value(name)
        out[field] = None if v is None or v < 1024 else fmt % (v // 1024)
    line = value("l2Line")
    out[L2_LINE] = None if line is None else "-" if line <= 8 else "%3dbyts*" % line
    line = value("ramLine")
    out[RAM_LINE] = None if line is None else "-" if line == 0 else "%3dbyts" % line
    memory = value("installedMemory")
    out[MEMORY_SIZE] = None if memory is None else "" if memory == 0 else memory_text(memory)
    return out


def check_cache_readouts():
    t = texts(CACHE, [ICACHE_SIZE, DCACHE_SIZE, L2_SIZE, MEMORY_SIZE, ICACHE_SPEED, DCACHE_SPEED,
                      L2_SPEED, RAM_SPEED, L2_LINE, RAM_LINE, FILL_MODE, FILL_LABEL])
    check.note("cache readouts: " + ", ".join("%d=%r" % kv for kv in sorted(t.items())))
    figures, cpu_class = cache_figures()
    check.note("cache figures: " + ", ".join("%s=%d (%s)" % (k, v, s) for k, (v, s) in figures.items()))
    for field, text in sorted(figure_texts(figures, cpu_class).items()):
        check.ok("field %d shows its figure" % field, text is not None and t[field] == text,
                 "shown %r, figure %r" % (t[field], text))
    value = lambda name: figures[name][0]  # noqa: E731
    check.ok("L2 size a power of two", value("l2") & (value("l2") - 1) == 0, value("l2"))
    check.ok("installed memory a multiple of 8 MiB", value("installedMemory") % 8 == 0,
             value("installedMemory"))
    check.ok("speeds above zero", all(value(n) >= 1024 for n in
                                      ("dataSpeed", "codeSpeed", "l2Speed", "ramSpeed")))
    check.ok("RAM line a power of two from 4 to 256",
             value("ramLine") in (4, 8, 16, 32, 64, 128, 256), value("ramLine"))
    check.ok("fill mode \"%8lX\"", re.fullmatch(r" *[0-9A-F]{1,8}", t[FILL_MODE]) is not None
             and len(t[FILL_MODE]) == 8, repr(t[FILL_MODE]))
    check.eq("the fill label reads \"mode\"", "mode", t[FILL_LABEL])
    return t


def check_fill_search(monitor, t_from, t_to, final_code):
    """The progress texts of one fill search, seen by the monitor between t_from and t_to."""
    labels = [(t, v) for (t, _, v) in monitor.events("text139") if t_from <= t <= t_to]
    codes = [(t, v) for (t, _, v) in monitor.events("text130") if t_from <= t <= t_to]
    bars = [(t, v) for (t, v) in labels if v.startswith("<")]
    check.note("fill search: %d progress texts seen, from %r to %r" %
               (len(bars), bars[0][1] if bars else None, bars[-1][1] if bars else None))
    check.ok("progress texts are \"<\", bars, \">\" with at most 25 bars",
             bars and all(re.fullmatch(r"<\|{0,25}>", v) for _, v in bars),
             [v for _, v in bars if not re.fullmatch(r"<\|{0,25}>", v)][:3])
    counts = [len(v) - 2 for _, v in bars]
    check.ok("the bar only grows", counts == sorted(counts), counts)
    check.ok("the bar ends with 25 bars", counts and counts[-1] == 25, counts[-3:])
    check.ok("several progress steps seen", len(set(counts)) >= 5, sorted(set(counts)))
    others = [v for _, v in labels if not v.startswith("<")]
    check.ok("besides the bar, the label shows only \"-\" and \"mode\"",
             set(others) <= {"-", "mode"}, others)
    check.ok("the label reads \"mode\" after the bar", labels and labels[-1][1] == "mode" and
             bars and labels[-1][0] > bars[-1][0], labels[-2:])
    during = [v for t, v in codes if bars and bars[0][0] <= t <= bars[-1][0]]
    check.ok("the best code so far in \"%8lX\" during the search",
             during and all(re.fullmatch(r" *[0-9A-F]{1,8}", v) and len(v) == 8 for v in during),
             during[:3])
    check.ok("the code shown after the search is the last best code",
             during and during[-1] == final_code, (during[-1:], final_code))
    icache = [(t, v) for (t, _, v) in monitor.events("curves")
              if t_from <= t and re.search(r"icache [1-9]", v)]
    check.ok("the code sweep starts after the search", icache and labels and
             icache[0][0] >= labels[-1][0] - 100, (icache[:1], labels[-1:]))


# ---- Curves and statistics -------------------------------------------------------------------

def curve_stats(kind, b):
    """(points, minimum, maximum, average, linear, percent) of one RAM curve, as the RAM worker
    derived them (KiB/s)."""
    return tuple(int(v) for v in probe_out("stats", kind, b).split())


def stats_texts(page, kind):
    """{field: text} of the statistics of `kind`'s four curves as `page` formats them (a field
    whose number is 0 is left alone), with the combined figure of their averages; None while a
    curve has not started."""
    base = F.READ_FIELDS_BASE if page == READ else F.WRITE_FIELDS_BASE
    out, averages = {}, []
    for b in range(len(BLOCKS)):
        points, lo, hi, average, linear, percent = curve_stats(kind, b)
        if points == 0:
            return None
        check.ok("%s block %d: minimum <= average <= maximum, linear within them" % (kind, BLOCKS[b]),
                 lo <= average <= hi and (linear == NO_POINT or lo <= linear <= hi),
                 (lo, average, hi, linear))
        cols = {0: lo // 1024, 1: hi // 1024, 2: average // 1024}
        if linear != NO_POINT:
            cols[3] = linear // 1024
            cols[4] = percent
        for col, v in cols.items():
            if v:
                out[base + 10 * b + col] = ("%3d%%" if col == 4 else " %5d ") % v
        averages.append(average // 1024)
    combined = (13 * averages[0] + 9 * averages[1] + 6 * averages[2] + 4 * averages[3]) // 32
    if combined:
        out[base + F.COMBINED_FIELD_OFFSET] = "%5dMB/s" % combined
    return out


def check_stats(page, kinds):
    """The statistics on `page` are the RAM worker's numbers of one of `kinds` (the write page
    shows the plain and the MMX write curves on alternate paints)."""
    name = "read" if page == READ else "write"
    base = F.READ_FIELDS_BASE if page == READ else F.WRITE_FIELDS_BASE
    ids = [base + 10 * b + col for b in range(len(BLOCKS)) for col in range(5)]
    shown = texts(page, ids + [base + F.COMBINED_FIELD_OFFSET])
    check.note("%s statistics: %s" % (name, " | ".join(shown[i] for i in sorted(shown))))
    matches = []
    for kind in kinds:
        expected = stats_texts(page, kind)
        if expected and all(shown.get(field) == text for field, text in expected.items()):
            matches.append(kind)
    check.ok("%s statistics are the numbers of the measured %s curves" % (name, " or ".join(kinds)),
             matches, "shown %s" % shown)


def check_curves_complete(what):
    summary = probe_out("curves")
    counts = re.findall(r"(\d+!?)", summary)
    check.ok("%s: every curve complete, nothing behind its end" % what,
             counts == [str(F.CACHE_POINTS)] * 2 + [str(F.RAM_POINTS)] * 3 * len(BLOCKS),
             summary)


# ---- Screenshots -----------------------------------------------------------------------------

def screenshot(name, page):
    return settled_shot(os.path.join(SHOTS, name + ".png"), page)


def near(pixels, colour):
    return sum(1 for p in pixels if p == colour)


def check_cache_chart(shot, back):
    check.ok("cache plot black between grid lines",
             share(shot.column(48, 7, 255), (0, 0, 0)) >= 60)
    check.ok("cache coarse vertical grid at x = 204",
             share(shot.column(204, 7, 255), (0, 150, 150)) >= 60)
    check.ok("cache fine vertical grid at x = 52",
             share(shot.column(52, 7, 255), (0, 100, 100)) >= 50)
    check.eq("cache right margin in the margin colour", back, shot.pixel(370, 100))
    legend = shot.region(244, 16, 300, 29)
    yellow = sum(1 for (r, g, b) in legend if r >= 200 and g >= 200 and b < 100)
    check.ok("cache legend in yellow at (244,16)", yellow > 0, yellow)
    # The code curve is drawn over the data curve; where the two meet at the right, the data
    # curve shows a few points further left.
    check.ok("the data curve reaches the right edge (x = 364)",
             near(shot.region(334, 7, 364, 255), (200, 200, 0)) > 0)
    check.ok("the code curve reaches the right edge (x = 364)",
             near(shot.region(358, 7, 364, 255), (0, 200, 0)) > 0)


def check_ram_chart(shot, page, back):
    coarse, marker = ((0, 75, 75), (1, 1, 1)) if page == READ else ((75, 22, 75), (0, 0, 0))
    name = "read" if page == READ else "write"
    check.ok("%s coarse vertical grid at x = 204" % name,
             share(shot.column(204, 7, 255), coarse) >= 40)
    marks = shot.column(140, 7, 255)
    check.ok("%s dotted marker at x = 140: dots" % name, share(marks, marker) >= 25)
    check.ok("%s dotted marker at x = 140: gaps in the margin colour" % name,
             share(marks, back) >= 25)
    check.eq("%s right margin in the margin colour" % name, back, shot.pixel(370, 100))
    plot = shot.region(45, 7, 363, 255)
    for size in (32, 256):
        check.ok("%s curve of block %d drawn" % (name, size), near(plot, BLOCK_COLOURS[size]) >= 20)
    edge = shot.region(356, 7, 363, 255)
    check.ok("%s curves reach the right edge (x = 363)" % name,
             near(edge, BLOCK_COLOURS[32]) > 0, "block-32 pixels %d" % near(edge, BLOCK_COLOURS[32]))


def check_filter(page):
    """Seven presses bring the caption back; level "--" draws the measured curve, level 4 a
    smoothed one, so the plot differs."""
    button = F.ID_READ_FILTER if page == READ else F.ID_WRITE_FILTER
    name = "read" if page == READ else "write"
    show(page)
    expected = ["фильтр 4", "фильтр 5", "фильтр 6", "фильтр --", "фильтр 1", "фильтр 2",
                "фильтр 3", "фильтр 4"]
    captions = []
    plots = {}
    for presses, want in enumerate(expected):
        if presses:
            press(page, button)
        # The click goes through the input queue; the caption follows when it is handled. (The
        # probe's wait-text would get a Cyrillic argument through Wine's conversion of argv.)
        caption = wait_for(lambda: (lambda c: c if c == want else None)(
            probe_out("text", page, button)), 30, poll=0.1) or probe_out("text", page, button)
        captions.append(caption)
        if caption in ("фильтр 4", "фильтр --") and caption not in plots:
            shot = screenshot("%s-filter-%s" % (name, caption.split()[1].replace("--", "off")),
                              page)
            plots[caption] = shot.region(45, 7, 363, 255)
    check.eq("%s filter captions over seven presses" % name, expected, captions)
    if len(plots) == 2:
        differing = sum(1 for a, b in zip(plots["фильтр 4"], plots["фильтр --"]) if a != b)
        check.ok("%s chart redrawn with the filter: level -- differs from level 4" % name,
                 differing > 50, "%d pixels differ" % differing)


# ---- The run ---------------------------------------------------------------------------------

def main():
    os.makedirs(SHOTS, exist_ok=True)
    print("cycle test, %s mode" % ("full" if FULL else "quick"))
    # Armed before the program starts: a read restart pressed during the first write pass.
    program = Program(SHOTS)
    if not check.ok("the main window appears", program.window):
        program.stop()
        return 1
    read_press = PressDuring("ramBusy", 2, 2, READ, F.ID_READ_RESTART)
    phases = {}
    try:
        run(program, program.monitor, read_press, phases)
    finally:
        read_press.cancel()
        program.stop()
    for name, seconds in phases.items():
        print("duration: %s %.0f s" % (name, seconds))
    print("cycle test: %s" % ("passed" if check.failures == 0 else "%d failures" % check.failures))
    return 0 if check.failures == 0 else 1


def flags_at(monitor, t):
    """The workers' flags as they stood at time t."""
    now = {}
    for tt, f in monitor.flags():
        if tt > t:
            break
        now = f
    return now


def run(program, monitor, read_press, phases):
    face = tuple(int(v) for v in probe_out("face").split())
    back = (max(face[0] - 5, 0), max(face[1] - 5, 0), face[2])

    # The first cache sweep, the read pass and the write pass, as the monitor saw them: each
    # brings its page to the front; the fill search shows its progress.
    lag("the first cache sweep")
    first = monitor.wait(lambda f: f["cacheBusy"] == 2, 120, "the first cache sweep starts")
    if first is None:
        return
    monitor.brought_to_front(first, 0, "the cache sweep brings the cache page to the front")
    read_start = monitor.wait(lambda f: f["ramBusy"] & 1, SWEEP_SECONDS, "the read pass starts")
    if read_start is None:
        return
    phases["first cache sweep"] = (read_start - first) / 1000
    monitor.brought_to_front(read_start, 1, "the read pass brings the read page to the front")

    lag("the cache page's readouts after the first sweep")
    readouts = check_cache_readouts()
    check_fill_search(monitor, first, read_start, readouts[FILL_MODE])
    check.eq("cache curves complete after the first sweep",
             "dcache %d icache %d" % (F.CACHE_POINTS, F.CACHE_POINTS),
             " ".join(probe_out("curves").split()[:4]))

    monitor.since(read_start)
    write_start = monitor.wait(lambda f: f["ramBusy"] & 2, SWEEP_SECONDS, "the write pass starts")
    if write_start is None:
        return
    phases["first read pass"] = (write_start - read_start) / 1000

    # The read restart, armed at the start, was pressed once the write pass had begun and
    # brought its page up.
    lag("a read restart pressed during the write pass")
    pressed, line = read_press.result()
    check.ok("the read restart pressed during the write pass (tab 1, then its button)", pressed,
             line)
    monitor.brought_to_front(write_start, 2, "the write pass brings the write page to the front",
                             "the armed press" if pressed else None)
    monitor.since(write_start)
    asked = monitor.wait(lambda f: f["ramRestart"] & 1, 60, "the read restart is taken as a request")
    if asked is None:
        return
    check.ok("the request came while the write pass ran", flags_at(monitor, asked)["ramBusy"] & 2,
             flags_at(monitor, asked))
    write_end = monitor.wait(lambda f: not f["ramBusy"] & 2, SWEEP_SECONDS, "the write pass ends")
    if write_end is None:
        return
    phases["first write pass"] = (write_end - write_start) / 1000
    monitor.since(write_end)
    again = monitor.wait(lambda f: f["ramBusy"] & 1, SWEEP_SECONDS,
                         "a read pass runs after the write pass")
    if again is None:
        return
    monitor.brought_to_front(again, 1, "the requested read pass has the read page in front")
    monitor.since(again)
    ended = monitor.wait(idle, SWEEP_SECONDS, "the requested read pass ends")
    if ended is None:
        return
    phases["requested read pass"] = (ended - again) / 1000
    check.eq("exactly one read pass from the write pass's start on", 1,
             len(monitor.passes(1, write_start)))
    check.ok("no two passes at once", not [t for t, f in monitor.flags() if f["ramBusy"] == 3 or
                                          (f["ramBusy"] and f["cacheBusy"])])

    # Everything asked for is done: the pages as a person sees them now.
    lag("the three charts and the statistics after the first cycle")
    check.ok("nothing runs or is asked for after the requested read pass",
             idle(monitor.flags()[-1][1]), monitor.flags()[-1])
    check_curves_complete("after the first cycle and the requested read pass")
    check_cache_chart(screenshot("cache-after-cycle", CACHE), back)
    check_ram_chart(screenshot("read-after-cycle", READ), READ, back)
    check_stats(READ, ["read"])
    check_ram_chart(screenshot("write-after-cycle", WRITE), WRITE, back)
    check_stats(WRITE, ["write", "mmx"])
    looks.check_looks(SHOTS, "default", monitor=monitor)

    lag("the read page's filter button")
    check_filter(READ)
    lag("the write page's filter button")
    check_filter(WRITE)

    # The cache restart runs the whole sweep again; a write restart pressed during it runs a
    # write pass after it.
    lag("the cache restart, and a write restart pressed during its sweep")
    show(CACHE)
    write_press = PressDuring("cacheBusy", 255, 0, WRITE, F.ID_WRITE_RESTART)
    monitor.since(monitor.latest())
    press(CACHE, F.ID_CACHE_RESTART)
    restart = monitor.wait(lambda f: f["cacheBusy"] > 0, 60, "the cache restart starts a sweep")
    if restart is None:
        write_press.cancel()
        return
    pressed, line = write_press.result()
    check.ok("the write restart pressed during the sweep (tab 2, then its button)", pressed, line)
    monitor.brought_to_front(restart, 0, "the cache restart brings the cache page to the front",
                             "the armed press" if pressed else None)
    monitor.since(restart)
    ended = monitor.wait(lambda f: f["cacheBusy"] == 0, SWEEP_SECONDS, "the repeated sweep ends")
    if ended is None:
        return
    phases["repeated cache sweep"] = (ended - restart) / 1000
    asked = monitor.first(lambda f: f["ramRestart"] & 2, restart)
    check.ok("the write restart came as a request while the sweep ran",
             asked is not None and asked <= ended, (asked, ended))
    check_fill_search(monitor, restart, ended + 2000,
                      probe("text", CACHE, FILL_MODE)[1].rstrip("\n"))
    cleared = [v for (t, _, v) in monitor.events("curves") if t >= restart and
               re.match(r"dcache (\d+)", v) and int(re.match(r"dcache (\d+)", v).group(1)) < 20]
    check.ok("the repeated sweep started its curves afresh", cleared, "no early points seen")
    monitor.since(ended)
    write_again = monitor.wait(lambda f: f["ramBusy"] == 2, SWEEP_SECONDS,
                               "the write restart pressed during the sweep runs a write pass")
    if write_again is None:
        return
    check.eq("no read pass in between", [], monitor.passes(1, restart))
    monitor.brought_to_front(write_again, 2, "the write pass brings the write page up")
    if FULL:
        monitor.since(write_again)
        done = monitor.wait(idle, SWEEP_SECONDS, "the requested write pass ends")
        if done is None:
            return
        phases["requested write pass"] = (done - write_again) / 1000
        check.eq("no read pass after the requested write pass", [],
                 monitor.passes(1, write_again))
        check_curves_complete("after the requested write pass")
        lag("the write page after the requested write pass")
        check_ram_chart(screenshot("write-after-restart", WRITE), WRITE, back)
        check_stats(WRITE, ["write", "mmx"])

    # The About page and its close button.
    lag("the About page's close button")
    show(ABOUT)
    check.ok("the close button is there", probe_out("text", ABOUT, F.ID_ABOUT_CLOSE) == "close",
             probe_out("text", ABOUT, F.ID_ABOUT_CLOSE))
    press(ABOUT, F.ID_ABOUT_CLOSE)
    check.eq("the About page's close ends the process with exit code 0", 0,
             program.wait_exit(60))


if __name__ == "__main__":
    sys.exit(main())
