#!/usr/bin/env bash
# Runs the unit tests of tools/bench*.py, the parts of `make bench` that need no machine.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec python3 -B "$here/bench_test.py" -v 2>&1
