#!/usr/bin/env bash
# Checks how tools/setup decides to run 32-bit programs, with the probe's answer injected and
# scratch folders standing in for binfmt_misc, the system's emulators and apt's sources, so it
# runs the same on either kind of machine, and how tools/setup orders and reports its steps.
# shellcheck disable=SC2317 # the stand-ins are called by the code under test
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tools/ia32.sh
. "$top/tools/ia32.sh"

passed=0 failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); printf 'FAIL %s\n  %s: %s\n  got: %s\n' "$@"; }
check() { if [[ "$3" == *"$2"* ]]; then pass; else fail "$1" "expected to contain" "$2" "$3"; fi; }
check_not() { if [[ "$3" != *"$2"* ]]; then pass; else fail "$1" "expected not to contain" "$2" "$3"; fi; }
check_eq() { if [ "$2" = "$3" ]; then pass; else fail "$1" "expected exactly" "$2" "$3"; fi; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fake_qemu() {  # fake_qemu PATH MAJOR [STATUS]: answers --version; runs any program with STATUS
  mkdir -p "$(dirname "$1")"
  # shellcheck disable=SC2016 # the stand-in's own $1
  printf '#!/bin/sh\n[ "$1" = --version ] && echo "qemu-i386 version %s.0.2 (Debian)"\nexit %s\n' \
    "$2" "${3:-0}" >"$1"
  chmod +x "$1"
}
fresh() {
  rm -rf "${scratch:?}"/*
  export VARDELO_BINFMT_DIR="$scratch/binfmt" VARDELO_QEMU_DIR="$scratch/qemu" VARDELO_UID=0 \
    VARDELO_QEMU_SYSTEM="$scratch/system/qemu-i386-static:$scratch/system/qemu-i386" \
    VARDELO_APT_SOURCES_DIR="$scratch/apt"
  mkdir -p "$VARDELO_BINFMT_DIR"
  : >"$VARDELO_BINFMT_DIR/register"
}
# Stands in for the compiler (exported, so a child shell has it too): writes a shell script of
# $cc_body where the program was asked for.
stand_in_cc() {
  cc() {
    local out=""
    while [ $# -gt 0 ]; do [ "$1" = -o ] && out=$2; shift; done
    printf '#!/bin/sh\n%s\n' "$cc_body" >"$out"
    chmod "$cc_mode" "$out"
  }
  export -f cc
}
export cc_body cc_mode=+x

# The real probe, built and run, prints exactly one of the two kinds.
unset VARDELO_IA32
kind=$(ia32_kind 2>&1); rc=$?
check_eq "real probe: status" 0 "$rc"
case $kind in native|emulated) seen=$kind ;; *) seen="not a kind" ;; esac
check_eq "real probe prints exactly one kind" "$seen" "$kind"

# The probe's end decides, and only a fault means "emulated". A probe that could not run, or
# ended in any other way, is no answer: the setup stops instead of registering an emulator on
# a machine that may not need one.
mkdir -p "$scratch/probe"
p="$scratch/probe/probe"
while IFS='|' read -r body answer status why; do
  printf '#!/bin/sh\n%s\n' "$body" >"$p"; chmod +x "$p"
  ia32_probe_verdict "$p" >"$scratch/out" 2>"$scratch/err"; rc=$?
  check_eq "probe '$body': answer" "$answer" "$(cat "$scratch/out")"
  check_eq "probe '$body': status" "$status" "$rc"
  check_eq "probe '$body': told" "${why:+setup: the IA-32 probe $p $why, so it cannot tell whether this kernel runs}" \
    "$(head -n 1 "$scratch/err")"
done <<'EOF'
exit 0|native|0|
kill -SEGV $$|emulated|0|
kill -BUS $$|emulated|0|
exit 3||1|ended with status 3
kill -TERM $$||1|was ended by signal 15
EOF
chmod -x "$p"
out=$(ia32_probe_verdict "$p" 2>&1); rc=$?
check_eq "probe not executable: fails" 1 "$rc"
check_eq "probe not executable: told why, no kind" "setup: the IA-32 probe $p could not be executed (is $scratch/probe on a file system mounted noexec?), so it cannot tell whether this kernel runs" "$(head -n 1 <<<"$out")"
out=$(ia32_probe_verdict "$scratch/probe/missing" 2>&1); rc=$?
check_eq "probe missing: fails" 1 "$rc"
check "probe missing: told" "was not found" "$out"

# Under `set -euo pipefail`, as in tools/setup, a faulting probe is an answer, not the end of
# the caller; `ia32_kind` builds the probe with the `cc` stand-in.
printf '#!/bin/sh\nkill -SEGV $$\n' >"$scratch/probe/segv"
printf '#!/bin/sh\nexit 0\n' >"$scratch/probe/ret"
chmod +x "$scratch/probe/segv" "$scratch/probe/ret"
stand_in_cc
while IFS='|' read -r code expected; do
  cc_body='kill -SEGV $$'
  out=$(bash -c "set -euo pipefail; . \"\$0\"; $code; echo after" "$top/tools/ia32.sh" 2>/dev/null); rc=$?
  check_eq "set -e: $code" "$expected (status 0)" "$(paste -sd' ' <<<"$out") (status $rc)"
done <<EOF
ia32_probe_verdict $scratch/probe/segv|emulated after
ia32_probe_verdict $scratch/probe/ret|native after
unset VARDELO_IA32; ia32_kind|emulated after
EOF

# The whole decision with a probe that cannot run: the setup stops and registers nothing.
fresh; unset VARDELO_IA32
cc_body='exit 0' cc_mode=-x
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
out=$(ia32_ensure 2>&1); rc=$?
check_eq "unrunnable probe stops the setup" 1 "$rc"
check "unrunnable probe is told" "stopping rather than guess" "$out"
check_eq "unrunnable probe registers nothing" "" "$(cat "$VARDELO_BINFMT_DIR/register")"
cc_mode=+x
out=$(cc() { return 1; }; ia32_kind 2>&1); rc=$?
check_eq "probe that cannot be built: fails" 1 "$rc"
check "probe that cannot be built: told" "cannot build the IA-32 probe" "$out"

# The tiny i386 program that proves 32-bit programs run: how it ends decides.
while IFS='|' read -r body status told; do
  cc_body=$body
  out=$(ia32_check_runs 2>&1); rc=$?
  check_eq "i386 program '$body': status" "$status" "$rc"
  check_eq "i386 program '$body': told" "$told" "$(paste -sd'|' <<<"$out")"
done <<'EOF'
exit 0|0|setup: 32-bit programs run here
echo "cannot execute binary file: Exec format error" >&2; exit 126|1|setup: 32-bit programs still do not run here: a static i386 program ended with status 126|  cannot execute binary file: Exec format error
EOF
# With the real compiler it is a static i386 ELF, and it runs here (tools/setup saw to that).
unset -f cc; mkdir -p "$scratch/elf"
ia32_build_exit0 "$scratch/elf"
check "i386 program is a static i386 ELF" "ELF 32-bit LSB executable, Intel 80386, version 1 (SYSV), statically linked" "$(file "$scratch/elf/exit0")"
ia32_check_runs 2>/dev/null
check_eq "i386 program runs here" 0 "$?"

# Native: nothing to install or register.
fresh; export VARDELO_IA32=native
check "native needs nothing" "natively; no emulator" "$(ia32_ensure 2>&1)"
check_eq "native registers nothing" "" "$(cat "$VARDELO_BINFMT_DIR/register")"

# Emulated, no emulator anywhere: fetch Debian 13's qemu-user privately, then register it with F.
fresh; export VARDELO_IA32=emulated VARDELO_DRY_RUN=1
out=$(ia32_ensure 2>&1)
check "emulated fetches qemu" "fetching qemu-user of Debian 13" "$out"
check "private apt state" "Dir::State::Lists=$scratch/qemu/apt/lists" "$out"
check "machine sources untouched" "Dir::Etc::SourceList=$scratch/qemu/apt/sources.list" "$out"
check "trixie suite" "trixie main" "$out"
check "registers with flag F" "+ write $scratch/binfmt/register: :qemu-i386:M::\\x7fELF\\x01\\x01\\x01" "$out"
check "interpreter is the fetched one" ":$scratch/qemu/usr/bin/qemu-i386:F" "$out"

# Which emulator serves: ours, else the system's (the list stands in scratch), each only from 8 on.
while read -r ours static plain found; do
  fresh
  [ "$ours" = - ] || fake_qemu "$scratch/qemu/usr/bin/qemu-i386" "$ours"
  [ "$static" = - ] || fake_qemu "$scratch/system/qemu-i386-static" "$static"
  [ "$plain" = - ] || fake_qemu "$scratch/system/qemu-i386" "$plain"
  check_eq "emulator of ours $ours, static $static, plain $plain" "$found" \
    "$( (ia32_find_qemu || echo none) | sed "s|^$scratch/||")"
done <<'EOF'
10 9 9 qemu/usr/bin/qemu-i386
7 10 9 system/qemu-i386-static
- 7 8 system/qemu-i386
7 7 7 none
EOF
check_eq "system emulators default to /usr/bin" "/usr/bin/qemu-i386-static:/usr/bin/qemu-i386" \
  "$(VARDELO_QEMU_SYSTEM='' ia32_qemu_system)"
fresh; fake_qemu "$scratch/system/qemu-i386" 10
out=$(ia32_ensure 2>&1)
check_not "system emulator: no fetch" "fetching" "$out"
check "system emulator registered" ":$scratch/system/qemu-i386:F" "$out"

# Registered with an old 7.2 emulator: the new one runs the i386 program, then the old goes.
fresh; fake_qemu "$scratch/old/qemu-i386" 7
printf 'enabled\ninterpreter %s\nflags: F\n' "$scratch/old/qemu-i386" >"$VARDELO_BINFMT_DIR/qemu-i386"
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
out=$(ia32_ensure 2>&1)
check_eq "old registration replaced: proven, removed, registered" "run remove register" \
  "$(sed -n 's|^+ .*/qemu-i386 .*/exit0$|run|p; s|^+ write .*/qemu-i386: -1$|remove|p
             s|^+ write .*/register: .*/usr/bin/qemu-i386:F$|register|p' <<<"$out" | paste -sd' ')"

# Already registered with a current emulator and flag F: left as it is; without F: redone.
for flags in PF P; do
  fresh; fake_qemu "$scratch/new/qemu-i386" 10
  printf 'enabled\ninterpreter %s\nflags: %s\n' "$scratch/new/qemu-i386" "$flags" >"$VARDELO_BINFMT_DIR/qemu-i386"
  fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 9
  check_eq "registered with flags $flags: registers again" "$([ $flags = P ] && echo 1 || echo 0)" \
    "$(ia32_ensure 2>&1 | grep -c '/register: :qemu-i386:')"
done

# Not root on an emulated machine: a clear message and a failure, nothing attempted.
fresh; export VARDELO_UID=1000
out=$(ia32_ensure 2>&1); rc=$?
check_eq "non-root fails" 1 "$rc"
check "non-root is told" "needs root" "$out"
check_not "non-root changes nothing" "+ " "$out"

# No binfmt_misc at all (and mounting it fails): a clear message and a failure.
fresh; export VARDELO_DRY_RUN=0
rm -f "$VARDELO_BINFMT_DIR/register"
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
out=$(mount() { return 32; }; ia32_ensure 2>&1); rc=$?
check_eq "no binfmt_misc fails" 1 "$rc"
check "no binfmt_misc is told" "binfmt_misc is not available" "$out"

# Registration writes the rule itself (not only in a dry run).
fresh; fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
ia32_ensure >/dev/null 2>&1
check_eq "rule written to register" ":qemu-i386:M::$IA32_MAGIC:$IA32_MASK:$scratch/qemu/usr/bin/qemu-i386:F" \
  "$(cat "$VARDELO_BINFMT_DIR/register")"

# Replacing a working entry never leaves none: an interpreter that cannot run the i386 program
# changes nothing, and where the new rule cannot be written the old one is written back.
old="$scratch/old/qemu-i386" new="$scratch/qemu/usr/bin/qemu-i386"
old_entry() {  # the old entry, as binfmt_misc shows it
  fresh; fake_qemu "$old" 7
  printf 'enabled\ninterpreter %s\nflags: F\noffset 0\nmagic %s\nmask %s\n' "$old" \
    7f454c4601010100000000000000000002000300 fffffffffffefe00fffffffffffffffffeffffff \
    >"$VARDELO_BINFMT_DIR/qemu-i386"
}
old_rule=":qemu-i386:M:0:\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$old:F"
old_entry
check_eq "old rule rebuilt from its entry" "$old_rule" "$(ia32_entry_rule)"
old_entry; cp "$VARDELO_BINFMT_DIR/qemu-i386" "$scratch/entry"
fake_qemu "$new" 10 1
out=$(ia32_register "$new" 2>&1); rc=$?
check_eq "interpreter that cannot run i386: fails" 1 "$rc"
check "interpreter that cannot run i386: told" "$new cannot run a static i386 program (status 1)" "$out"
check_eq "interpreter that cannot run i386: entry kept" "$(cat "$scratch/entry")" "$(cat "$VARDELO_BINFMT_DIR/qemu-i386")"
check_eq "interpreter that cannot run i386: nothing registered" "" "$(cat "$VARDELO_BINFMT_DIR/register")"
old_entry; fake_qemu "$new" 10
out=$(ia32_binfmt_write() { echo "${1##*/}: $2" >>"$scratch/writes"; [[ $2 != *"$new"* ]]; }
      ia32_register "$new" 2>&1); rc=$?
check_eq "failed write: old rule written back" "qemu-i386: -1|register: :qemu-i386:M::$IA32_MAGIC:$IA32_MASK:$new:F|register: $old_rule" \
  "$(paste -sd'|' "$scratch/writes")"
check_eq "failed write: fails" 1 "$rc"
check "failed write: told" "the previous entry is back: $old_rule" "$out"
old_entry; fake_qemu "$new" 10
rm "$VARDELO_BINFMT_DIR/register"; mkdir "$VARDELO_BINFMT_DIR/register"
out=$(ia32_register "$new" 2>&1); rc=$?
check_eq "register not writable: fails" 1 "$rc"
check "register not writable: told" "could not register $new for i386 programs" "$out"
check "register not writable: old rule shown" "could not be written back either; it was: $old_rule" "$out"

# Fetching: apt's own errors stay visible and the step that failed is named.
apt-get() { fails_at apt-get "$@" || return 100; [[ " $* " != *" download "* ]] || : >qemu-user_10_amd64.deb; }
dpkg-deb() { fails_at dpkg-deb "$@" || return 2; }
fails_at() { [[ " $* " != *" $step "* ]] || { echo "E: $step broke" >&2; return 1; }; }
while IFS='|' read -r step told; do
  fresh
  out=$(ia32_fetch_qemu 2>&1); rc=$?
  check_eq "fetch failing at $step: fails" 1 "$rc"
  check "fetch failing at $step: its error shown" "E: $step broke" "$out"
  check "fetch failing at $step: named" "$told" "$out"
done <<EOF
update|apt-get update of the private package lists in $scratch/qemu/apt failed
download|apt-get download qemu-user from http://deb.debian.org/debian (trixie) failed
dpkg-deb|dpkg-deb could not unpack $scratch/qemu/apt/deb/qemu-user_10_amd64.deb into $scratch/qemu
EOF
unset -f apt-get dpkg-deb

# The mirror comes from the machine's apt sources: deb822 or one-line, never a security one.
while IFS='|' read -r file text mirror; do
  fresh; mkdir -p "$scratch/apt/sources.list.d"
  [ -z "$file" ] || printf '%b' "$text" >"$scratch/apt/$file"
  check_eq "mirror of ${file:-no sources} ($text)" "$mirror" "$(ia32_debian_mirror)"
done <<'EOF'
sources.list.d/debian.sources|Types: deb\nURIs: http://security.example.org/debian\n\nTypes: deb\nURIs: http://ftp.example.org/debian/\nSuites: trixie\n|http://ftp.example.org/debian
sources.list|deb [arch=amd64] https://mirror.example.net/debian bookworm main\n|https://mirror.example.net/debian
sources.list|deb http://security.example.org/debian bookworm-security main\ndeb http://mirror.example.net/debian bookworm main\n|http://mirror.example.net/debian
sources.list.d/extra.list|deb http://security.example.org/debian bookworm-security main\n|http://deb.debian.org/debian
||http://deb.debian.org/debian
EOF

# tools/setup: host packages, then the emulator, then proof that 32-bit programs run, and only
# then the i386 packages and the Wine prefix; each step stands in as a function.
for runs in 0 1; do
  out=$(WINEPREFIX="$scratch/prefix" bash -c '. "$1"; runs=$2
    install_packages() { case " $* " in *:i386*) echo "install $*" ;; *) echo "install host" ;; esac; }
    ensure_locale() { echo locale; }; ia32_ensure() { echo ensure; }
    ia32_check_runs() { echo runs; return "$runs"; }; ensure_wineprefix() { echo prefix; }
    setup_main' bash "$top/tools/setup" "$runs" 2>&1); rc=$?
  plan="install host locale ensure runs"; [ "$runs" = 0 ] && plan="$plan install wine wine32:i386 prefix"
  check_eq "setup order, i386 programs ending $runs" "$plan (status $runs)" "$(paste -sd' ' <<<"$out") (status $rc)"
done

# The Wine prefix: a failing wineboot or wineserver (stand-ins on PATH) is named with its output.
while read -r boot server makes status told; do
  fresh; mkdir -p "$scratch/wine"
  # shellcheck disable=SC2016 # the stand-in's own WINEPREFIX
  printf '#!/bin/sh\necho "wineboot said %s"\n[ %s = no ] || { mkdir -p "$WINEPREFIX"; : >"$WINEPREFIX/system.reg"; }\nexit %s\n' \
    "$boot" "$makes" "$boot" >"$scratch/wine/wineboot"
  printf '#!/bin/sh\nexit %s\n' "$server" >"$scratch/wine/wineserver"
  chmod +x "$scratch/wine/"*
  out=$(PATH="$scratch/wine:$PATH" WINEPREFIX="$scratch/prefix" \
        bash -c '. "$1"; ensure_dialog_font() { echo fonts; }; ensure_wineprefix' bash "$top/tools/setup" 2>&1)
  rc=$?
  check_eq "wineboot $boot, wineserver $server: status" "$status" "$rc"
  check_eq "wineboot $boot, wineserver $server: told" "setup: creating the Wine prefix $scratch/prefix|$told" \
    "$(paste -sd'|' <<<"$out")"
done <<EOF
5 0 no 1 setup: wineboot -i failed (status 5) to create the Wine prefix $scratch/prefix|  wineboot said 5
0 3 yes 1 setup: wineserver -w failed (status 3) after wineboot -i in $scratch/prefix
0 0 no 1 setup: wineboot did not create $scratch/prefix
0 0 yes 0 fonts
EOF

echo "ia32 setup: $passed passed, $failed failed"
[ "$failed" = 0 ]
