#!/usr/bin/env bash
# Checks tools/wine-env, the one place that sets Wine's environment: which prefix wins, what a
# caller's settings keep, that sourcing and printing agree, and that `make` puts the prefix in
# its own build folder whatever WINEPREFIX the caller has.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
tool="$top/tools/wine-env"

passed=0 failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then passed=$((passed + 1));
  else failed=$((failed + 1)); printf 'FAIL %s\n  expected: %s\n  got:      %s\n' "$1" "$2" "$3"; fi
}
# The value of NAME that the tool prints in an environment of only the given settings.
printed() {  # printed NAME [VAR=value...]
  local name=$1; shift
  env -i PATH="$PATH" "$@" "$tool" | sed -n "s/^$name=//p"
}

check "default prefix: build/ of the tree" "$top/build/wineprefix" "$(printed WINEPREFIX)"
check "the build folder's prefix" "/b/wineprefix" "$(printed WINEPREFIX VARDELO_BUILD=/b)"
check "an explicit prefix wins" "/p" "$(printed WINEPREFIX VARDELO_BUILD=/b WINEPREFIX=/p)"
check "quiet by default" "-all" "$(printed WINEDEBUG)"
check "a caller's WINEDEBUG is kept" "+seh" "$(printed WINEDEBUG WINEDEBUG=+seh)"
check "no installer dialogs, no debugger" "mscoree,mshtml=;winedbg.exe=d" "$(printed WINEDLLOVERRIDES)"
check "a caller's overrides are kept, the debugger still off" "d3d9=n;winedbg.exe=d" \
  "$(printed WINEDLLOVERRIDES WINEDLLOVERRIDES=d3d9=n)"
check "the debugger is switched off once" "winedbg.exe=d" \
  "$(printed WINEDLLOVERRIDES WINEDLLOVERRIDES=winedbg.exe=d)"
check "always 32-bit" "win32" "$(printed WINEARCH WINEARCH=win64)"
check "four settings printed" "4" "$(env -i PATH="$PATH" "$tool" | wc -l)"

# Sourced under `set -u`, it exports the same values and prints nothing.
sourced=$(env -i PATH="$PATH" VARDELO_BUILD=/b bash -uc '. "$1" && env' _ "$tool" | grep '^WINE' | sort)
check "sourcing exports what printing shows" "$(env -i PATH="$PATH" VARDELO_BUILD=/b "$tool" | sort)" "$sourced"

# make: the prefix of BUILD, never the caller's (a caller's ~/.wine must stay untouched).
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
got=$(WINEPREFIX="$HOME/.wine" make -s -C "$top" --no-print-directory BUILD="$scratch/b" \
        --eval 'wine-env-probe: ; @tools/wine-env' wine-env-probe | sed -n 's/^WINEPREFIX=//p')
check "make uses its build folder's prefix" "$scratch/b/wineprefix" "$got"

echo "wine-env: $passed passed, $failed failed"
[ "$failed" = 0 ]
