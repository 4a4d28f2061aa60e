#!/usr/bin/env python3
"""The native vardelo-report (x86-64 Linux) runs the real start-up, cache sweep and a short read
and write pass at this machine's own speed, ends with 0 and prints JSON that is complete and
consistent with itself: the checks of the Windows report's JSON, with the native build's name and
its RAM span cap.

usage: report_test.py PATH/TO/vardelo-report"""

import json
import os
import subprocess
import sys

REPORT = os.path.abspath(sys.argv[1]) if len(sys.argv) == 2 else None
# The version the report must give is the one its build folder was made with.
if REPORT:
    os.environ["TARGET_DIR"] = os.path.dirname(REPORT)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import report_test as windows  # noqa: E402
from e2e import check  # noqa: E402

MIB = 1 << 20
# One block size keeps the RAM passes short; the cache sweep runs whole.
OPTIONS = ["--blocks=256"]
SECONDS = 900
SPAN_CAP = 2048 * MIB  # a 64-bit process's cap on the RAM span


def expected_span(largest, memory):
    """The RAM span for a largest cache and the machine's memory, worked out here apart from the
    program: 8 MiB up to a 2 MiB cache, else the smallest power of two of four times the cache,
    at most 2 GiB and an eighth of the memory rounded down to a power of two."""
    if largest <= 2 * MIB:
        return 8 * MIB
    span = 8 * MIB
    while span < 4 * largest:
        span *= 2
    cap = SPAN_CAP
    if memory:
        cap = min(cap, 1 << (min(memory // 8, 0xFFFFFFFF).bit_length() - 1))
    return max(min(span, cap), 8 * MIB)


def check_native(report):
    check.eq("build", "linux-x86_64", report.get("build"))
    # Run with VARDELO_IA32=emulated: that says how 32-bit code runs, and a 64-bit program runs
    # natively, so only a processor model that names its emulator makes the figures an emulator's.
    p = report["processor"]
    check.eq("emulated only by the brand (%r)" % p["brand"], "QEMU" in p["brand"], p["emulated"])


def main():
    if REPORT is None:
        print(__doc__.splitlines()[-1])
        return 2
    # The Windows checks' span rule, with this build's cap.
    windows.expected_span = expected_span
    try:
        run = subprocess.run([REPORT] + OPTIONS, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=SECONDS, env=dict(os.environ, VARDELO_IA32="emulated"))
    except subprocess.TimeoutExpired as e:
        print("vardelo-report did not end within %d s" % SECONDS)
        print("\n".join((e.stderr or b"").decode("utf-8", "replace").splitlines()[-20:]))
        return 1
    progress = run.stderr.decode("utf-8", "replace")
    if run.returncode != 0:
        print("vardelo-report ended with %d" % run.returncode)
        print("\n".join(progress.splitlines()[-20:]))
        return 1
    check.ok("progress on stderr", "cache sweep done" in progress)
    try:
        report = json.loads(run.stdout.decode("utf-8"))
    except ValueError as e:
        check.ok("the report is JSON", False, e)
    else:
        for part in (check_native, windows.check_processor, windows.check_cache,
                     windows.check_ram):
            try:
                part(report)
            except (KeyError, IndexError, TypeError, ValueError) as e:
                check.ok("%s finds what it reads" % part.__name__, False, repr(e))
    print("native report: %d checks failed" % check.failures)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
