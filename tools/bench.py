"""`make bench`: Vardelo's figures beside likwid-bench's on this machine (tools/bench prepares
the machine and calls this).

    bench.py [--build DIR] [--rounds N]   measure: N rounds of vardelo-report.exe and the
                                          likwid-bench runs, interleaved; then summarise
    bench.py --again                      summarise the last measurement's raw files again
    bench.py --readme                     put the last table into README.md and its picture
                                          into docs/bench/

Raw files, the tables (bench.md, the README's table as it stands) and the figures (bench.json)
go to DIR/bench. A benchmark, not a test: no ratio makes it fail; only a run that cannot be
made or read does.
"""

import argparse
import datetime
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bench_core as core  # noqa: E402
import bench_plot as plot  # noqa: E402
import bench_table as table  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SYSFS_CACHE = "/sys/devices/system/cpu/cpu0/cache"  # processor 0's, where both programs run
REPORT_TIMEOUT_S = 3600  # only against a hang: a loaded machine slows a cycle many times
LIKWID_TIMEOUT_S = 300
# The report's progress lines worth showing: the end of the cache sweep and each RAM curve.
PROGRESS_SHOWN = ("cache sweep done", "read pass", "write pass", "MMX write pass",
                  "RAM passes done", "warning")


def say(text):
    print("bench: " + text, file=sys.stderr, flush=True)


def read_text(path, default=""):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return default


def os_caches():
    """The caches of processor 0 from sysfs, else from `lscpu -C`."""
    caches = core.read_sysfs_caches(SYSFS_CACHE)
    if caches:
        return caches, "sysfs"
    out = subprocess.run(["lscpu", "-C"], capture_output=True, text=True).stdout
    return core.parse_lscpu_caches(out), "lscpu -C"


def cpu_flags():
    for line in read_text("/proc/cpuinfo").splitlines():
        if line.startswith("flags"):
            return set(line.split(":", 1)[1].split())
    return set()


def machine_name():
    """"AMD EPYC, family 25 model 1, KVM guest, 2 vCPUs" from /proc/cpuinfo and lscpu."""
    info = {}
    for line in read_text("/proc/cpuinfo").splitlines():
        key, _, value = line.partition(":")
        info.setdefault(key.strip(), value.strip())
    lscpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    hypervisor = next((l.split(":", 1)[1].strip() for l in lscpu.splitlines()
                       if l.startswith("Hypervisor vendor")), "")
    parts = [info.get("model name", "unknown processor"),
             "family %s model %s" % (info.get("cpu family", "?"), info.get("model", "?"))]
    if hypervisor:
        parts.append("%s guest" % hypervisor)
    parts.append("%d %s" % (os.cpu_count(), "vCPUs" if hypervisor else "CPUs"))
    return ", ".join(parts)


def run_report(exe, out_dir, n):
    """One whole vardelo-report.exe cycle on processor 0; the report's path and wall time."""
    started = time.monotonic()
    log_path = os.path.join(out_dir, "report-%d.log" % n)
    with open(log_path, "wb") as log, tempfile.TemporaryFile() as out:
        child = subprocess.Popen(["taskset", "-c", "0", os.path.join(TOP, "tools", "wine-run"),
                                  exe], stdout=out, stderr=subprocess.PIPE)
        watchdog = threading.Timer(REPORT_TIMEOUT_S, child.kill)
        watchdog.start()
        # Its progress goes to the log whole, and the start of each phase to the terminal.
        for line in child.stderr:
            log.write(line)
            text = line.decode("utf-8", "replace").strip()
            if text.startswith(PROGRESS_SHOWN):
                say("round %d: vardelo-report.exe: %s" % (n, text))
        rc = child.wait()
        watchdog.cancel()
        out.seek(0)
        raw = out.read()
    wall = time.monotonic() - started
    if rc != 0:
        raise RuntimeError("vardelo-report.exe ended with %d after %.0f s (see %s)" %
                           (rc, wall, log_path))
    path = os.path.join(out_dir, "report-%d.json" % n)
    with open(path, "w", encoding="utf-8") as f:
        f.write(core.decode_report(raw))
    return path, wall


def run_likwid(run, out_dir, n):
    started = time.monotonic()
    done = subprocess.run(core.likwid_command(run), capture_output=True, text=True,
                          timeout=LIKWID_TIMEOUT_S, cwd=out_dir)
    wall = time.monotonic() - started
    name = "likwid-%d-%s-%s.txt" % (n, run["kernel"], run["size"])
    with open(os.path.join(out_dir, name), "w", encoding="utf-8") as f:
        f.write(done.stdout + done.stderr)
    core.parse_likwid(done.stdout)  # a run without a speed stops the bench here
    return name, wall


def load_average():
    return float(read_text("/proc/loadavg", "0").split()[0])


def measure(args, out_dir):
    exe = os.path.join(args.build, "target", "vardelo-report.exe")
    if not os.path.isfile(exe):
        raise RuntimeError("missing %s: build the target first" % exe)
    for pattern in ("report-*", "likwid-*", "runs.json", "bench.*"):
        for old in glob.glob(os.path.join(out_dir, pattern)):
            os.remove(old)
    caches, source = os_caches()
    flags = cpu_flags()
    meta = {"machine": machine_name(), "date": datetime.date.today().isoformat(),
            "caches": caches, "cacheSource": source, "loadAverage": [load_average()],
            "rounds": []}
    if meta["loadAverage"][0] >= 1.0:
        say("the machine is busy (load average %.1f): both programs share processor 0 with "
            "whatever else runs there, so expect low figures, wide spreads and long rounds"
            % meta["loadAverage"][0])
    say("caches (%s): %s" % (source, ", ".join("%s %s" % (core.cache_name(c),
                                                          core.size_label(c["size"]))
                                                for c in caches)))
    started = time.monotonic()
    runs = None
    for n in range(1, args.rounds + 1):
        say("round %d of %d: vardelo-report.exe (a whole cycle, a few minutes)" % (n, args.rounds))
        path, wall = run_report(exe, out_dir, n)
        rd = {"report": os.path.basename(path), "oursWall": wall, "likwid": {}}
        if runs is None:
            with open(path, encoding="utf-8") as f:
                width = core.read_width_bits(json.load(f).get("cache") or {})
            runs, note = core.plan_runs(caches, width, flags)
            meta.update(widthBits=width, runs=runs, note=note)
        t = time.monotonic()
        for run in runs:
            say("round %d of %d: likwid-bench -t %s -w S0:%s:1" % (n, args.rounds, run["kernel"],
                                                                  run["size"]))
            rd["likwid"][run["name"]], _ = run_likwid(run, out_dir, n)
        rd["theirsWall"] = time.monotonic() - t
        meta["rounds"].append(rd)
    meta["seconds"] = time.monotonic() - started
    meta["loadAverage"].append(load_average())
    with open(os.path.join(out_dir, "runs.json"), "w", encoding="utf-8") as f:
        json.dump(meta, f, indent=1)


def summarise(out_dir):
    """Tables, figures and picture from the raw files of the last measurement."""
    with open(os.path.join(out_dir, "runs.json"), encoding="utf-8") as f:
        meta = json.load(f)
    caches, runs = meta["caches"], meta["runs"]
    rounds, reports = [], []
    for rd in meta["rounds"]:
        with open(os.path.join(out_dir, rd["report"]), encoding="utf-8") as f:
            report = json.load(f)
        reports.append(report)
        theirs = {}
        for name, file in rd["likwid"].items():
            with open(os.path.join(out_dir, file), encoding="utf-8") as f:
                theirs[name] = core.parse_likwid(f.read())
        rounds.append({"ours": core.ours_from_report(report, caches), "theirs": theirs,
                       "oursWall": rd["oursWall"], "theirsWall": rd["theirsWall"]})
    kernel = next(r["kernel"] for r in runs if r["name"] == "RAM")
    widths = sorted({rd["ours"]["widthBits"] for rd in rounds if rd["ours"]["widthBits"]})
    note = meta.get("note", "")
    if len(widths) > 1:
        differed = "Vardelo's load width differed between rounds: %s" % (
            ", ".join("%d-bit" % w for w in widths))
        note = note + "; " + differed if note else differed
    summary = {
        "heading": table.heading(meta["machine"], meta["date"], meta["widthBits"], kernel, note,
                                 len(rounds)),
        "rows": table.comparison_rows(rounds, runs, caches),
        "sizes": table.derived_size_rows(rounds, caches),
        "phases": table.phase_rows(rounds),
        "footer": ("Whole bench %.1f minutes; load average (1 min) %.1f at the start, %.1f at the "
                   "end." % (meta["seconds"] / 60, meta["loadAverage"][0],
                             meta["loadAverage"][-1])),
        "rounds": rounds,
        "peerPoints": [{"name": r["name"], "values": [rd["theirs"][r["name"]]["mbps"]
                                                      for rd in rounds]} for r in runs],
        "oursRam": {"read": [rd["ours"]["ramField"] for rd in rounds],
                    "write": [table.median(list(rd["ours"]["writeLinear"].values()))
                              for rd in rounds]},
        "subtitle": "%s; %s; %s-bit loads" % (meta["machine"], meta["date"],
                                               meta["widthBits"] or "?"),
    }
    text = table.markdown(summary)
    with open(os.path.join(out_dir, "bench.md"), "w", encoding="utf-8") as f:
        f.write(text)
    figures = {k: meta[k] for k in ("machine", "date", "caches", "cacheSource", "widthBits",
                                    "runs", "note", "seconds", "loadAverage")}
    figures.update(unit="MB/s (10^6 bytes per second)", rows=summary["rows"],
                   sizes=summary["sizes"], phases=summary["phases"],
                   rounds=[{k: rd[k] for k in ("ours", "theirs", "oursWall", "theirsWall")}
                           for rd in rounds])
    with open(os.path.join(out_dir, "bench.json"), "w", encoding="utf-8") as f:
        json.dump(figures, f, indent=1)
    plot.render(plot.mvg(summary, reports, caches, runs), os.path.join(out_dir, "bench.png"))
    print(text)
    say("wrote %s/bench.md, bench.json, bench.png" % out_dir)


def update_readme(out_dir):
    with open(os.path.join(out_dir, "bench.md"), encoding="utf-8") as f:
        block = f.read()
    path = os.path.join(TOP, "README.md")
    with open(path, encoding="utf-8") as f:
        readme = f.read()
    with open(path, "w", encoding="utf-8") as f:
        f.write(table.replace_readme_block(readme, block))
    os.makedirs(os.path.join(TOP, "docs", "bench"), exist_ok=True)
    shutil.copyfile(os.path.join(out_dir, "bench.png"), os.path.join(TOP, "docs", "bench",
                                                                     "bench.png"))
    say("README.md's table and docs/bench/bench.png now show the run of %s" % out_dir)


def main(argv):
    p = argparse.ArgumentParser(description="Vardelo beside likwid-bench")
    p.add_argument("--build", default=os.path.join(TOP, "build"))
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--again", action="store_true", help="summarise the last raw files again")
    p.add_argument("--readme", action="store_true", help="put the last table into README.md")
    args = p.parse_args(argv)
    args.build = os.path.abspath(args.build)
    out_dir = os.path.join(args.build, "bench")
    os.makedirs(out_dir, exist_ok=True)
    try:
        if args.readme:
            update_readme(out_dir)
            return 0
        if not args.again:
            measure(args, out_dir)
        summarise(out_dir)
    except (RuntimeError, ValueError, OSError, subprocess.SubprocessError) as e:
        say("stopped: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
