"""tools/plot-report: a synthetic report, whole and with sections missing, becomes a PNG with
the curves drawn in the panels that have them."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "tools", "plot-report")
NO_POINT = 0xFFFFFFFF
DATA_BLUE = (0x1F, 0x5F, 0xBF)  # the data curve's colour, and block 32's in the RAM panel
RAM_RED = (0xC0, 0x39, 0x2B)  # block 256's colour
LATENCY_GREEN = (0x2E, 0x8B, 0x57)


def synthetic_report():
    blocks = [max(4608, ((16 + i % 16) << (i // 16)) * 256) for i in range(160)]
    points = [{"index": i, "blockBytes": b, "nominalBytes": b,
               "dataKiBps": 200000000 if b <= 32768 else 90000000,
               "codeKiBps": 60000000, "latencyTicksX256": 900,
               "latencyPs": 1300 if b <= 32768 else 6000} for i, b in enumerate(blocks)]
    low = [3000000 + 1000 * (k % 50) for k in range(320)] + [NO_POINT] * 4
    low[200:210] = [NO_POINT] * 10  # unmeasured entries inside a curve
    high = [2 * v if v != NO_POINT else v for v in low]
    ram = {kind: {"32": low, "64": None, "128": None, "256": high}
           for kind in ("read", "write", "writeMmx")}
    return {"version": "test-build", "build": "x86-64 Linux",
            "processor": {"brand": "Test CPU", "caches": [
                {"level": 1, "type": "data", "sizeBytes": 32768, "lineBytes": 64},
                {"level": 1, "type": "instruction", "sizeBytes": 32768, "lineBytes": 64},
                {"level": 2, "type": "unified", "sizeBytes": 524288, "lineBytes": 64},
                {"level": 3, "type": "unified", "sizeBytes": 0, "lineBytes": 0}]},
            "cache": {"points": points,
                      "farLatencies": [{"blockBytes": m << 20, "latencyPs": 9000 + 1000 * m}
                                       for m in (4, 8, 16, 32, 64)],
                      "figures": {
                "icache": {"bytes": 16384, "source": "bandwidth"},
                "dcache": {"bytes": 32768, "source": "latency"}, "l2": None}},
            "ram": ram}


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def colours(path, crop):
    """The colours ImageMagick finds in a region (WxH+X+Y) of the picture, each close to one of
    the curves' colours (the lines are antialiased) counted as that colour, with 50 pixels or
    more."""
    out = subprocess.run(["convert", path, "-crop", crop, "+repage", "-depth", "8", "-format",
                          "%c", "histogram:info:-"], capture_output=True, text=True,
                         check=True).stdout
    counts = {}
    for line in out.splitlines():
        count, _, rest = line.strip().partition(":")
        hexa = rest.split("#")[1][:6]
        rgb = tuple(int(hexa[i:i + 2], 16) for i in (0, 2, 4))
        for want in (DATA_BLUE, RAM_RED, LATENCY_GREEN):
            if sum(abs(a - b) for a, b in zip(rgb, want)) <= 24:
                counts[want] = counts.get(want, 0) + int(count)
    return {c for c, n in counts.items() if n >= 50}


class PlotReport(unittest.TestCase):
    def test_reports_whole_and_with_sections_missing(self):
        whole = synthetic_report()
        no_ram = dict(whole, ram={"readMax": 0, "writeMax": 0})  # --passes=none
        no_cache = {k: v for k, v in whole.items() if k != "cache"}  # --no-cache
        bare = {"version": "test-build"}
        top, bottom = "1200x430+0+70", "1200x310+0+645"
        # The top panel's right sixth: far latencies only, the sweep's curves end at 4 MiB.
        far_right = "150x400+950+80"
        # (report, colours that must show at the top, at the bottom, and must not at the bottom)
        for name, report, top_has, bottom_has, bottom_lacks in (
                ("whole", whole, {DATA_BLUE, LATENCY_GREEN}, {DATA_BLUE, RAM_RED}, set()),
                ("no RAM passes", no_ram, {DATA_BLUE}, set(), {DATA_BLUE, RAM_RED}),
                ("no cache sweep", no_cache, set(), {RAM_RED}, set()),
                ("bare", bare, set(), set(), {DATA_BLUE, RAM_RED})):
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                src, out = os.path.join(d, "r.json"), os.path.join(d, "r.png")
                with open(src, "w") as f:
                    json.dump(report, f)
                done = subprocess.run([sys.executable, TOOL, src], capture_output=True,
                                      text=True)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(png_size(out), (1200, 1060))
                self.assertGreater(os.path.getsize(out), 10000)
                self.assertLessEqual(top_has, colours(out, top))
                self.assertLessEqual(bottom_has, colours(out, bottom))
                self.assertFalse(bottom_lacks & colours(out, bottom))
                if name != "no cache sweep" and name != "bare":
                    self.assertEqual(colours(out, far_right) & {DATA_BLUE, LATENCY_GREEN},
                                     {LATENCY_GREEN})

    def test_unreadable_report(self):
        with tempfile.TemporaryDirectory() as d:
            src = os.path.join(d, "r.json")
            with open(src, "w") as f:
                f.write("{not json")
            done = subprocess.run([sys.executable, TOOL, src, os.path.join(d, "o.png")],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 1)
            self.assertIn("r.json", done.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "o.png")))


if __name__ == "__main__":
    unittest.main()
