#!/usr/bin/env bash
# The real vardelo.exe under Wine gets through its start-up (processor check, calibration, test
# buffer, threads) to its window without an error box, and closing the window ends it with 0.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }

start_vardelo || exit 1
expect_eq "the cache page is shown first" 0 "$(probe tab)"
probe close >/dev/null
wait_exit 30
expect_eq "closing ends the process with 0" 0 "$exit_code"
stop_vardelo
[ "$failures" = 0 ]
