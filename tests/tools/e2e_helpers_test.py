"""The end-to-end tests' own logic, without the program: the lag knob's setting, the version read
from a build, and how the monitor's log answers waits for passes that may have come and gone
before the wait began."""

import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402


def monitor_with(lines):
    """A Monitor reading the given log lines, with no probe behind it."""
    folder = tempfile.mkdtemp()
    m = e2e.Monitor.__new__(e2e.Monitor)
    m.log_path = os.path.join(folder, "monitor.log")
    m.mark = 0.0
    with open(m.log_path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return m


def flags(t, cache=0, ram=0, ram_restart=0, cache_restart=0):
    return "%d flags cacheBusy %d ramBusy %d ramRestart %d cacheRestart %d" % (
        t, cache, ram, ram_restart, cache_restart)


# A first cycle as a fast machine runs it, with a read restart during the write pass.
CYCLE = [flags(0, cache=1), "0 tab 0", "0 pages 0", flags(40, cache=2), flags(9000),
         flags(9100, ram=1), "9200 tab 1", "9210 pages 1", flags(12000, ram=2), "12100 tab 2",
         "12150 pages 2", flags(13000, ram=2, ram_restart=1), flags(20000, ram_restart=1),
         flags(20100, ram=1), flags(23000), "23500 curves dcache 160 icache 160", "junk line",
         "23600 end"]


class LagKnob(unittest.TestCase):
    def test_settings(self):
        self.assertEqual((0.0, 0.0), e2e.parse_lag("0"))
        self.assertEqual((60.0, 60.0), e2e.parse_lag(" 60 "))
        self.assertEqual((0.5, 5.0), e2e.parse_lag("0.5-5"))
        for bad in ("", "fast", "-3", "5-2", "1-2-3"):
            with self.assertRaises(ValueError, msg=bad):
                e2e.parse_lag(bad)


class BuiltVersion(unittest.TestCase):
    def build_with(self, header):
        target = tempfile.mkdtemp()
        if header is not None:
            os.makedirs(os.path.join(target, "generated"))
            with open(os.path.join(target, "generated", "vardelo_version.h"), "w") as f:
                f.write(header)
        return target

    def test_read_from_the_generated_header(self):
        header = '// comment "1.0.0"\n#ifndef X\n#define VARDELO_VERSION "2.10.3"\n#endif\n'
        self.assertEqual("2.10.3", e2e.built_version(self.build_with(header)))

    def test_none_without_a_build_or_a_define(self):
        self.assertIsNone(e2e.built_version(self.build_with(None)))
        self.assertIsNone(e2e.built_version(self.build_with("#define VARDELO_VERSIONS \"1\"\n")))


class BuiltIa32Kind(unittest.TestCase):
    def test_read_from_the_build_and_nothing_else(self):
        cases = [("native\n", "native"), ("emulated", "emulated"), ("", None), ("maybe\n", None),
                 (None, None)]
        for text, expected in cases:
            target = tempfile.mkdtemp()
            if text is not None:
                os.makedirs(os.path.join(target, "generated"))
                with open(os.path.join(target, "generated", "ia32_kind"), "w") as f:
                    f.write(text)
            self.assertEqual(expected, e2e.built_ia32_kind(target), repr(text))


class MonitorLog(unittest.TestCase):
    def setUp(self):
        self.failures = e2e.check.failures

    def test_passes_and_first(self):
        m = monitor_with(CYCLE)
        self.assertEqual([(9100, 12000), (20100, 23000)], m.passes(1, 0))
        self.assertEqual([(20100, 23000)], m.passes(1, 12000))
        self.assertEqual([(12000, 20000)], m.passes(2, 0))
        self.assertEqual(13000, m.first(lambda f: f["ramRestart"] & 1))
        self.assertIsNone(m.first(lambda f: f["cacheRestart"]))
        self.assertEqual([(23500.0, "curves", "dcache 160 icache 160")], m.events("curves"))

    def test_a_pass_still_running_has_no_end(self):
        m = monitor_with(CYCLE[:12])
        self.assertEqual([(12000, None)], m.passes(2, 0))

    def test_wait_finds_what_came_before_it(self):
        m = monitor_with(CYCLE)
        m.since(12000)
        t0 = time.monotonic()
        self.assertEqual(20100, m.wait(lambda f: f["ramBusy"] & 1, 60, "read pass after write"))
        self.assertLess(time.monotonic() - t0, 5)
        self.assertEqual(self.failures, e2e.check.failures)

    def test_wait_for_a_moment_that_cannot_come_ends_early(self):
        m = monitor_with(CYCLE)
        m.IDLE_SECONDS = 0.5
        m.since(23000)
        t0 = time.monotonic()
        self.assertIsNone(m.wait(lambda f: f["ramBusy"] & 2, 60, "a write pass that never comes"))
        self.assertLess(time.monotonic() - t0, 10)
        self.assertEqual(self.failures + 1, e2e.check.failures)
        e2e.check.failures = self.failures

    def test_wait_while_busy_runs_to_its_bound(self):
        m = monitor_with(CYCLE[:12])
        m.IDLE_SECONDS = 0.5
        m.since(12000)
        self.assertIsNone(m.wait(lambda f: f["ramBusy"] & 1, 1, "not yet"))
        e2e.check.failures = self.failures


class RunHeadless(unittest.TestCase):
    """tools/run-headless, behind `make run` without a display, fails when the first cycle does
    not end: a screenshot of an unfinished run is not a successful run."""

    def run_with(self, cycle_code, exit_code):
        from importlib.machinery import SourceFileLoader
        path = os.path.join(e2e.TOP, "tools", "run-headless")
        tool = SourceFileLoader("run_headless", path).load_module()

        class FakeProgram:
            window = True

            def wait_exit(self, seconds):
                return exit_code

            def stop(self):
                pass

        tool.Program = FakeProgram
        tool.probe = lambda *args: (cycle_code if args[0] == "wait-cycle" else 0, "")
        tool.settled_shot = lambda path, page: None
        tool.crop_to_window = lambda path: None
        os.environ["SHOTS"] = tempfile.mkdtemp()
        return tool.main()

    def test_exit_status(self):
        for cycle_code, exit_code, expected in [(0, 0, 0), (1, 0, 1), (0, 3, 1), (0, None, 1)]:
            self.assertEqual(expected, self.run_with(cycle_code, exit_code),
                             "wait-cycle %d, program exit %r" % (cycle_code, exit_code))


if __name__ == "__main__":
    unittest.main()
