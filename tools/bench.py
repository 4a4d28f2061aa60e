"""`make bench`: Vardelo's figures beside likwid-bench's on this machine (tools/bench prepares
the machine and calls this).

    bench.py [--build DIR] [--rounds N] [--kind native|emulated]
                              measure: N rounds of Vardelo's reports and the likwid-bench runs,
                              interleaved; then summarise. Where 32-bit code runs natively both
                              vardelo-report.exe (under Wine) and the native x86-64 build run,
                              where it runs emulated the native build alone
    bench.py --again          summarise the last measurement's raw files again
    bench.py --readme         put the last table into README.md and its picture into docs/bench/

Raw files, the tables (bench.md, the README's table as it stands) and the figures (bench.json)
go to DIR/bench. Where likwid-bench cannot run on this processor, the tables hold Vardelo's
figures alone, its derived sizes beside the operating system's and CPUID's. A benchmark, not a
test: no ratio makes it fail; only a run that cannot be made or read does.
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


def run_report(program, out_dir, n):
    """One whole report cycle of one build on processor 0; the report's file name and wall
    time."""
    name = program["name"]
    shown = os.path.basename(program["path"])
    stem = "report-%d" % n if name == "exe" else "report-%s-%d" % (name, n)
    started = time.monotonic()
    log_path = os.path.join(out_dir, stem + ".log")
    with open(log_path, "wb") as log, tempfile.TemporaryFile() as out:
        child = subprocess.Popen(core.report_command(program, TOP), stdout=out,
                                 stderr=subprocess.PIPE)
        watchdog = threading.Timer(REPORT_TIMEOUT_S, child.kill)
        watchdog.start()
        # Its progress goes to the log whole, and the start of each phase to the terminal.
        for line in child.stderr:
            log.write(line)
            text = line.decode("utf-8", "replace").strip()
            if text.startswith(PROGRESS_SHOWN):
                say("round %d: %s: %s" % (n, shown, text))
        rc = child.wait()
        watchdog.cancel()
        out.seek(0)
        raw = out.read()
    wall = time.monotonic() - started
    if rc != 0:
        raise RuntimeError("%s ended with %d after %.0f s (see %s)" % (shown, rc, wall, log_path))
    with open(os.path.join(out_dir, stem + ".json"), "w", encoding="utf-8") as f:
        f.write(core.decode_report(raw))
    return stem + ".json", wall


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


def peer_missing_reason():
    """Why likwid-bench cannot run here, or None when it can: missing, or failing on a small
    read in the first cache."""
    if not shutil.which("likwid-bench"):
        return "likwid-bench is not installed"
    try:
        done = subprocess.run(core.likwid_command({"kernel": "load", "size": "16kB"}),
                              capture_output=True, text=True, timeout=LIKWID_TIMEOUT_S)
    except (OSError, subprocess.SubprocessError) as e:
        return str(e)
    try:
        core.parse_likwid(done.stdout)
    except ValueError:
        lines = (done.stdout + done.stderr).strip().splitlines()
        return "it ended with %d: %s" % (done.returncode, lines[-1] if lines else "no output")
    return None


def measure(args, out_dir):
    programs = core.report_programs(args.kind, args.build)
    for program in programs:
        if not os.path.isfile(program["path"]):
            raise RuntimeError("missing %s: build it first" % program["path"])
    for pattern in ("report-*", "likwid-*", "runs.json", "bench.*"):
        for old in glob.glob(os.path.join(out_dir, pattern)):
            os.remove(old)
    caches, source = os_caches()
    flags = cpu_flags()
    meta = {"machine": machine_name(), "date": datetime.date.today().isoformat(),
            "caches": caches, "cacheSource": source, "loadAverage": [load_average()],
            "builds": programs, "peerMissing": peer_missing_reason(), "rounds": []}
    if args.kind != "native":
        say("this machine runs 32-bit x86 code emulated: measuring with the native build only, "
            "whose figures are the processor's")
    if meta["peerMissing"]:
        say("likwid-bench cannot run on this processor (%s): Vardelo's figures alone, its "
            "derived sizes beside the operating system's and CPUID's" % meta["peerMissing"])
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
        rd = {"reports": {}, "oursWall": {}, "likwid": {}, "theirsWall": None}
        for program in programs:
            say("round %d of %d: %s (a whole cycle, a few minutes)" % (
                n, args.rounds, os.path.basename(program["path"])))
            file, rd["oursWall"][program["name"]] = run_report(program, out_dir, n)
            rd["reports"][program["name"]] = file
            if runs is None:
                with open(os.path.join(out_dir, file), encoding="utf-8") as f:
                    report = json.load(f)
                width = core.read_width_bits(report.get("cache") or {})
                if not caches:
                    # Some virtual machines list no caches in sysfs: the levels to measure the
                    # peer in are then the ones CPUID describes.
                    caches = core.cpuid_caches(report)
                    meta.update(caches=caches, cacheSource="CPUID (the system lists none)")
                    say("the system lists no caches; CPUID's: %s" % ", ".join(
                        "%s %s" % (core.cache_name(c), core.size_label(c["size"])) for c in caches))
                runs, note = core.plan_runs(caches, width, flags)
                meta.update(widthBits=width, runs=runs, note=note)
        if not meta["peerMissing"]:
            t = time.monotonic()
            for run in runs:
                say("round %d of %d: likwid-bench -t %s -w S0:%s:1" % (
                    n, args.rounds, run["kernel"], run["size"]))
                rd["likwid"][run["name"]], _ = run_likwid(run, out_dir, n)
            rd["theirsWall"] = time.monotonic() - t
        meta["rounds"].append(rd)
    meta["seconds"] = time.monotonic() - started
    meta["loadAverage"].append(load_average())
    with open(os.path.join(out_dir, "runs.json"), "w", encoding="utf-8") as f:
        json.dump(meta, f, indent=1)


def read_meta(out_dir):
    """runs.json, with a measurement of the 32-bit report alone from before builds were named
    read as one of build exe."""
    with open(os.path.join(out_dir, "runs.json"), encoding="utf-8") as f:
        meta = json.load(f)
    if "builds" not in meta:
        meta["builds"] = core.report_programs("native", "")[:1]
        for rd in meta["rounds"]:
            rd["reports"] = {"exe": rd.pop("report")}
            rd["oursWall"] = {"exe": rd["oursWall"]}
    return meta


def summarise(out_dir):
    """Tables, figures and picture from the raw files of the last measurement."""
    meta = read_meta(out_dir)
    caches, runs, builds = meta["caches"], meta["runs"], meta["builds"]
    names = [b["name"] for b in builds]
    rounds, reports = [], {name: [] for name in names}
    for rd in meta["rounds"]:
        ours = {}
        for name, file in rd["reports"].items():
            with open(os.path.join(out_dir, file), encoding="utf-8") as f:
                report = json.load(f)
            reports[name].append(report)
            ours[name] = core.ours_from_report(report, caches)
        theirs = {}
        for name, file in rd["likwid"].items():
            with open(os.path.join(out_dir, file), encoding="utf-8") as f:
                theirs[name] = core.parse_likwid(f.read())
        rounds.append({"ours": ours, "theirs": theirs, "oursWall": rd["oursWall"],
                       "theirsWall": rd["theirsWall"]})
    kernel = next(r["kernel"] for r in runs if r["name"] == "RAM")
    widths = sorted({o["widthBits"] for rd in rounds for o in rd["ours"].values()
                     if o["widthBits"]})
    note = meta.get("note", "")
    if len(widths) > 1:
        differed = "Vardelo's load width differed between rounds or builds: %s" % (
            ", ".join("%d-bit" % w for w in widths))
        note = note + "; " + differed if note else differed
    first = names[0]
    peer_missing = meta.get("peerMissing")
    summary = {
        "heading": table.heading(meta["machine"], meta["date"], meta["widthBits"], kernel, note,
                                 len(rounds), builds, peer_missing),
        "builds": builds,
        "rows": table.comparison_rows(rounds, runs, caches, names),
        "sizes": table.derived_size_rows(
            rounds, core.listed_by_system(caches, meta.get("cacheSource")), names),
        "phases": table.phase_rows(rounds, builds),
        "footer": ("Whole bench %.1f minutes; load average (1 min) %.1f at the start, %.1f at the "
                   "end." % (meta["seconds"] / 60, meta["loadAverage"][0],
                             meta["loadAverage"][-1])),
        "rounds": rounds,
        "peerPoints": [{"name": r["name"], "values": [rd["theirs"].get(r["name"], {}).get("mbps")
                                                      for rd in rounds]} for r in runs],
        "oursRam": {"read": [rd["ours"][first]["ramField"] for rd in rounds],
                    "write": [table.median(list(rd["ours"][first]["writeLinear"].values()))
                              for rd in rounds]},
        "subtitle": "%s; %s; %s-bit loads" % (meta["machine"], meta["date"],
                                               meta["widthBits"] or "?"),
    }
    if peer_missing:
        summary["title"] = "Vardelo on this processor (likwid-bench could not run here)"
    text = table.markdown(summary)
    with open(os.path.join(out_dir, "bench.md"), "w", encoding="utf-8") as f:
        f.write(text)
    figures = {k: meta.get(k) for k in ("machine", "date", "caches", "cacheSource", "widthBits",
                                        "runs", "note", "seconds", "loadAverage", "builds",
                                        "peerMissing")}
    figures.update(unit="MB/s (10^6 bytes per second)", rows=summary["rows"],
                   sizes=summary["sizes"], phases=summary["phases"],
                   rounds=[{k: rd[k] for k in ("ours", "theirs", "oursWall", "theirsWall")}
                           for rd in rounds])
    with open(os.path.join(out_dir, "bench.json"), "w", encoding="utf-8") as f:
        json.dump(figures, f, indent=1)
    label = builds[0]["label"] if len(builds) > 1 else ""
    other = (builds[1]["label"], reports[names[1]]) if len(builds) > 1 else None
    plot.render(plot.mvg(summary, reports[first], caches, runs, label, other),
                os.path.join(out_dir, "bench.png"))
    print(text)
    if peer_missing:
        say("likwid-bench could not run on this processor (%s): the tables hold Vardelo's "
            "figures alone" % peer_missing)
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
    p.add_argument("--kind", choices=("native", "emulated"), default="native",
                   help="how this machine runs 32-bit code (tools/setup --kind)")
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
