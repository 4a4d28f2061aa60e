"""bench.png: Vardelo's data-read and code curves over block size (log scale), likwid-bench's
points at its working sets, and the operating system's cache sizes as vertical lines. Drawn as
an ImageMagick vector script (MVG) and rendered by `convert`, which the build's setup installs."""

import math
import subprocess

from bench_core import KIB, cache_name, kibps_to_mbps, size_label
from vardelo_facts import FACTS

WIDTH, HEIGHT = 1200, 784
LEFT, RIGHT, TOP, BOTTOM = 92, 28, 70, 140
DATA, CODE, PEER, WRITE, GRID = "#1f5fbf", "#d9822b", "#c0392b", "#7d3c98", "#d8d8d8"
OTHER_BUILD = "#2e8b57"  # the second build's data curve
# The main-memory writes stand this far right of the reads, so that their figures do not meet.
WRITE_AT = 3


def nice_step(top):
    """A tick step of 1, 2 or 5 × 10^k giving five to ten ticks up to top."""
    raw = top / 8
    power = 10 ** math.floor(math.log10(raw))
    for m in (1, 2, 5, 10):
        if m * power >= raw:
            return m * power
    return 10 * power


def curve_bands(reports, key):
    """(block bytes, median, min, max) in MB/s per curve point over the rounds' reports."""
    out = []
    by_block = {}
    for report in reports:
        for p in report["cache"]["points"]:
            if 0 < p[key] < 0xFFFFFFFF:
                by_block.setdefault(p["blockBytes"], []).append(kibps_to_mbps(p[key]))
    for block in sorted(by_block):
        v = sorted(by_block[block])
        out.append((block, v[len(v) // 2], v[0], v[-1]))
    return out


def quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


class Canvas:
    """One plot area of a picture: maps bytes (log 2 scale, or linear) and values onto its box
    (left, top, right, bottom in pixels) and appends vector operations to ops, a list the areas
    of one picture share."""

    def __init__(self, x_lo, x_hi, y_hi, box=(LEFT, TOP, WIDTH - RIGHT, HEIGHT - BOTTOM),
                 ops=None, size=(WIDTH, HEIGHT), log_x=True, y_lo=0):
        self.left, self.top, self.right, self.bottom = box
        self.log_x = log_x
        scale = math.log2 if log_x else float
        self.x_lo, self.x_hi, self.y_lo, self.y_hi = scale(x_lo), scale(x_hi), y_lo, y_hi
        if ops is None:
            ops = ["viewbox 0 0 %d %d" % size, "fill white", "rectangle 0,0 %d,%d" % size,
                   "font DejaVu-Sans"]
        self.ops = ops

    def x(self, v):
        f = ((math.log2(v) if self.log_x else v) - self.x_lo) / (self.x_hi - self.x_lo)
        return self.left + f * (self.right - self.left)

    def y(self, v):
        return self.bottom - (v - self.y_lo) / (self.y_hi - self.y_lo) * (self.bottom - self.top)

    def group(self, *settings):
        self.ops.append("push graphic-context")
        self.ops.extend(settings)

    def end(self):
        self.ops.append("pop graphic-context")

    def line(self, x1, y1, x2, y2):
        self.ops.append("line %.1f,%.1f %.1f,%.1f" % (x1, y1, x2, y2))

    def text(self, x, y, text, size=13, anchor="start", color="black", weight=""):
        self.group("fill %s" % color, "stroke none", "font-size %d" % size,
                   "text-anchor %s" % anchor, *(["font-weight %s" % weight] if weight else []))
        self.ops.append("text %.1f,%.1f %s" % (x, y, quote(text)))
        self.end()

    def polyline(self, pts):
        self.ops.append("polyline " + " ".join("%.1f,%.1f" % p for p in pts))

    def polygon(self, pts):
        self.ops.append("polygon " + " ".join("%.1f,%.1f" % p for p in pts))

    def marker(self, shape, x, y, color, r=5.5):
        self.group("fill %s" % color, "stroke white", "stroke-width 1.2")
        if shape == "circle":
            self.ops.append("circle %.1f,%.1f %.1f,%.1f" % (x, y, x + r, y))
        elif shape == "diamond":
            self.polygon([(x, y - r - 1), (x + r + 1, y), (x, y + r + 1), (x - r - 1, y)])
        else:
            self.polygon([(x, y - r - 1), (x + r + 1, y + r), (x - r - 1, y + r)])
        self.end()


def draw_axes(cv, x_lo, x_hi, last_tick, step, title, subtitle):
    x0, x1, y0, y1 = LEFT, WIDTH - RIGHT, TOP, HEIGHT - BOTTOM
    cv.group("stroke %s" % GRID, "stroke-width 1", "fill none")
    v = 0
    while v <= cv.y_hi + 1e-9:
        cv.line(x0, cv.y(v), x1, cv.y(v))
        v += step
    b = 4 * KIB
    while b <= x_hi:
        if b >= x_lo:
            cv.line(cv.x(b), y0, cv.x(b), y1)
        b *= 4
    cv.end()
    v = 0
    while v <= cv.y_hi + 1e-9:
        cv.text(x0 - 8, cv.y(v) + 4, "{:,.0f}".format(v), anchor="end")
        v += step
    b = 4 * KIB
    while b <= last_tick:
        if b >= x_lo:
            cv.text(cv.x(b), y1 + 20, size_label(b), anchor="middle")
        b *= 4
    cv.group("stroke #444444", "stroke-width 1", "fill none")
    cv.ops.append("rectangle %d,%d %d,%d" % (x0, y0, x1, y1))
    cv.end()
    cv.text(WIDTH / 2, y1 + 42, "block size / working set, bytes (log scale)", anchor="middle")
    cv.group("fill black", "stroke none", "font-size 13", "text-anchor middle",
             "translate 22,%d" % ((y0 + y1) // 2), "rotate -90")
    cv.ops.append("text 0,0 %s" % quote("MB/s (10^6 bytes per second)"))
    cv.end()
    cv.text(LEFT, 28, title, size=17, weight="bold")
    cv.text(LEFT, 50, subtitle, size=13, color="#333333")


def draw_size_lines(cv, marks, color="#777777", text_color="#444444", width=1.3, label_y=None):
    """Dashed vertical lines at sizes, each labelled with its names and size; marks: (bytes,
    name), and names of equal size share one line."""
    at = {}
    for size, name in marks:
        at.setdefault(size, []).append(name)
    for size, names in sorted(at.items()):
        x = cv.x(size)
        cv.group("stroke %s" % color, "stroke-width %.1f" % width, "stroke-dasharray 7 5",
                 "fill none")
        cv.line(x, cv.top, x, cv.bottom)
        cv.end()
        cv.text(x + 4, label_y or cv.top + 16, "%s %s" % ("/".join(names), size_label(size)),
                size=12, color=text_color)


def draw_cache_lines(cv, caches):
    """The operating system's cache sizes; levels of equal size share one line."""
    draw_size_lines(cv, [(c["size"], cache_name(c)) for c in caches])


def draw_curve(cv, band, color):
    if not band:
        return
    cv.group("fill %s" % color, "fill-opacity 0.18", "stroke none")
    cv.polygon([(cv.x(b), cv.y(hi)) for b, _, _, hi in band] +
               [(cv.x(b), cv.y(lo)) for b, _, lo, _ in reversed(band)])
    cv.end()
    cv.group("stroke %s" % color, "stroke-width 2", "fill none", "stroke-linejoin round")
    cv.polyline([(cv.x(b), cv.y(m)) for b, m, _, _ in band])
    cv.end()


def median_of(values):
    values = sorted(v for v in values if v is not None)
    return (values[len(values) // 2], values[0], values[-1]) if values else None


def draw_points(cv, nbytes, points, caption=""):
    """Markers at one working set, a few pixels apart so equal figures stay visible, each with
    its min–max bar over the rounds and its median written to the right, the figures' texts
    pushed apart where they would overlap. points: (shape, colour, values per round)."""
    x0 = cv.x(nbytes)
    shown = [(shape, color, median_of(values)) for shape, color, values in points]
    shown = [p for p in shown if p[2]]
    labels = []
    for i, (shape, color, (mid, lo, hi)) in enumerate(shown):
        x = x0 + (i - (len(shown) - 1) / 2) * 9
        cv.group("stroke %s" % color, "stroke-width 1.5", "fill none")
        cv.line(x, cv.y(lo), x, cv.y(hi))
        cv.end()
        cv.marker(shape, x, cv.y(mid), color)
        labels.append([cv.y(mid) + 4, color, mid])
    labels.sort()
    for a, b in zip(labels, labels[1:]):
        b[0] = max(b[0], a[0] + 14)
    right = x0 + 9 * len(shown) / 2 + 6
    for y, color, mid in labels:
        cv.text(right, y, "{:,.0f}".format(mid), size=12, color=color)
    if caption:
        cv.text(x0, TOP + 36, caption, size=12, anchor="middle", color="#444444")


def draw_legend(cv, entries):
    """Below the axis title, three entries a row."""
    for i, (kind, color, text) in enumerate(entries):
        x = LEFT + (i % 3) * 360
        y = HEIGHT - BOTTOM + 70 + (i // 3) * 22
        if kind == "line":
            cv.group("stroke %s" % color, "stroke-width 2.5")
            cv.line(x, y - 4, x + 24, y - 4)
            cv.end()
        else:
            cv.marker(kind, x + 12, y - 4, color, r=5)
        cv.text(x + 34, y, text, size=12)


def mvg(summary, reports, caches, runs, label="", other=None):
    """The vector script of the picture: the curves of one build's reports (named by label where
    there are two builds), and where other is (label, reports) the other build's data curve."""
    data, code = curve_bands(reports, "dataKiBps"), curve_bands(reports, "codeKiBps")
    other_data = curve_bands(other[1], "dataKiBps") if other else []
    by_name = {r["name"]: r for r in runs}
    peer = {row["name"]: row for row in summary["peerPoints"]}
    ours_ram = summary["oursRam"]
    values = [hi for _, _, _, hi in data + code + other_data]
    for row in summary["peerPoints"]:
        values += [v for v in row["values"] if v]
    for key in ("read", "write"):
        values += [v for v in ours_ram[key] if v]
    y_top = max(values + [1.0]) * 1.08
    step = nice_step(y_top)
    y_top = math.ceil(y_top / step) * step
    x_lo = 4 * KIB
    x_hi = max(r["bytes"] for r in runs) * WRITE_AT * 2
    cv = Canvas(x_lo, x_hi, y_top)
    draw_axes(cv, x_lo, x_hi, max(r["bytes"] for r in runs), step,
              summary.get("title", "Vardelo beside likwid-bench on the same processor"),
              summary["subtitle"])
    draw_cache_lines(cv, caches)
    draw_curve(cv, code, CODE)
    draw_curve(cv, other_data, OTHER_BUILD)
    draw_curve(cv, data, DATA)
    for r in runs:
        if r["cache"] is not None:
            draw_points(cv, r["bytes"], [("circle", PEER, peer[r["name"]]["values"])])
    mem = by_name["RAM"]["bytes"]
    draw_points(cv, mem, [("diamond", DATA, ours_ram["read"]),
                          ("circle", PEER, peer["RAM"]["values"])], "RAM read")
    draw_points(cv, mem * WRITE_AT, [("triangle", WRITE, ours_ram["write"]),
                                     ("triangle", PEER, peer["RAM write"]["values"])], "RAM write")
    kernel, store = by_name["RAM"]["kernel"], by_name["RAM write"]["kernel"]
    ours = "Vardelo %s" % label if label else "Vardelo"
    entries = [("line", DATA, "%s data read (median; band: min–max)" % ours),
               ("line", CODE, "%s code fetch (median; band: min–max)" % ours),
               ("circle", PEER, "likwid-bench %s" % kernel),
               ("diamond", DATA, "%s RAM speed field (%d)" % (ours, FACTS.FIELD_RAM_SPEED)),
               ("triangle", WRITE, "%s streaming write, linear" % ours),
               ("triangle", PEER, "likwid-bench %s" % store)]
    if other:
        entries.append(("line", OTHER_BUILD, "Vardelo %s data read (median; band: min–max)" %
                        other[0]))
    draw_legend(cv, entries)
    return "\n".join(cv.ops) + "\n"


def render(script, png_path, size=(WIDTH, HEIGHT)):
    """Renders the vector script with ImageMagick; the script goes on the command line, so no
    file-reading policy of ImageMagick's stands in the way."""
    subprocess.run(["convert", "-size", "%dx%d" % size, "xc:white", "-draw", script, png_path],
                   check=True)
