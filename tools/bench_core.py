"""What `make bench` decides and computes without touching the machine: the cache list the
operating system reports, likwid-bench's output, the working sets and kernels to run, the unit
conversion, and the comparison of Vardelo's figures with the peer's over several rounds.

Every speed leaving this module is in MB/s, 10^6 bytes per second (likwid-bench's own unit);
Vardelo's KiB/s (1024 B/s) are converted on the way in. Vardelo's own numbers (markers, curve
layouts, block sizes) come from its headers through vardelo_facts.
"""

import glob
import os
import re
import statistics

from vardelo_facts import FACTS

KIB = 1024
MIB = 1024 * 1024
GIB = 1024 * 1024 * 1024
NO_POINT = FACTS.NO_POINT
# The RAM curves' block sizes as the report names them.
RAM_BLOCKS = tuple(str(b) for b in FACTS.RAM_BLOCK_BYTES)
RAM_LINEAR_ENTRY = FACTS.RAM_LINEAR_ENTRY
STORE_KERNEL = "store_mem_sse"


# --- units -------------------------------------------------------------------------------------

def kibps_to_mbps(kibps):
    """A Vardelo speed in KiB/s (1024 B/s) in MB/s (10^6 B/s)."""
    return kibps * KIB / 1e6


def figure(cache_section, key, unit):
    """One derived figure of the report's cache.figures (unit "bytes" or "kibps"); None when the
    figure is unset or 0 (a line probe that found none)."""
    value = ((cache_section.get("figures") or {}).get(key) or {}).get(unit)
    return value or None


def parse_size(text):
    """"32K", "1M", "32768K", "1 MiB", "65536" (bytes) → bytes, as sysfs and lscpu print sizes."""
    m = re.fullmatch(r"\s*(\d+(?:\.\d+)?)\s*([KMG]?)(?:i?B)?\s*", text or "", re.IGNORECASE)
    if not m:
        raise ValueError("not a size: %r" % text)
    scale = {"": 1, "K": KIB, "M": MIB, "G": GIB}[m.group(2).upper()]
    return int(float(m.group(1)) * scale)


def kib_label(nbytes):
    """Bytes as the Cache Speed page shows sizes: whole KiB."""
    return "%dK" % (nbytes // KIB) if nbytes >= KIB else "%d" % nbytes


def size_label(nbytes):
    """Bytes as the shortest exact binary figure: 32K, 512K, 32M, 1G (else KiB with decimals)."""
    for unit, scale in (("G", GIB), ("M", MIB), ("K", KIB)):
        if nbytes >= scale and nbytes % scale == 0:
            return "%d%s" % (nbytes // scale, unit)
    if nbytes >= KIB:
        return "%gK" % round(nbytes / KIB, 1)
    return "%d" % nbytes


# --- the caches the operating system reports ----------------------------------------------------

def cache(level, kind, size, line):
    return {"level": level, "type": kind, "size": size, "line": line}


def parse_sysfs_caches(entries):
    """Caches from /sys/devices/system/cpu/cpu0/cache/index*: entries is a list of dicts of the
    files' texts (level, type, size, coherency_line_size). Sorted by level, data before
    instruction."""
    caches = []
    for e in entries:
        if not all(k in e for k in ("level", "type", "size")):
            continue
        line = e.get("coherency_line_size", "").strip()
        caches.append(cache(int(e["level"]), e["type"].strip(), parse_size(e["size"]),
                            int(line) if line.isdigit() else None))
    return sort_caches(caches)


def read_sysfs_caches(root):
    """parse_sysfs_caches over the index* folders under root."""
    entries = []
    for d in sorted(glob.glob(os.path.join(root, "index*"))):
        entry = {}
        for name in ("level", "type", "size", "coherency_line_size"):
            try:
                with open(os.path.join(d, name), encoding="utf-8") as f:
                    entry[name] = f.read().strip()
            except OSError:
                pass
        entries.append(entry)
    return parse_sysfs_caches(entries)


def parse_lscpu_caches(text):
    """Caches from `lscpu -C` (columns found by their header names; sizes with or without -B)."""
    lines = [l for l in text.splitlines() if l.strip()]
    if not lines:
        return []
    header = lines[0].split()
    need = ("ONE-SIZE", "TYPE", "LEVEL")
    if not all(n in header for n in need):
        return []
    col = {name: i for i, name in enumerate(header)}
    caches = []
    for l in lines[1:]:
        cells = l.split()
        if len(cells) != len(header):
            continue
        line = cells[col["COHERENCY-SIZE"]] if "COHERENCY-SIZE" in col else ""
        caches.append(cache(int(cells[col["LEVEL"]]), cells[col["TYPE"]],
                            parse_size(cells[col["ONE-SIZE"]]),
                            int(line) if line.isdigit() else None))
    return sort_caches(caches)


def sort_caches(caches):
    return sorted(caches, key=lambda c: (c["level"], c["type"] == "Instruction"))


def data_caches(caches):
    """The levels data passes through (Data and Unified), smallest level first."""
    return [c for c in caches if c["type"] in ("Data", "Unified")]


def cache_name(c):
    if c["level"] == 1:
        return "L1I" if c["type"] == "Instruction" else "L1D"
    return "L%d" % c["level"]


# --- which of Vardelo's reports to run -------------------------------------------------------------

def report_programs(kind, build_dir):
    """The report builds to measure with, as tools/setup --kind names this machine: where 32-bit
    code runs natively both, vardelo-report.exe under Wine first; where it runs emulated only the
    native x86-64 build, since the 32-bit one's figures would be the emulator's. Each: name,
    label (its columns in the tables), program (as the tables name it), path, and whether it
    runs under Wine."""
    exe = {"name": "exe", "label": "32-bit", "program": "vardelo-report.exe under Wine",
           "wine": True,
           "path": os.path.join(build_dir, "target", "vardelo-report.exe")}
    native = {"name": "native", "label": "native", "program": "the native x86-64 vardelo-report",
              "wine": False,
              "path": os.path.join(build_dir, "native", "vardelo-report")}
    if kind == "native":
        return [exe, native]
    if kind == "emulated":
        return [native]
    raise ValueError("not a kind of machine: %r" % kind)


def report_command(program, top, cpu=0):
    """The command line of one report run, pinned to the given processor."""
    wine = [os.path.join(top, "tools", "wine-run")] if program["wine"] else []
    return ["taskset", "-c", str(cpu)] + wine + [program["path"]]


# --- what to run ---------------------------------------------------------------------------------

# Vardelo's readMode values and their load widths: 32 bits << readMode.
READ_MODE_BITS = {mode: 32 << mode for mode in range(FACTS.READ_VARIANT_COUNT)}

# likwid-bench's read kernel for each of Vardelo's load widths, and the processor flag it needs.
LOAD_KERNELS = ((32, "load", None), (64, "load_sse", "sse2"), (128, "load_sse", "sse2"),
                (256, "load_avx", "avx"), (512, "load_avx512", "avx512f"))


def read_width_bits(cache_section):
    """The load width Vardelo chose: the report's readWidthBits, else its readMode."""
    if cache_section.get("readWidthBits"):
        return int(cache_section["readWidthBits"])
    return READ_MODE_BITS.get(cache_section.get("readMode"))


def load_kernel(width_bits, cpu_flags=None):
    """(kernel, note): the likwid-bench read kernel as wide as Vardelo's loads. With the
    processor's flags given, a kernel the processor cannot run gives way to the widest one it
    can, and the note says so."""
    wanted = None
    for bits, kernel, flag in LOAD_KERNELS:
        if bits >= (width_bits or 32):
            wanted = (kernel, flag)
            break
    if wanted is None:
        wanted = LOAD_KERNELS[-1][1:]
    if cpu_flags is None or wanted[1] is None or wanted[1] in cpu_flags:
        return wanted[0], ""
    kernel = next(k for _, k, flag in reversed(LOAD_KERNELS) if flag is None or flag in cpu_flags)
    return kernel, "%s needs %s, which this processor lacks: %s instead" % (wanted[0], wanted[1],
                                                                           kernel)


def likwid_size(nbytes, round_up=False):
    """A working set as likwid-bench takes it (kB, MB, GB are powers of 1000): whole kB below
    100 MB (rounded down, so a set meant to fit a cache does), whole MB above."""
    if nbytes >= 100 * 10**6:
        mb = -(-nbytes // 10**6) if round_up else nbytes // 10**6
        return "%dMB" % mb, mb * 10**6
    kb = -(-nbytes // 1000) if round_up else nbytes // 1000
    return "%dkB" % kb, kb * 1000


def memory_working_set(caches):
    """Main memory: at least eight times the largest cache and at least 1 GiB."""
    largest = max((c["size"] for c in caches), default=0)
    return max(8 * largest, GIB)


# The largest block of the cache sweep: its curve says nothing about working sets beyond it.
SWEEP_LARGEST_BLOCK = 3968 * KIB


def level_working_set(c, below):
    """The peer's working set for a data cache level of which `below` bytes are held by the
    level before: half the level, where the cache sweep reaches that far; for a level larger
    than the sweep reaches, the geometric middle of the blocks the sweep has inside the level
    (from half again the level before up to the largest block), so both read from the same
    sizes. On a shared host, half a large L3 is partly other guests' and reads nearly at memory
    speed."""
    half = c["size"] // 2
    low = below * 3 // 2
    if half <= SWEEP_LARGEST_BLOCK or low <= 0 or low >= SWEEP_LARGEST_BLOCK:
        return half
    return int((low * SWEEP_LARGEST_BLOCK) ** 0.5)


def plan_runs(caches, width_bits, cpu_flags=None):
    """The likwid-bench runs of one round: the read kernel inside each data cache level
    (level_working_set) and in main memory, and streaming stores in main memory. Each run:
    name, kernel, bytes, size (likwid's text), and the cache it stands for (None for main
    memory)."""
    kernel, note = load_kernel(width_bits, cpu_flags)
    runs = []
    below = 0
    for c in data_caches(caches):
        text, nbytes = likwid_size(level_working_set(c, below))
        below = c["size"]
        runs.append({"name": cache_name(c), "kernel": kernel, "size": text, "bytes": nbytes,
                     "cache": c})
    text, nbytes = likwid_size(memory_working_set(caches), round_up=True)
    runs.append({"name": "RAM", "kernel": kernel, "size": text, "bytes": nbytes, "cache": None})
    runs.append({"name": "RAM write", "kernel": STORE_KERNEL, "size": text, "bytes": nbytes,
                 "cache": None})
    return runs, note


def likwid_command(run, cpu=0):
    """One thread, pinned to the given processor, in socket 0's domain."""
    return ["taskset", "-c", str(cpu), "likwid-bench", "-t", run["kernel"],
            "-w", "S0:%s:1" % run["size"]]


# --- likwid-bench's output -----------------------------------------------------------------------

def parse_likwid(text):
    """The figures of one likwid-bench run: test, MB/s, bytes, seconds, iterations and the
    hardware thread it ran on. Raises ValueError when the run printed no speed."""
    found = {}
    patterns = {
        "test": (r"^Test:\s*(\S+)", str),
        "mbps": (r"^MByte/s:\s*([\d.]+)", float),
        "bytes": (r"^Size \(Byte\):\s*(\d+)", int),
        "seconds": (r"^Time:\s*([\d.eE+-]+)\s*sec", float),
        "iterations": (r"^Iterations:\s*(\d+)", int),
        "hwthread": (r"running on hwthread (\d+)", int),
    }
    for key, (pattern, kind) in patterns.items():
        m = re.search(pattern, text, re.MULTILINE)
        if m:
            found[key] = kind(m.group(1))
    if "mbps" not in found:
        tail = "\n".join(text.strip().splitlines()[-5:])
        raise ValueError("likwid-bench printed no MByte/s:\n" + tail)
    return found


# --- Vardelo's figures from one report ------------------------------------------------------------

def decode_report(raw):
    """The report's bytes as text: UTF-8, or the code page 1251 bytes older builds wrote."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1251", "replace")  # a byte it leaves undefined costs one text


def level_bands(caches):
    """For each data cache level, the block sizes its curve points must lie in to count as that
    level: above one and a half times the level before, up to three quarters of its own size,
    away from both edges where a level's speed blurs into the next."""
    bands, below = [], 0
    for c in data_caches(caches):
        bands.append((cache_name(c), int(below * 1.5), c["size"] * 3 // 4))
        below = c["size"]
    return bands


def ours_from_report(report, caches):
    """Vardelo's figures, in MB/s, that stand beside the peer's: per level the median of the
    data-read points inside it (with the band and the count), the derived L2, L3 and RAM speeds and
    the RAM curves' linear entries; and the derived sizes in bytes."""
    c = report.get("cache") or {}
    points = [p for p in c.get("points", []) if 0 < p["dataKiBps"] < NO_POINT]
    levels = {}
    for name, lo, hi in level_bands(caches):
        inside = [p for p in points if lo < p["blockBytes"] <= hi]
        if inside:
            levels[name] = {"mbps": statistics.median(kibps_to_mbps(p["dataKiBps"])
                                                      for p in inside),
                            "points": len(inside), "from": inside[0]["blockBytes"],
                            "to": inside[-1]["blockBytes"]}
    figures = {"levels": levels, "widthBits": read_width_bits(c) if c else None}
    for key, speed in (("l2Speed", "l2Speed"), ("l3Speed", "l3Speed"), ("ramField", "ramSpeed")):
        kibps = figure(c, speed, "kibps")
        figures[key] = kibps_to_mbps(kibps) if kibps is not None else None
    ram = report.get("ram") or {}
    for kind in ("read", "write", "writeMmx"):
        linear = {}
        for block in RAM_BLOCKS:
            curve = (ram.get(kind) or {}).get(block)
            if curve and len(curve) > RAM_LINEAR_ENTRY and 0 < curve[RAM_LINEAR_ENTRY] < NO_POINT:
                linear[block] = kibps_to_mbps(curve[RAM_LINEAR_ENTRY])
        figures[kind + "Linear"] = linear
    figures["sizes"] = {key: figure(c, key, "bytes") for key in SIZE_FIGURES}
    figures["cpuidCaches"] = cpuid_caches(report)
    figures["seconds"] = report.get("seconds", {})
    return figures


# The derived sizes of the Cache Speed page, as the report's cache.figures names them.
SIZE_FIGURES = ("icache", "dcache", "l2", "l3", "l2Line", "ramLine")


CPUID_TYPES = {"data": "Data", "instruction": "Instruction", "unified": "Unified"}


def listed_by_system(caches, source):
    """The caches the operating system listed: `caches` unless `source` says they came from
    CPUID because the system listed none."""
    return [] if (source or "").startswith("CPUID") else caches


def cpuid_caches(report):
    """The caches CPUID describes (the report's processor.caches) in the operating system's
    form; levels of unknown type or size left out."""
    out = []
    for c in (report.get("processor") or {}).get("caches") or []:
        kind = CPUID_TYPES.get(c.get("type"))
        if kind and c.get("sizeBytes"):
            out.append(cache(c.get("level"), kind, c["sizeBytes"], c.get("lineBytes") or None))
    return sort_caches(out)
