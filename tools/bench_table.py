"""The comparison `make bench` prints and writes: Vardelo's figures beside likwid-bench's, level
by level, over several interleaved rounds; the derived sizes beside the operating system's; how
long each phase took. The Markdown it renders is the README's table as it stands, so refreshing
the README after a new run is a paste (or `tools/bench --readme`)."""

import re
import statistics

from bench_core import RAM_BLOCKS, STORE_KERNEL, cache_name, data_caches, kib_label, size_label
from vardelo_facts import FACTS

README_BEGIN = "<!-- bench table: written by tools/bench --readme -->"
README_END = "<!-- end of bench table -->"


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def spread(values):
    """max/min over the rounds that gave a figure; None when none did."""
    values = [v for v in values if v is not None]
    if not values or min(values) <= 0:
        return None
    return max(values) / min(values)


def ratio(ours, theirs):
    if ours is None or not theirs:
        return None
    return ours / theirs


def comparison_rows(rounds, runs, caches, builds):
    """One row per figure compared: what ours is; per build of Vardelo (builds: their names) its
    value in each round, median, spread and ratio to the peer; which likwid-bench run it stands
    beside and that run's value in each round, median and spread. rounds: [{"ours": {build:
    figures from ours_from_report}, "theirs": {run name: parsed run}}]; a peer that did not run
    leaves theirs empty and every ratio None."""
    by_name = {r["name"]: r for r in runs}
    rows = []

    def add(level, what, ours_of, run_name):
        theirs = [rd["theirs"].get(run_name, {}).get("mbps") for rd in rounds]
        theirs_median = median(theirs)
        r = by_name[run_name]
        row = {"level": level, "ours": what, "builds": {}, "theirs": "%s %s" % (r["kernel"],
                                                                               r["size"]),
               "theirsRounds": theirs, "theirsMedian": theirs_median,
               "theirsSpread": spread(theirs)}
        for build in builds:
            ours = [ours_of(rd["ours"][build]) if build in rd["ours"] else None for rd in rounds]
            row["builds"][build] = {"rounds": ours, "median": median(ours),
                                    "spread": spread(ours),
                                    "ratio": ratio(median(ours), theirs_median)}
        rows.append(row)

    for c in data_caches(caches):
        name = cache_name(c)
        level = "%s (%s)" % (name, size_label(c["size"]))
        bands = [rd["ours"][b]["levels"].get(name) for rd in rounds for b in builds
                 if b in rd["ours"]]
        band = next((b for b in bands if b), None)
        what = ("data curve %s–%s, %d points" % (size_label(band["from"]), size_label(band["to"]),
                                                 band["points"])
                if band else "data curve: no point inside")
        add(level, what, lambda o, n=name: (o["levels"].get(n) or {}).get("mbps"), name)
        if name == "L2":
            add(level, "L2 speed field", lambda o: o.get("l2Speed"), name)
        if name == "L3":
            add(level, "L3 speed field", lambda o: o.get("l3Speed"), name)
    add("RAM read", "RAM speed field (%d)" % FACTS.FIELD_RAM_SPEED, lambda o: o.get("ramField"),
        "RAM")
    for block in RAM_BLOCKS:
        add("RAM read", "Read RAM, block %s, linear" % block,
            lambda o, b=block: o["readLinear"].get(b), "RAM")
    for block in RAM_BLOCKS:
        add("RAM write", "Write RAM streaming, block %s, linear" % block,
            lambda o, b=block: o["writeLinear"].get(b), "RAM write")
    return rows


def find_cache(caches, kinds, level):
    return next((c for c in caches if c["level"] == level and c["type"] in kinds), None)


def derived_size_rows(rounds, caches, builds):
    """The sizes each build of Vardelo derived, round by round, beside the operating system's
    (`caches`: empty where it lists none, shown "?") and CPUID's (as the first report that lists
    CPUID's caches gives them)."""
    cpuid = next((rd["ours"][b]["cpuidCaches"] for rd in rounds for b in builds
                  if b in rd["ours"] and rd["ours"][b].get("cpuidCaches")), [])

    def truths(kinds, level, what="size"):
        found = [find_cache(cs, kinds, level) for cs in (caches, cpuid)]
        return [c and c[what] for c in found]

    def ram_lines():
        out = []
        for cs in (caches, cpuid):
            lines = [c["line"] for c in data_caches(cs) if c["line"]]
            out.append(lines[-1] if lines else None)
        return out

    figures = (("I-cache size", FACTS.FIELD_ICACHE_SIZE, "icache",
                truths(("Instruction",), 1), kib_label),
               ("D-cache size", FACTS.FIELD_DCACHE_SIZE, "dcache", truths(("Data",), 1),
                kib_label),
               ("L2 size", FACTS.FIELD_L2_SIZE, "l2", truths(("Unified", "Data"), 2), kib_label),
               ("L3 size", FACTS.FIELD_L3_SIZE, "l3", truths(("Unified", "Data"), 3), size_label),
               ("L2 line", FACTS.FIELD_L2_LINE, "l2Line", truths(("Unified", "Data"), 2, "line"),
                str),
               ("RAM line", FACTS.FIELD_RAM_LINE, "ramLine", ram_lines(), str))
    rows = []
    for name, field, key, (os_value, cpuid_value), show in figures:
        got = {b: [rd["ours"][b]["sizes"].get(key) if b in rd["ours"] else None
                   for rd in rounds] for b in builds}
        rows.append({"figure": "%s (%d)" % (name, field), "os": os_value, "cpuid": cpuid_value,
                     "rounds": got, "osText": show(os_value) if os_value else "?",
                     "cpuidText": show(cpuid_value) if cpuid_value else "?",
                     "roundTexts": {b: [show(v) if v else "–" for v in got[b]] for b in builds}})
    return rows


PHASES = (("dataSweep", "data sweep"), ("probesAndFillSearch", "line probes, fill search"),
          ("codeSweep", "code sweep"), ("readPass", "Read RAM pass"),
          ("writePass", "Write RAM pass"))


def phase_rows(rounds, builds):
    """(title, seconds per round) of each build's phases and whole run, then the peer's runs;
    with two builds each title names its build."""
    rows = []
    for build in builds:
        tag = " (%s)" % build["label"] if len(builds) > 1 else ""
        name = build["name"]
        for key, title in PHASES:
            rows.append((title + tag, [rd["ours"][name]["seconds"].get(key)
                                       if name in rd["ours"] else None for rd in rounds]))
        rows.append(("%s, whole run" % build["program"],
                     [(rd.get("oursWall") or {}).get(name) for rd in rounds]))
    rows.append(("likwid-bench, all runs", [rd.get("theirsWall") for rd in rounds]))
    return rows


def mbps_text(v):
    return "–" if v is None else "{:,.0f}".format(v)


def factor_text(v):
    return "–" if v is None else "%.2f" % v


def markdown(summary):
    """The tables as Markdown: the comparison (a column pair and a ratio per build), the derived
    sizes, the phases. With one build its columns carry no build name."""
    n = len(summary["rounds"])
    builds = summary["builds"]
    tags = [b["label"] + " " if len(builds) > 1 else "" for b in builds]
    out = [summary["heading"], ""]
    ratios = " | ".join("%s / theirs" % (b["label"] if len(builds) > 1 else "ours")
                        for b in builds)
    out.append("| Level | Vardelo | %s | likwid-bench | MB/s | spread | %s |" % (
        " | ".join("%sMB/s | spread" % t for t in tags), ratios))
    out.append("|---|---|%s---|--:|--:|%s" % ("--:|--:|" * len(builds), "--:|" * len(builds)))
    for r in summary["rows"]:
        ours = [r["builds"][b["name"]] for b in builds]
        out.append("| %s | %s | %s | %s | %s | %s | %s |" % (
            r["level"], r["ours"],
            " | ".join("%s | %s" % (mbps_text(o["median"]), factor_text(o["spread"]))
                       for o in ours),
            r["theirs"], mbps_text(r["theirsMedian"]), factor_text(r["theirsSpread"]),
            " | ".join(factor_text(o["ratio"]) for o in ours)))
    out.append("")
    rounds = " | ".join("%sround %d" % (t, i + 1) for t in tags for i in range(n))
    out.append("| Derived by Vardelo | operating system | CPUID | %s |" % rounds)
    out.append("|---|--:|--:|%s" % ("--:|" * n * len(builds)))
    for r in summary["sizes"]:
        out.append("| %s | %s | %s | %s |" % (
            r["figure"], r["osText"], r["cpuidText"],
            " | ".join(t for b in builds for t in r["roundTexts"][b["name"]])))
    out.append("")
    rounds = " | ".join("round %d" % (i + 1) for i in range(n))
    out.append("| Phase, seconds | %s |" % rounds)
    out.append("|---|%s" % ("--:|" * n))
    for title, values in summary["phases"]:
        cells = " | ".join("–" if v is None else "%.1f" % v for v in values)
        out.append("| %s | %s |" % (title, cells))
    out.append("")
    out.append(summary["footer"])
    return "\n".join(out) + "\n"


def heading(machine, date, width_bits, kernel, note, rounds, builds, peer_missing=None):
    """The paragraph above the tables: machine, date, rounds, units, the builds of Vardelo
    measured, the peer's kernels or why the peer did not run, and any note."""
    programs = " and ".join("%s (%s)" % (b["program"], b["label"]) if len(builds) > 1
                            else b["program"] for b in builds)
    text = ("%s, %s. Medians of %d interleaved rounds; MB/s = 10^6 bytes/s; spread = max/min over "
            "the rounds. Vardelo: %s, which chose %s-bit loads; " % (
                machine, date, rounds, programs, width_bits or "?"))
    if peer_missing:
        text += ("likwid-bench could not run on this processor (%s), so Vardelo's figures stand "
                 "alone and its derived sizes beside the operating system's and CPUID's." %
                 peer_missing)
    else:
        text += ("likwid-bench reads with `%s` and writes with `%s` (streaming stores), one "
                 "thread pinned to processor 0." % (kernel, STORE_KERNEL))
    if note:
        text += " " + note + "."
    return text


def replace_readme_block(readme, block):
    """The README with the text between the bench markers replaced by block; ValueError when
    the markers are missing or out of order."""
    pattern = re.compile(re.escape(README_BEGIN) + r"\n.*?" + re.escape(README_END), re.DOTALL)
    if not pattern.search(readme):
        raise ValueError("the README has no bench table markers")
    return pattern.sub(lambda _: README_BEGIN + "\n" + block.rstrip("\n") + "\n" + README_END,
                       readme, count=1)
