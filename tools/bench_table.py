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


def comparison_rows(rounds, runs, caches):
    """One row per figure compared: what ours is, its value in each round, which likwid-bench
    run it stands beside and that run's value in each round, then medians, spreads, ratio.
    rounds: [{"ours": figures from ours_from_report, "theirs": {run name: parsed run}}]."""
    by_name = {r["name"]: r for r in runs}

    def theirs_of(name):
        return [rd["theirs"].get(name, {}).get("mbps") for rd in rounds]

    def peer(name):
        r = by_name[name]
        return "%s %s" % (r["kernel"], r["size"])

    rows = []

    def add(level, what, ours, run_name):
        theirs = theirs_of(run_name)
        ours_median, theirs_median = median(ours), median(theirs)
        rows.append({"level": level, "ours": what, "oursRounds": ours, "oursMedian": ours_median,
                     "oursSpread": spread(ours), "theirs": peer(run_name),
                     "theirsRounds": theirs, "theirsMedian": theirs_median,
                     "theirsSpread": spread(theirs), "ratio": ratio(ours_median, theirs_median)})

    for c in data_caches(caches):
        name = cache_name(c)
        level = "%s (%s)" % (name, size_label(c["size"]))
        bands = [rd["ours"]["levels"].get(name) for rd in rounds]
        band = next((b for b in bands if b), None)
        what = ("data curve %s–%s, %d points" % (size_label(band["from"]), size_label(band["to"]),
                                                 band["points"])
                if band else "data curve: no point inside")
        add(level, what, [b["mbps"] if b else None for b in bands], name)
        if name == "L2":
            add(level, "L2 speed field", [rd["ours"].get("l2Speed") for rd in rounds], name)
    add("RAM read", "RAM speed field (%d)" % FACTS.FIELD_RAM_SPEED,
        [rd["ours"].get("ramField") for rd in rounds], "RAM")
    for block in RAM_BLOCKS:
        add("RAM read", "Read RAM, block %s, linear" % block,
            [rd["ours"]["readLinear"].get(block) for rd in rounds], "RAM")
    for block in RAM_BLOCKS:
        add("RAM write", "Write RAM streaming, block %s, linear" % block,
            [rd["ours"]["writeLinear"].get(block) for rd in rounds], "RAM write")
    return rows


def derived_size_rows(rounds, caches):
    """The sizes Vardelo derived, round by round, beside the operating system's."""
    def os_size(kind, level):
        for c in caches:
            if c["level"] == level and c["type"] in kind:
                return c
        return None

    l1i, l1d = os_size(("Instruction",), 1), os_size(("Data",), 1)
    l2 = os_size(("Unified", "Data"), 2)
    lines = [c["line"] for c in data_caches(caches) if c["line"]]
    line = lines[-1] if lines else None
    figures = (("I-cache size", FACTS.FIELD_ICACHE_SIZE, "icache", l1i and l1i["size"], kib_label),
               ("D-cache size", FACTS.FIELD_DCACHE_SIZE, "dcache", l1d and l1d["size"], kib_label),
               ("L2 size", FACTS.FIELD_L2_SIZE, "l2", l2 and l2["size"], kib_label),
               ("L2 line", FACTS.FIELD_L2_LINE, "l2Line", l2 and l2["line"], str),
               ("RAM line", FACTS.FIELD_RAM_LINE, "ramLine", line, str))
    rows = []
    for name, field, key, truth, show in figures:
        title = "%s (%d)" % (name, field)
        got = [rd["ours"]["sizes"].get(key) for rd in rounds]
        rows.append({"figure": title, "os": truth, "rounds": got,
                     "osText": show(truth) if truth else "?",
                     "roundTexts": [show(v) if v else "–" for v in got]})
    return rows


PHASES = (("dataSweep", "data sweep"), ("probesAndFillSearch", "line probes, fill search"),
          ("codeSweep", "code sweep"), ("readPass", "Read RAM pass"),
          ("writePass", "Write RAM pass"))


def phase_rows(rounds):
    rows = []
    for key, title in PHASES:
        rows.append((title, [rd["ours"]["seconds"].get(key) for rd in rounds]))
    rows.append(("vardelo-report.exe, whole run", [rd.get("oursWall") for rd in rounds]))
    rows.append(("likwid-bench, all runs", [rd.get("theirsWall") for rd in rounds]))
    return rows


def mbps_text(v):
    return "–" if v is None else "{:,.0f}".format(v)


def factor_text(v):
    return "–" if v is None else "%.2f" % v


def markdown(summary):
    """The tables as Markdown: the comparison, the derived sizes, the phases."""
    n = len(summary["rounds"])
    out = [summary["heading"], ""]
    out.append("| Level | Vardelo | MB/s | spread | likwid-bench | MB/s | spread | ours / theirs |")
    out.append("|---|---|--:|--:|---|--:|--:|--:|")
    for r in summary["rows"]:
        out.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r["level"], r["ours"], mbps_text(r["oursMedian"]), factor_text(r["oursSpread"]),
            r["theirs"], mbps_text(r["theirsMedian"]), factor_text(r["theirsSpread"]),
            factor_text(r["ratio"])))
    out.append("")
    rounds = " | ".join("round %d" % (i + 1) for i in range(n))
    out.append("| Derived by Vardelo | operating system | %s |" % rounds)
    out.append("|---|--:|%s" % ("--:|" * n))
    for r in summary["sizes"]:
        out.append("| %s | %s | %s |" % (r["figure"], r["osText"], " | ".join(r["roundTexts"])))
    out.append("")
    out.append("| Phase, seconds | %s |" % rounds)
    out.append("|---|%s" % ("--:|" * n))
    for title, values in summary["phases"]:
        cells = " | ".join("–" if v is None else "%.1f" % v for v in values)
        out.append("| %s | %s |" % (title, cells))
    out.append("")
    out.append(summary["footer"])
    return "\n".join(out) + "\n"


def heading(machine, date, width_bits, kernel, note, rounds):
    text = ("%s, %s. Medians of %d interleaved rounds; MB/s = 10^6 bytes/s; spread = max/min over "
            "the rounds. Vardelo chose %s-bit loads; likwid-bench reads with `%s` and writes with "
            "`%s` (streaming stores), one thread pinned to processor 0." % (
                machine, date, rounds, width_bits or "?", kernel, STORE_KERNEL))
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
