"""The parts of `make bench` that need no machine: reading likwid-bench's output and the cache
list, choosing the working sets and kernels, the units, Vardelo's figures out of a report, the
comparison and the README refresh. The likwid-bench and lscpu texts are real captures."""

import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

import bench_core as core  # noqa: E402
import bench_table as table  # noqa: E402

K, M, G = 1024, 1024 * 1024, 1024 * 1024 * 1024
DATA = os.path.join(HERE, "bench_data")


def data(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        return f.read()


def caches(*levels):
    """caches((1, "Data", 32*K), ...) with 64-byte lines."""
    return [core.cache(level, kind, size, 64) for level, kind, size in levels]


ZEN3 = caches((1, "Data", 32 * K), (1, "Instruction", 32 * K), (2, "Unified", 512 * K),
              (3, "Unified", 32 * M))
CORE2 = caches((1, "Data", 32 * K), (1, "Instruction", 32 * K), (2, "Unified", 4 * M))


class LikwidOutput(unittest.TestCase):
    def test_real_runs(self):
        for name, test, mbps, nbytes in (
                ("likwid-load_sse-16kB.txt", "load_sse", 32617.50, 16000),
                ("likwid-store_mem_sse-1074MB.txt", "store_mem_sse", 12787.94, 1074000000)):
            got = core.parse_likwid(data(name))
            self.assertEqual(got["test"], test, name)
            self.assertEqual(got["bytes"], nbytes, name)
            self.assertEqual(got["hwthread"], 0, name)
            self.assertGreater(got["seconds"], 0, name)
            self.assertEqual(got["mbps"], mbps, name)

    def test_a_run_without_a_speed_is_an_error(self):
        for text in (data("likwid-unknown-test.txt"), "", data("likwid-load_sse-16kB.txt")
                     .replace("MByte/s", "MFlops")):
            with self.assertRaises(ValueError):
                core.parse_likwid(text)


class CacheList(unittest.TestCase):
    def test_lscpu_in_both_size_forms_and_sysfs_agree(self):
        want = [(1, "Data", 32 * K, 64), (1, "Instruction", 32 * K, 64),
                (2, "Unified", 512 * K, 64), (3, "Unified", 32 * M, 64)]
        as_tuples = lambda cs: [(c["level"], c["type"], c["size"], c["line"]) for c in cs]
        self.assertEqual(as_tuples(core.parse_lscpu_caches(data("lscpu-C-zen3.txt"))), want)
        self.assertEqual(as_tuples(core.parse_lscpu_caches(data("lscpu-C-B-zen3.txt"))), want)
        with tempfile.TemporaryDirectory() as root:
            # sysfs lists the instruction cache before the data cache on some machines.
            for i, (level, kind, size) in enumerate(((1, "Instruction", "32K"), (1, "Data", "32K"),
                                                     (3, "Unified", "32768K"),
                                                     (2, "Unified", "512K"))):
                d = os.path.join(root, "index%d" % i)
                os.makedirs(d)
                for file, text in (("level", level), ("type", kind), ("size", size),
                                   ("coherency_line_size", 64)):
                    with open(os.path.join(d, file), "w") as f:
                        f.write("%s\n" % text)
            self.assertEqual(as_tuples(core.read_sysfs_caches(root)), want)
            os.remove(os.path.join(root, "index0", "size"))  # an unreadable level is left out
            self.assertEqual(as_tuples(core.read_sysfs_caches(root)), want[:1] + want[2:])

    def test_unreadable_lists(self):
        self.assertEqual(core.parse_lscpu_caches(""), [])
        self.assertEqual(core.parse_lscpu_caches("NAME SIZE\nL1d 32K\n"), [])
        self.assertEqual(core.parse_sysfs_caches([{"level": "1"}]), [])
        with self.assertRaises(ValueError):
            core.parse_size("lots")

    def test_sizes(self):
        for text, nbytes in (("32K", 32 * K), ("32768K", 32 * M), ("1M", M), ("1 MiB", M),
                             ("65536", 64 * K), ("2G", 2 * G)):
            self.assertEqual(core.parse_size(text), nbytes, text)
        for nbytes, text in ((32 * K, "32K"), (512 * K, "512K"), (32 * M, "32M"), (G, "1G"),
                             (4608, "4.5K"), (3968 * K, "3968K"), (8, "8")):
            self.assertEqual(core.size_label(nbytes), text, nbytes)


class Plan(unittest.TestCase):
    def plan(self, cs, width, flags=None):
        runs, note = core.plan_runs(cs, width, flags)
        return [(r["name"], r["kernel"], r["size"]) for r in runs], note

    def test_working_sets_half_of_each_level_and_main_memory(self):
        self.assertEqual(self.plan(ZEN3, 128), ([
            ("L1D", "load_sse", "16kB"), ("L2", "load_sse", "262kB"),
            ("L3", "load_sse", "1787kB"), ("RAM", "load_sse", "1074MB"),
            ("RAM write", "store_mem_sse", "1074MB")], ""))
        # No L3: three levels; main memory still at least 1 GiB.
        self.assertEqual([r[2] for r in self.plan(CORE2, 64)[0]], ["16kB", "2097kB", "1074MB",
                                                                    "1074MB"])
        # A 256 MiB cache: main memory at eight times it, rounded up. Its L3 run reads where the
        # sweep's blocks lie inside it, between 3 MiB and 3968 KiB.
        big = caches((1, "Data", 48 * K), (2, "Unified", 2 * M), (3, "Unified", 256 * M))
        self.assertEqual(self.plan(big, 256)[0][2:4], [("L3", "load_avx", "3575kB"),
                                                       ("RAM", "load_avx", "2148MB")])
        # An L3 whose half the sweep reaches keeps half; one that starts past the sweep's
        # largest block too (the sweep has no point inside it).
        small = caches((1, "Data", 32 * K), (2, "Unified", 512 * K), (3, "Unified", 4 * M))
        self.assertEqual(self.plan(small, 256)[0][2][2], "2097kB")
        past = caches((1, "Data", 32 * K), (2, "Unified", 4 * M), (3, "Unified", 64 * M))
        self.assertEqual(self.plan(past, 256)[0][2][2], "33554kB")
        # Nothing known about the caches: main memory alone.
        self.assertEqual([r[0] for r in self.plan([], 32)[0]], ["RAM", "RAM write"])

    def test_working_sets_fit_their_level(self):
        for nbytes in (16 * K, 256 * K, 16 * M, 48 * M):
            text, got = core.likwid_size(nbytes)
            self.assertLessEqual(got, nbytes, text)
        self.assertGreaterEqual(core.likwid_size(G, round_up=True)[1], G)

    def test_kernel_as_wide_as_the_loads(self):
        avx512 = {"sse2", "avx", "avx512f"}
        for width, kernel in ((32, "load"), (64, "load_sse"), (128, "load_sse"),
                              (256, "load_avx"), (512, "load_avx512"), (None, "load")):
            self.assertEqual(core.load_kernel(width, avx512), (kernel, ""), width)
        kernel, note = core.load_kernel(512, {"sse2", "avx"})
        self.assertEqual(kernel, "load_avx")
        self.assertIn("avx512f", note)

    def test_load_width_from_the_report(self):
        self.assertEqual(core.read_width_bits({"readMode": 2}), 128)
        self.assertEqual(core.read_width_bits({"readMode": 0}), 32)
        self.assertEqual(core.read_width_bits({"readMode": 3, "readWidthBits": 256}), 256)
        self.assertEqual(core.read_width_bits({"readMode": 2, "readWidthBits": 512}), 512)
        self.assertIsNone(core.read_width_bits({}))


class Units(unittest.TestCase):
    def test_conversions_to_mb_per_s(self):
        self.assertEqual(core.kibps_to_mbps(15625), 16.0)  # 16,000,000 B/s
        self.assertEqual(core.kibps_to_mbps(0), 0)

    def test_derived_figures(self):
        c = {"figures": {"dcache": {"bytes": 49152, "source": "latency"}, "icache": None,
                         "l2Line": {"bytes": 0, "source": "lineProbe"},
                         "ramSpeed": {"kibps": 55054, "source": "bandwidth"}}}
        for key, unit, value in (("dcache", "bytes", 48 * K), ("ramSpeed", "kibps", 55054),
                                 ("icache", "bytes", None), ("l2Line", "bytes", None),
                                 ("l2", "bytes", None), ("dcache", "kibps", None)):
            self.assertEqual(core.figure(c, key, unit), value, key)
        self.assertIsNone(core.figure({}, "dcache", "bytes"))


def report(data_kibps, ram_linear=None, width=None):
    """A report whose data curve is data_kibps(block bytes) over the real block sizes."""
    blocks = [max(4608, ((16 + i % 16) << (i // 16)) * 256) for i in range(160)]
    points = [{"blockBytes": b, "dataKiBps": data_kibps(b), "codeKiBps": 1000} for b in blocks]
    figures = {"icache": {"bytes": 16 * K, "source": "bandwidth"},
               "dcache": {"bytes": 2 * M, "source": "latency"}, "l2": None,
               "l2Line": {"bytes": 0, "source": "lineProbe"},
               "ramLine": {"bytes": 64, "source": "lineProbe"},
               "l2Speed": {"kibps": 62500, "source": "bandwidth"},
               "l3": {"bytes": 36 * M, "source": "latency"},
               "l3Speed": {"kibps": 31250, "source": "bandwidth"},
               "ramSpeed": {"kibps": 1024000, "source": "bandwidth"}}
    cache = {"readMode": 2, "points": points, "figures": figures}
    if width:
        cache["readWidthBits"] = width
    ram = {}
    for kind, value in (ram_linear or {}).items():
        curve = [1] * 324
        curve[96] = value
        ram[kind] = {"32": curve, "64": None, "128": curve, "256": curve}
    processor = {"caches": [{"level": 1, "type": "data", "sizeBytes": 48 * K, "lineBytes": 64},
                            {"level": 1, "type": "instruction", "sizeBytes": 32 * K,
                             "lineBytes": 64},
                            {"level": 2, "type": "unified", "sizeBytes": 1 * M, "lineBytes": 128},
                            {"level": 3, "type": "none", "sizeBytes": 0, "lineBytes": 0}]}
    return {"processor": processor, "cache": cache, "ram": ram, "seconds": {"dataSweep": 20.5}}


class OursFromReport(unittest.TestCase):
    def speed(self, block):
        # 300,000 KiB/s in L1, 200,000 in L2, 100,000 in L3; a stray NO_POINT in L2.
        if block == 100 * K:
            return core.NO_POINT
        return 300000 if block <= 32 * K else 200000 if block <= 512 * K else 100000

    def test_levels_take_the_points_inside_them_only(self):
        ours = core.ours_from_report(report(self.speed), ZEN3)
        l1, l2, l3 = (ours["levels"][n] for n in ("L1D", "L2", "L3"))
        self.assertEqual(l1["mbps"], core.kibps_to_mbps(300000))
        self.assertEqual((l1["from"], l1["to"]), (4608, 24 * K))
        self.assertEqual(l2["mbps"], core.kibps_to_mbps(200000))
        self.assertEqual((l2["from"], l2["to"]), (50 * K, 384 * K))
        self.assertEqual(l3["mbps"], core.kibps_to_mbps(100000))
        self.assertEqual(l3["to"], 3968 * K)
        # Bands never reach the edge points, where a level's speed blurs into the next.
        self.assertLess(l1["to"], 32 * K)
        self.assertGreater(l2["from"], 32 * K)

    def test_fields_ram_entries_and_width(self):
        ours = core.ours_from_report(
            report(self.speed, {"read": 15625, "write": 31250}, width=256), ZEN3)
        self.assertEqual(ours["widthBits"], 256)
        self.assertEqual(ours["l2Speed"], 64.0)
        self.assertEqual(ours["l3Speed"], 32.0)
        self.assertEqual(ours["ramField"], 1000 * 1.048576)  # 1000 MiB/s
        self.assertEqual(ours["readLinear"], {"32": 16.0, "128": 16.0, "256": 16.0})
        self.assertEqual(ours["writeLinear"], {"32": 32.0, "128": 32.0, "256": 32.0})
        self.assertEqual(ours["writeMmxLinear"], {})
        self.assertEqual(ours["sizes"], {"icache": 16 * K, "dcache": 2 * M, "l2": None,
                                         "l3": 36 * M, "l2Line": None, "ramLine": 64})
        self.assertEqual(ours["cpuidCaches"], [core.cache(1, "Data", 48 * K, 64),
                                               core.cache(1, "Instruction", 32 * K, 64),
                                               core.cache(2, "Unified", M, 128)])

    def test_a_report_without_sweep_or_passes(self):
        ours = core.ours_from_report({"seconds": {}}, ZEN3)
        self.assertEqual((ours["levels"], ours["readLinear"], ours["ramField"]), ({}, {}, None))

    def test_report_texts_in_either_encoding(self):
        utf8 = json.dumps({"139": "фильтр"}, ensure_ascii=False).encode("utf-8")
        cp1251 = json.dumps({"139": "фильтр"}, ensure_ascii=False).encode("cp1251")
        self.assertEqual(json.loads(core.decode_report(utf8))["139"], "фильтр")
        self.assertEqual(json.loads(core.decode_report(cp1251))["139"], "фильтр")
        # 0x98 is no character in code page 1251; the rest of the report still reads.
        odd = b'{"139": "\x98", "114": " 55054 "}'
        self.assertEqual(json.loads(core.decode_report(odd))["114"], " 55054 ")


class Programs(unittest.TestCase):
    def test_builds_measured_on_each_kind_of_machine(self):
        exe = ("exe", "/b/target/vardelo-report.exe", ["taskset", "-c", "0", "/t/tools/wine-run",
                                                       "/b/target/vardelo-report.exe"])
        native = ("native", "/b/native/vardelo-report", ["taskset", "-c", "0",
                                                         "/b/native/vardelo-report"])
        for kind, want in (("native", [exe, native]), ("emulated", [native])):
            got = [(p["name"], p["path"], core.report_command(p, "/t"))
                   for p in core.report_programs(kind, "/b")]
            self.assertEqual(got, want, kind)
        with self.assertRaises(ValueError):
            core.report_programs("", "/b")


BUILDS = core.report_programs("native", "/b")


class Comparison(unittest.TestCase):
    def rounds(self, builds=("exe",), peer=True):
        """Three rounds; the native build reads L1 twice as fast as the 32-bit one."""
        runs, _ = core.plan_runs(ZEN3, 128)
        speeds = [(150000, 100), (100000, 80), (None, 120)]  # round 3: no L1 point measured
        rounds = []
        for l1, mbps in speeds:
            ours = {}
            for i, build in enumerate(builds):
                ours[build] = core.ours_from_report(report(lambda b: 1), ZEN3)
                ours[build]["levels"]["L1D"] = l1 and {"mbps": l1 * (i + 1) / 1000,
                                                       "points": 24, "from": 4608, "to": 24 * K}
            theirs = {r["name"]: {"mbps": float(mbps)} for r in runs} if peer else {}
            rounds.append({"ours": ours, "theirs": theirs,
                           "oursWall": {b: 60.0 for b in builds},
                           "theirsWall": 9.0 if peer else None})
        return rounds, runs

    def test_medians_spreads_and_ratio_per_build(self):
        rounds, runs = self.rounds(("exe", "native"))
        rows = table.comparison_rows(rounds, runs, ZEN3, ["exe", "native"])
        l1 = rows[0]
        self.assertEqual((l1["level"], l1["theirs"]), ("L1D (32K)", "load_sse 16kB"))
        self.assertEqual((l1["theirsMedian"], l1["theirsSpread"]), (100.0, 1.5))
        for build, ours_median, ratio in (("exe", 125.0, 1.25), ("native", 250.0, 2.5)):
            got = l1["builds"][build]
            self.assertEqual((got["median"], got["spread"], got["ratio"]),
                             (ours_median, 1.5, ratio), build)
        names = [(r["level"], r["ours"]) for r in rows]
        self.assertIn(("L2 (512K)", "L2 speed field"), names)
        self.assertEqual(sum(1 for r in rows if r["theirs"] == "store_mem_sse 1074MB"), 4)
        # Unmeasured RAM curves give no ratio rather than a made-up one.
        self.assertIsNone(rows[-1]["builds"]["exe"]["ratio"])
        self.assertEqual(table.spread([None, None]), None)
        # No peer: Vardelo's figures stay, no ratio.
        rounds, runs = self.rounds(("native",), peer=False)
        l1 = table.comparison_rows(rounds, runs, ZEN3, ["native"])[0]
        self.assertEqual((l1["builds"]["native"]["median"], l1["builds"]["native"]["ratio"],
                          l1["theirsMedian"]), (125.0, None, None))

    def test_markdown_shows_every_build_row_and_round(self):
        one, two = BUILDS[:1], BUILDS
        for builds, peer, lines in (
                (one, True, [
                    "| Level | Vardelo | MB/s | spread | likwid-bench | MB/s | spread | "
                    "ours / theirs |",
                    "|---|---|--:|--:|---|--:|--:|--:|",
                    "| L1D (32K) | data curve 4.5K–24K, 24 points | 125 | 1.50 | load_sse 16kB "
                    "| 100 | 1.50 | 1.25 |",
                    "| Derived by Vardelo | operating system | CPUID | round 1 | round 2 | "
                    "round 3 |",
                    "| D-cache size (101) | 32K | 48K | 2048K | 2048K | 2048K |",
                    "| L3 size (103) | 32M | ? | 36M | 36M | 36M |",
                    "| L2 line (122) | 64 | 128 | – | – | – |",
                    "| data sweep | 20.5 | 20.5 | 20.5 |",
                    "| vardelo-report.exe under Wine, whole run | 60.0 | 60.0 | 60.0 |",
                    "| likwid-bench, all runs | 9.0 | 9.0 | 9.0 |"]),
                (two, True, [
                    "| Level | Vardelo | 32-bit MB/s | spread | native MB/s | spread | "
                    "likwid-bench | MB/s | spread | 32-bit / theirs | native / theirs |",
                    "|---|---|--:|--:|--:|--:|---|--:|--:|--:|--:|",
                    "| L1D (32K) | data curve 4.5K–24K, 24 points | 125 | 1.50 | 250 | 1.50 | "
                    "load_sse 16kB | 100 | 1.50 | 1.25 | 2.50 |",
                    "| D-cache size (101) | 32K | 48K | 2048K | 2048K | 2048K | 2048K | 2048K "
                    "| 2048K |",
                    "| data sweep (native) | 20.5 | 20.5 | 20.5 |",
                    "| the native x86-64 vardelo-report, whole run | 60.0 | 60.0 | 60.0 |"]),
                (two[1:], False, [
                    "| L1D (32K) | data curve 4.5K–24K, 24 points | 125 | 1.50 | load_sse 16kB "
                    "| – | – | – |",
                    "| D-cache size (101) | 32K | 48K | 2048K | 2048K | 2048K |",
                    "| likwid-bench, all runs | – | – | – |"])):
            names = [b["name"] for b in builds]
            rounds, runs = self.rounds(names, peer)
            summary = {"heading": "H", "footer": "F", "rounds": rounds, "builds": builds,
                       "rows": table.comparison_rows(rounds, runs, ZEN3, names),
                       "sizes": table.derived_size_rows(rounds, ZEN3, names),
                       "phases": table.phase_rows(rounds, builds)}
            text = table.markdown(summary).splitlines()
            for line in lines:
                self.assertIn(line, text, names)

    def test_sizes_beside_a_system_that_lists_no_caches(self):
        # The levels then come from CPUID; the operating system's column must not repeat them.
        names = [BUILDS[0]["name"]]
        rounds, _ = self.rounds(names, True)
        for source, os_text in (("sysfs", "32K"), ("CPUID (the system lists none)", "?")):
            rows = table.derived_size_rows(rounds, core.listed_by_system(ZEN3, source), names)
            dcache = next(r for r in rows if r["figure"] == "D-cache size (101)")
            self.assertEqual((os_text, "48K"), (dcache["osText"], dcache["cpuidText"]), source)

    def test_heading_names_the_builds_and_a_missing_peer(self):
        for builds, missing, has, lacks in (
                (BUILDS[:1], None, ["Vardelo: vardelo-report.exe under Wine, which chose 128-bit",
                                    "reads with `load_sse`"], ["could not run"]),
                (BUILDS, None, ["vardelo-report.exe under Wine (32-bit) and the native x86-64 "
                                "vardelo-report (native)"], ["could not run"]),
                (BUILDS[1:], "Unsupported processor", [
                    "likwid-bench could not run on this processor (Unsupported processor)",
                    "beside the operating system's and CPUID's"], ["load_sse"])):
            text = table.heading("M", "D", 128, "load_sse", "", 3, builds, missing)
            for part in has:
                self.assertIn(part, text)
            for part in lacks:
                self.assertNotIn(part, text)

    def test_readme_block_replaced_between_the_markers_only(self):
        readme = "# T\n\n%s\nold table\n%s\n\nrest\n" % (table.README_BEGIN, table.README_END)
        got = table.replace_readme_block(readme, "new\ntable\n")
        self.assertEqual(got, "# T\n\n%s\nnew\ntable\n%s\n\nrest\n" % (table.README_BEGIN,
                                                                       table.README_END))
        self.assertEqual(table.replace_readme_block(got, "new\ntable\n"), got)
        with self.assertRaises(ValueError):
            table.replace_readme_block("# no markers\n", "x")


if __name__ == "__main__":
    unittest.main()
