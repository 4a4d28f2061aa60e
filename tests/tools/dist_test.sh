#!/usr/bin/env bash
# Checks tools/dist, the packer behind `make dist`, against two small PE32 programs built here
# (a GUI one and a console one, with debug information) standing in for the real ones, so it
# runs in seconds; and checks that the zip `make dist` writes is named after the build's version.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

passed=0 failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); printf 'FAIL %s\n' "$*"; }
expect_eq() {  # expect_eq NAME EXPECTED GOT
  if [ "$2" = "$3" ]; then ok; else fail "$1"; printf '  expected: %s\n  got:      %s\n' "$2" "$3"; fi
}
expect_has() {  # expect_has NAME SUBSTRING TEXT
  if [[ "$3" == *"$2"* ]]; then ok; else fail "$1"; printf '  expected to contain: %s\n  got: %s\n' "$2" "$3"; fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
zip_entries() { python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
zip_extract() { python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"; }

# Stand-ins for the two programs.
fake=$scratch/target
mkdir -p "$fake"
printf 'int main(void) { return 0; }\n' >"$scratch/main.c"
if ! i686-w64-mingw32-gcc -g -mwindows -o "$fake/vardelo.exe" "$scratch/main.c" ||
   ! i686-w64-mingw32-gcc -g -o "$fake/vardelo-report.exe" "$scratch/main.c"; then
  echo "FAIL the MinGW i686 compiler is needed (tools/setup installs it)"
  exit 1
fi
expect_has "stand-in carries debug information" ".debug_info" \
  "$(i686-w64-mingw32-objdump -h "$fake/vardelo.exe")"

# A stale zip with an entry of its own: the new one replaces it rather than growing it.
out=$scratch/out/dist/vardelo-test.zip
mkdir -p "$(dirname "$out")"
(cd "$scratch" && echo old >stale.txt && python3 -c 'import zipfile; zipfile.ZipFile("out/dist/vardelo-test.zip", "w").write("stale.txt")')
"$top/tools/dist" "$fake" "$out" 2>"$scratch/log"
expect_eq "tools/dist succeeds" 0 "$?"

# Exactly four entries, flat, in this order.
expect_eq "entries" "vardelo.exe vardelo-report.exe README.txt LICENSE" "$(zip_entries "$out")"

unpacked=$scratch/unpacked
zip_extract "$out" "$unpacked"
gui=$(file -b "$unpacked/vardelo.exe") console=$(file -b "$unpacked/vardelo-report.exe")
expect_has "vardelo.exe is a 32-bit GUI program" "PE32 executable (GUI) Intel 80386" "$gui"
expect_has "vardelo-report.exe is a 32-bit console program" "PE32 executable (console) Intel 80386" "$console"
sections=$(i686-w64-mingw32-objdump -h "$unpacked/vardelo.exe" "$unpacked/vardelo-report.exe")
if [[ "$sections" == *".debug_"* ]]; then fail "debug information is stripped"; else ok; fi

# README.txt: a byte-order mark, Windows line endings, otherwise the README word for word.
readme=$unpacked/README.txt
expect_eq "README.txt starts with a UTF-8 byte-order mark" "efbbbf" "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' \n')"
lines=$(wc -l <"$readme") crlf=$(grep -c $'\r$' "$readme")
expect_eq "every line of README.txt ends in CR LF" "$lines" "$crlf"
if tail -c +4 "$readme" | tr -d '\r' | cmp -s - "$top/README.md"; then ok; else fail "README.txt is the README"; fi

license=$unpacked/LICENSE
lines=$(wc -l <"$license") crlf=$(grep -c $'\r$' "$license")
expect_eq "every line of LICENSE ends in CR LF" "$lines" "$crlf"
if tr -d '\r' <"$license" | cmp -s - "$top/LICENSE"; then ok; else fail "LICENSE is the licence"; fi
expect_has "the licence is MIT" "MIT License" "$(cat "$top/LICENSE")"
expect_has "the licence's holder" "Copyright (c) 2026 The Vardelo developers" "$(cat "$top/LICENSE")"

# Refusals leave no zip behind.
refused() {  # refused NAME EXPECTED-MESSAGE
  local rc=$1 name=$2 message=$3 zip=$4
  if [ "$rc" != 0 ]; then ok; else fail "$name: refused"; fi
  expect_has "$name: says why" "$message" "$(cat "$scratch/log")"
  if [ -e "$zip" ]; then fail "$name: no zip left behind"; else ok; fi
}
missing=$scratch/missing
mkdir -p "$missing" && cp "$fake/vardelo.exe" "$missing/"
"$top/tools/dist" "$missing" "$scratch/m.zip" 2>"$scratch/log"
refused $? "missing console program" "vardelo-report.exe is missing" "$scratch/m.zip"

elf=$scratch/elf
mkdir -p "$elf" && cp "$fake/vardelo-report.exe" "$elf/" && cp /bin/true "$elf/vardelo.exe"
"$top/tools/dist" "$elf" "$scratch/e.zip" 2>"$scratch/log"
refused $? "a Linux program in place of vardelo.exe" "is not a 32-bit Windows program" "$scratch/e.zip"

# Given a folder, the zip is named after the version the target build was made with.
mkdir -p "$fake/generated"
made=9.8.10
printf '#define VARDELO_VERSION "%s"\n' "$made" >"$fake/generated/vardelo_version.h"
"$top/tools/dist" "$fake" "$scratch/named" 2>"$scratch/log"
expect_eq "tools/dist into a folder succeeds" 0 "$?"
expect_eq "the zip is named after the build's version" "vardelo-$made.zip" "$(ls "$scratch/named")"

# A build without a version, or with one that cannot be part of a file name, gets no zip.
rm "$fake/generated/vardelo_version.h"
"$top/tools/dist" "$fake" "$scratch/unnamed" 2>"$scratch/log"
refused $? "a build without a version" "no version in" "$scratch/unnamed"
printf '#define VARDELO_VERSION "1.0/../x"\n' >"$fake/generated/vardelo_version.h"
"$top/tools/dist" "$fake" "$scratch/odd" 2>"$scratch/log"
refused $? "a version that is no file name" "no version in" "$scratch/odd"

# `make dist` packs the target build into its dist folder, once the target is built.
recipe=$(make -s -n -C "$top" dist BUILD="$scratch/b" 2>&1)
expect_has "make dist calls tools/dist on the target build" \
  "tools/dist $scratch/b/target $scratch/b/dist" "$recipe"
expect_has "make dist builds the target first" "cmake --build $scratch/b/target" "$recipe"

echo "dist: $passed passed, $failed failed"
[ "$failed" = 0 ]
