#!/usr/bin/env bash
# vardelo-report.exe runs the real start-up, cache sweep and a short read and write pass under
# Wine, ends with 0 and prints JSON that is complete and consistent with itself.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe="${TARGET_DIR:-$top/build/target}/vardelo-report.exe"
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# One block size keeps the RAM passes short; the cache sweep and the fill search run whole.
timeout 1200 "$top/tools/wine-run" "$exe" --blocks=256 >"$out/report.json" 2>"$out/progress.txt"
rc=$?
if [ "$rc" != 0 ]; then
  echo "vardelo-report.exe ended with $rc"; tail -20 "$out/progress.txt"; exit 1
fi
grep -q "cache sweep done" "$out/progress.txt" || { echo "no progress on stderr"; exit 1; }

python3 - "$out/report.json" <<'PY'
import json, re, sys

NO_POINT = 0xFFFFFFFF
report = json.load(open(sys.argv[1]))
failures = []
def check(ok, what):
    if not ok:
        failures.append(what)

p = report["processor"]
check(p["family"] > 0 and p["mhz"] > 0, "processor identified: %r" % p)
check(report["tscRate"] > 0, "tscRate set")

c = report["cache"]
points = c["points"]
check(len(points) == 160, "160 cache points, got %d" % len(points))
check(c["dataTail"] == [NO_POINT] * 4 and c["codeTail"] == [NO_POINT] * 4, "slots 160-163 unmeasured")
for pt in points:
    check(0 < pt["dataKiBps"] < NO_POINT and 0 < pt["codeKiBps"] < NO_POINT,
          "point %d measured: %r" % (pt["index"], pt))
    check(0 < pt["latencyTicksX256"] < NO_POINT and 0 < pt["latencyPs"] < NO_POINT,
          "point %d latency probed: %r" % (pt["index"], pt))
check(c["l1Source"] in ("bandwidth", "latency"), "l1Source %r" % c.get("l1Source"))
check(c["l2Source"] in ("none", "bandwidth", "latency"), "l2Source %r" % c.get("l2Source"))
check("latencyProbe" in report["seconds"], "seconds of the latency probe")
check([pt["blockBytes"] for pt in points[:4]] == [4608, 4608, 4608, 4864], "first block sizes")
check(points[159]["blockBytes"] == 4063232, "last block size")
mode = c["fillMode"]
fields4 = [(mode >> s) & 15 for s in (0, 4, 8, 12)]
check(mode != 0 and 8 not in fields4, "fillMode 0x%04X is an accepted code" % mode)
check(c["readMode"] in (0, 1, 2, 3, 4), "readMode")
check(c["readWidthBits"] == 32 << c["readMode"], "readWidthBits %r for readMode %r" % (c["readWidthBits"], c["readMode"]))
check(c["lineSize"] in (4, 8, 16, 32, 64, 128, 256), "lineSize %r" % c["lineSize"])

f = c["fields"]
formats = {
    "101": r"^ [ \d]{3}\dK $", "111": r"^ [ \d]{5}\d $", "114": r"^ [ \d]{4}\d $",
    "104": r"^ [ \d]{4}\dM $", "124": r"^[ \d]{2}\dbyts$", "130": r"^[ 0-9A-F]{8}$",
    "139": r"^mode$",
}
for field, pattern in formats.items():
    check(field in f and re.match(pattern, f[field]), "field %s %r matches %s" % (field, f.get(field), pattern))
check(int(f["130"], 16) == mode, "field 130 shows fillMode")
check(int(f["124"][:3]) == c["lineSize"], "field 124 shows lineSize")

r = report["ram"]
for kind in ("read", "write", "writeMmx"):
    curve = r[kind]["256"]
    check(len(curve) == 324, "%s curve has 324 entries" % kind)
    check(all(0 < v < NO_POINT for v in curve[:320]), "%s entries 0-319 measured" % kind)
    check(curve[320:] == [NO_POINT] * 4, "%s entries 320-323 end the curve" % kind)
    check(r[kind]["32"] is None, "%s block 32 not measured" % kind)
check(max(r["read"]["256"][:320]) <= r["readMax"], "readMax is the read maximum")
check(r["writeMax"] >= r["readMax"], "writeMax starts from readMax")

MIB = 1 << 20
for cache in p["caches"]:
    check(cache["type"] in ("data", "instruction", "unified") and cache["level"] >= 1
          and cache["sizeBytes"] > 0, "cache level described: %r" % cache)
check((p["cacheSource"] == "none") == (p["caches"] == []), "cache source %r" % p["cacheSource"])
s = report["ramSpan"]
span = s["spanBytes"]
check(span >= 8 * MIB and span & (span - 1) == 0, "RAM span %d is a power of two of 8 MiB or more" % span)
check(s["testAreaBytes"] == span + 4 * MIB, "the test area holds the span: %r" % s)
check(s["coldWalks"] == (span > 8 * MIB), "cold walks exactly where the span passes 8 MiB: %r" % s)
check((s["coldReadKiBps"] > 0) == s["coldWalks"], "a cold read speed exactly with cold walks: %r" % s)
if p["largestCacheBytes"] <= 2 * MIB:
    check(span == 8 * MIB, "small or unknown caches keep the 8 MiB window")

for line in failures:
    print("FAIL", line)
print("report: %d checks failed" % len(failures))
sys.exit(1 if failures else 0)
PY
