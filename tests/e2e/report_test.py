"""vardelo-report.exe runs the real start-up, cache sweep and a short read and write pass under
Wine, ends with 0 and prints JSON that is complete and consistent with itself."""

import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import FACTS as F, TARGET, VERSION, WINE_RUN, check, memory_text  # noqa: E402

REPORT = os.path.join(TARGET, "vardelo-report.exe")
NO_POINT = F.NO_POINT
MIB = 1 << 20
# The cache sweep and the fill search run whole; emulated machines take far longer.
SECONDS = 1200


def run_report():
    """(exit code, stdout, stderr) of one run; exit code None when it did not end in time. One
    block size keeps the RAM passes short."""
    try:
        run = subprocess.run([WINE_RUN, REPORT, "--blocks=256"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, timeout=SECONDS)
    except subprocess.TimeoutExpired as e:
        return None, e.stdout or b"", e.stderr or b""
    return run.returncode, run.stdout, run.stderr


def bad(items, condition):
    """The items for which condition does not hold, for one check over many."""
    return [item for item in items if not condition(item)]


def check_processor(report):
    p = report["processor"]
    check.ok("processor identified", p["family"] > 0 and p["mhz"] > 0, p)
    check.ok("tscRate set", report["tscRate"] > 0, report["tscRate"])
    check.eq("version of the build", VERSION, report.get("version"))
    for cache in p["caches"]:
        check.ok("cache level described", cache["type"] in ("data", "instruction", "unified")
                 and cache["level"] >= 1 and cache["sizeBytes"] > 0, cache)
    check.ok("cache source %r agrees with the list" % p["cacheSource"],
             (p["cacheSource"] == "none") == (p["caches"] == []))


def check_cache(report):
    c = report["cache"]
    points = c["points"]
    tail = F.CACHE_CURVE_ENTRIES - F.CACHE_POINTS
    check.eq("cache points", F.CACHE_POINTS, len(points))
    check.ok("slots after the points unmeasured",
             c["dataTail"] == [NO_POINT] * tail and c["codeTail"] == [NO_POINT] * tail)
    check.eq("points with both speeds measured", [], bad(
        points, lambda pt: 0 < pt["dataKiBps"] < NO_POINT and 0 < pt["codeKiBps"] < NO_POINT))
    check.eq("points with their latency probed", [], bad(
        points, lambda pt: 0 < pt["latencyTicksX256"] < NO_POINT and 0 < pt["latencyPs"] < NO_POINT))
    check.ok("l1Source", c.get("l1Source") in ("bandwidth", "latency"), c.get("l1Source"))
    check.ok("l2Source", c.get("l2Source") in ("none", "bandwidth", "latency"), c.get("l2Source"))
    check.ok("seconds of the latency probe", "latencyProbe" in report["seconds"])
    check.eq("first block sizes", [4608, 4608, 4608, 4864],
             [pt["blockBytes"] for pt in points[:4]])
    check.eq("last block size", 4063232, points[-1]["blockBytes"] if points else None)
    mode = c["fillMode"]
    fields4 = [(mode >> s) & 15 for s in (0, 4, 8, 12)]
    check.ok("fillMode 0x%04X is an accepted code" % mode, mode != 0 and 8 not in fields4)
    check.ok("readMode", c["readMode"] in range(F.READ_VARIANT_COUNT), c["readMode"])
    check.eq("readWidthBits for readMode %r" % c["readMode"], 32 << c["readMode"],
             c["readWidthBits"])
    check.ok("lineSize", c["lineSize"] in (4, 8, 16, 32, 64, 128, 256), c["lineSize"])

    f = c["fields"]
    fill, label = str(F.FIELD_FILL_MODE), str(F.FIELD_FILL_LABEL)
    check.eq("field %s shows fillMode" % fill, "%8X" % mode, f.get(fill))
    check.eq("field %s" % label, "mode", f.get(label))
    check_figures(c)


def check_figures(c):
    """The derived figures as numbers, and the page fields that show them as those numbers."""
    figures, f = c["figures"], c["fields"]
    for key, fig in sorted(figures.items()):
        check.ok("figure %s: a number and where it came from" % key, fig is None or (
            len(fig) == 2 and isinstance(fig.get("source"), str) and
            isinstance(next(v for k, v in fig.items() if k != "source"), int)), fig)
    shown = (
        ("dcache", "bytes", F.FIELD_DCACHE_SIZE, lambda n: " %4dK " % (n // 1024)),
        ("dataSpeed", "kibps", F.FIELD_DCACHE_SPEED, lambda n: " %6d " % (n // 1024)),
        ("ramSpeed", "kibps", F.FIELD_RAM_SPEED, lambda n: " %5d " % (n // 1024)),
        ("installedMemory", "mib", F.FIELD_MEMORY_SIZE, memory_text),
        ("ramLine", "bytes", F.FIELD_RAM_LINE, lambda n: "%3dbyts" % n),
    )
    for key, unit, field, text in shown:
        value = (figures.get(key) or {}).get(unit)
        check.ok("figure %s set" % key, value is not None and value > 0, figures.get(key))
        if value is not None:
            check.eq("field %d shows figure %s" % (field, key), text(value), f.get(str(field)))
    check.eq("the RAM line is the lineSize", c["lineSize"],
             (figures.get("ramLine") or {}).get("bytes"))
    # The L3 where the probe found one (its cells stay empty where there is none).
    l3 = (figures.get("l3") or {}).get("bytes")
    check.eq("field %d shows the L3 or nothing" % F.FIELD_L3_SIZE,
             " %4dM " % (l3 >> 20) if l3 else None, f.get(str(F.FIELD_L3_SIZE)))
    l3_speed = (figures.get("l3Speed") or {}).get("kibps")
    if l3 and l3_speed:
        check.eq("field %d shows figure l3Speed" % F.FIELD_L3_SPEED, " %6d " % (l3_speed // 1024),
                 f.get(str(F.FIELD_L3_SPEED)))
    check.ok("the L3 probe's blocks lie beyond the sweep's", all(
        p["blockBytes"] >= 4 << 20 for p in c.get("farLatencies", [])), c.get("farLatencies"))


def memory_bytes(report):
    """The memory the program was told of: its installed-memory field (the total raised to a
    multiple of 8 MiB), else Linux's count (under an emulator Wine may report less), or 0."""
    shown = report["cache"]["figures"].get("installedMemory")
    if shown and shown.get("mib"):
        return shown["mib"] * MIB
    try:
        with open("/proc/meminfo") as f:
            m = re.search(r"^MemTotal:\s+(\d+) kB", f.read(), re.M)
    except OSError:
        return 0
    return int(m.group(1)) * 1024 if m else 0


def expected_span(largest, memory):
    """The RAM span for a largest cache and the machine's memory, worked out here apart from the
    program: 8 MiB up to a 2 MiB cache, else the smallest power of two of four times the cache,
    at most 512 MiB and an eighth of the memory rounded down to a power of two."""
    if largest <= 2 * MIB:
        return 8 * MIB
    span = 8 * MIB
    while span < 4 * largest:
        span *= 2
    cap = 512 * MIB
    if memory:
        share = 1 << (min(memory // 8, 0xFFFFFFFF).bit_length() - 1)
        cap = min(cap, share)
    return max(min(span, cap), 8 * MIB)


def check_ram(report):
    r = report["ram"]
    for kind in ("read", "write", "writeMmx"):
        curve = r[kind]["256"]
        check.eq("%s curve entries" % kind, F.RAM_CURVE_ENTRIES, len(curve))
        check.ok("%s points measured" % kind, all(0 < v < NO_POINT for v in curve[:F.RAM_POINTS]))
        check.eq("%s entries after the points end the curve" % kind,
                 [NO_POINT] * (F.RAM_CURVE_ENTRIES - F.RAM_POINTS), curve[F.RAM_POINTS:])
        check.eq("%s block 32 not measured" % kind, None, r[kind]["32"])
        stats = r["stats"][kind]
        check.eq("%s statistics of block 32 unset" % kind, None, stats["32"])
        s = stats["256"]
        check.ok("%s statistics of block 256: points, minimum <= average <= maximum" % kind,
                 s["points"] == F.RAM_POINTS and
                 s["minKiBps"] <= s["averageKiBps"] <= s["maxKiBps"] and
                 s["linearKiBps"] == curve[F.RAM_LINEAR_ENTRY], s)
        check.ok("%s combined figure" % kind, r["combinedMiBps"][kind] >= 0,
                 r["combinedMiBps"][kind])
    check.ok("readMax is the read maximum", max(r["read"]["256"][:320]) <= r["readMax"])
    check.ok("writeMax starts from readMax", r["writeMax"] >= r["readMax"])

    s = report["ramSpan"]
    span = s["spanBytes"]
    check.ok("RAM span %d is a power of two of 8 MiB or more" % span,
             span >= 8 * MIB and span & (span - 1) == 0)
    check.eq("the test area holds the span", span + 4 * MIB, s["testAreaBytes"])
    check.eq("cold walks exactly where the span passes 8 MiB", span > 8 * MIB, s["coldWalks"])
    check.eq("a cold read speed exactly with cold walks", s["coldWalks"], s["coldReadKiBps"] > 0)
    largest = report["processor"]["largestCacheBytes"]
    check.eq("the span follows the largest cache (%d) and the memory" % largest,
             expected_span(largest, memory_bytes(report)), span)


def main():
    if not os.path.exists(REPORT):
        print("missing %s" % REPORT)
        return 1
    code, out, err = run_report()
    progress = err.decode("utf-8", "replace")
    if code != 0:
        print("vardelo-report.exe %s" % ("did not end within %d s" % SECONDS if code is None
                                         else "ended with %d" % code))
        print("\n".join(progress.splitlines()[-20:]))
        return 1
    check.ok("progress on stderr", "cache sweep done" in progress)
    try:
        report = json.loads(out.decode("utf-8"))
    except ValueError as e:
        check.ok("the report is JSON", False, e)
    else:
        for part in (check_processor, check_cache, check_ram):
            try:
                part(report)
            except (KeyError, IndexError, TypeError, ValueError) as e:
                check.ok("%s finds what it reads" % part.__name__, False, repr(e))
    print("report: %d checks failed" % check.failures)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
