#!/usr/bin/env bash
# Checks that `make` configures a build folder again after a configure that failed half-way (one
# that left a CMakeCache.txt but no Makefile). A stand-in `cmake` first on PATH logs each call and
# fails its first configure; the build folder is a scratch one, so neither Wine nor MinGW is needed.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

passed=0 failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then passed=$((passed + 1));
  else failed=$((failed + 1)); printf 'FAIL %s\n  expected: %s\n  got: %s\n' "$1" "$2" "$3"; fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin"
log="$scratch/log"
: >"$log"
# Configure (-S . -B DIR): the first call leaves DIR/CMakeCache.txt and fails, later ones also
# generate DIR/Makefile. Build (--build DIR): works only in a folder with a Makefile, as CMake's.
cat >"$scratch/bin/cmake" <<EOF
#!/bin/sh
echo "cmake \$*" >>"$log"
if [ "\$1" = --build ]; then test -f "\$2/Makefile"; exit; fi
while [ \$# -gt 0 ] && [ "\$1" != -B ]; do shift; done
mkdir -p "\$2" && : >"\$2/CMakeCache.txt"
[ "\$(grep -c ' -B ' "$log")" -gt 1 ] || exit 1
: >"\$2/Makefile"
EOF
chmod +x "$scratch/bin/cmake"

# A make started from make (ctest under `make test`) would hand its own flags and jobserver on.
unset MAKEFLAGS MFLAGS MAKELEVEL
build="$scratch/build"
configure="cmake -S . -B $build/target -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo"
for round in "1 2 $configure" "2 0 $configure|cmake --build $build/target -j 1" \
             "3 0 cmake --build $build/target -j 1"; do
  read -r n status calls <<<"$round"
  before=$(wc -l <"$log")
  PATH="$scratch/bin:$PATH" make -s -C "$top" BUILD="$build" JOBS=1 target >/dev/null 2>&1
  check "make target, round $n: status" "$status" "$?"
  check "make target, round $n: cmake calls" "$calls" "$(tail -n +$((before + 1)) "$log" | paste -sd'|')"
done

# A build whose test discovery found nothing has failed, not passed: the real ctest, run by
# `make test-host` in the scratch folder that the stand-in configured, finds no tests there.
PATH="$scratch/bin:$PATH" make -s -C "$top" BUILD="$build" JOBS=1 test-host >"$scratch/out" 2>&1
status=$?
check "make test-host with no tests: fails" "fails" "$([ "$status" != 0 ] && echo fails || echo "passes ($status)")"
check "make test-host with no tests: says so" "1" "$(grep -c 'No tests were found' "$scratch/out")"

echo "make configure: $passed passed, $failed failed"
[ "$failed" = 0 ]
