#!/usr/bin/env bash
# Checks how tools/setup decides to run 32-bit programs, with the probe's answer injected and a
# scratch folder standing in for binfmt_misc, so it runs the same on either kind of machine.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tools/ia32.sh
. "$top/tools/ia32.sh"

passed=0 failed=0
check() {  # check NAME EXPECTED-SUBSTRING OUTPUT
  if [[ "$3" == *"$2"* ]]; then passed=$((passed + 1));
  else failed=$((failed + 1)); printf 'FAIL %s\n  expected to contain: %s\n  got: %s\n' "$1" "$2" "$3"; fi
}
check_not() {
  if [[ "$3" != *"$2"* ]]; then passed=$((passed + 1));
  else failed=$((failed + 1)); printf 'FAIL %s\n  expected not to contain: %s\n  got: %s\n' "$1" "$2" "$3"; fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fake_qemu() {  # fake_qemu PATH MAJOR
  mkdir -p "$(dirname "$1")"
  printf '#!/bin/sh\necho "qemu-i386 version %s.0.2 (Debian)"\n' "$2" >"$1"
  chmod +x "$1"
}
fresh() {
  rm -rf "$scratch"/*
  export VARDELO_BINFMT_DIR="$scratch/binfmt" VARDELO_QEMU_DIR="$scratch/qemu" VARDELO_UID=0
  mkdir -p "$VARDELO_BINFMT_DIR"
  : >"$VARDELO_BINFMT_DIR/register"
}

# The real probe agrees with what it can see: it answers one of the two kinds.
unset VARDELO_IA32
kind=$(ia32_kind)
check "probe answers a kind" "$( [ "$kind" = native ] || [ "$kind" = emulated ] && echo ok)" ok

# The probe's end decides, and only a fault means "emulated". A probe that could not run, or
# ended in any other way, is no answer: the setup stops instead of registering an emulator on
# a machine that may not need one.
fake_probe() {  # fake_probe PATH BODY: a stand-in for the built probe
  printf '#!/bin/sh\n%s\n' "$2" >"$1"
  chmod +x "$1"
}
mkdir -p "$scratch/probe"
p="$scratch/probe/probe"
fake_probe "$p" 'exit 0'
check "returning probe: native" "native" "$(ia32_probe_verdict "$p" 2>&1)"
fake_probe "$p" 'kill -SEGV $$'
check "probe dying of SIGSEGV: emulated" "emulated" "$(ia32_probe_verdict "$p" 2>&1)"
fake_probe "$p" 'kill -BUS $$'
check "probe dying of SIGBUS: emulated" "emulated" "$(ia32_probe_verdict "$p" 2>&1)"
fake_probe "$p" 'exit 0'; chmod -x "$p"
out=$(ia32_probe_verdict "$p" 2>&1); rc=$?
check "probe not executable: fails" "1" "$rc"
check "probe not executable: told why" \
  "could not be executed (is $scratch/probe on a file system mounted noexec?)" "$out"
check "probe not executable: no kind on stdout" "[]" "[$(ia32_probe_verdict "$p" 2>/dev/null)]"
out=$(ia32_probe_verdict "$scratch/probe/missing" 2>&1); rc=$?
check "probe missing: fails" "1" "$rc"
check "probe missing: told" "was not found" "$out"
fake_probe "$p" 'exit 3'
out=$(ia32_probe_verdict "$p" 2>&1); rc=$?
check "probe ending with 3: fails" "1" "$rc"
check "probe ending with 3: told" "ended with status 3" "$out"
fake_probe "$p" 'kill -TERM $$'
out=$(ia32_probe_verdict "$p" 2>&1); rc=$?
check "probe killed by SIGTERM: fails" "1" "$rc"
check "probe killed by SIGTERM: told" "was ended by signal 15" "$out"

# The whole decision with a probe that cannot run: the setup stops and registers nothing. `cc`
# stands in for the compiler and leaves a probe without the execute bit.
cc() {
  local out=""
  while [ $# -gt 0 ]; do [ "$1" = -o ] && out=$2; shift; done
  printf '#!/bin/sh\nexit 0\n' >"$out"
}
fresh; unset VARDELO_IA32
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
out=$(ia32_ensure 2>&1); rc=$?
check "unrunnable probe stops the setup" "1" "$rc"
check "unrunnable probe is told" "stopping rather than guess" "$out"
check_not "unrunnable probe registers nothing" "register" \
  "$out$(cat "$VARDELO_BINFMT_DIR/register")"
cc() { return 1; }
out=$(ia32_kind 2>&1); rc=$?
check "probe that cannot be built: fails" "1" "$rc"
check "probe that cannot be built: told" "cannot build the IA-32 probe" "$out"
unset -f cc

# Native: nothing to install or register.
fresh; export VARDELO_IA32=native
out=$(ia32_ensure 2>&1)
check "native needs nothing" "natively; no emulator" "$out"
check_not "native registers nothing" "register" "$(cat "$VARDELO_BINFMT_DIR/register")"

# Emulated, no emulator anywhere: fetch Debian 13's qemu-user privately, then register it with F.
fresh; export VARDELO_IA32=emulated VARDELO_DRY_RUN=1
out=$(ia32_ensure 2>&1)
check "emulated fetches qemu" "fetching qemu-user of Debian 13" "$out"
check "private apt state" "Dir::State::Lists=$scratch/qemu/apt/lists" "$out"
check "machine sources untouched" "Dir::Etc::SourceList=$scratch/qemu/apt/sources.list" "$out"
check "trixie suite" "trixie main" "$out"
check "registers with flag F" "register :qemu-i386:M::\\x7fELF\\x01\\x01\\x01" "$out"
check "interpreter is the fetched one" ":$scratch/qemu/usr/bin/qemu-i386:F" "$out"

# Emulated with a current emulator of our own already unpacked: no fetch, only the registration.
fresh; fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
out=$(ia32_ensure 2>&1)
check_not "current emulator is not fetched again" "fetching" "$out"
check "current emulator registered" ":$scratch/qemu/usr/bin/qemu-i386:F" "$out"

# Emulated, registered with an old 7.2 emulator: replaced, not used.
fresh; fake_qemu "$scratch/old/qemu-i386" 7
printf 'enabled\ninterpreter %s\nflags: F\n' "$scratch/old/qemu-i386" >"$VARDELO_BINFMT_DIR/qemu-i386"
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
out=$(ia32_ensure 2>&1)
check "old registration replaced" "echo -1 > $VARDELO_BINFMT_DIR/qemu-i386" "$out"
check "replaced by the current one" ":$scratch/qemu/usr/bin/qemu-i386:F" "$out"

# Emulated, already registered with a current emulator and flag F: left as it is.
fresh; fake_qemu "$scratch/new/qemu-i386" 10
printf 'enabled\ninterpreter %s\nflags: PF\n' "$scratch/new/qemu-i386" >"$VARDELO_BINFMT_DIR/qemu-i386"
out=$(ia32_ensure 2>&1)
check "current registration kept" "already registered" "$out"
check_not "nothing re-registered" "register :" "$out"

# Registered but without flag F (the interpreter would be looked up inside Wine's view): redone.
fresh; fake_qemu "$scratch/new/qemu-i386" 10
printf 'enabled\ninterpreter %s\nflags: P\n' "$scratch/new/qemu-i386" >"$VARDELO_BINFMT_DIR/qemu-i386"
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 9
out=$(ia32_ensure 2>&1)
check "entry without F redone" "register :qemu-i386:" "$out"

# Not root on an emulated machine: a clear message and a failure, nothing attempted.
fresh; export VARDELO_UID=1000
out=$(ia32_ensure 2>&1); rc=$?
check "non-root fails" "1" "$rc"
check "non-root is told" "needs root" "$out"
check_not "non-root changes nothing" "+ " "$out"

# No binfmt_misc at all (and mounting it fails): a clear message and a failure.
fresh; export VARDELO_UID=0 VARDELO_DRY_RUN=0
rm -f "$VARDELO_BINFMT_DIR/register"
fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
mount() { return 32; }
out=$(ia32_ensure 2>&1); rc=$?
unset -f mount
check "no binfmt_misc fails" "1" "$rc"
check "no binfmt_misc is told" "binfmt_misc is not available" "$out"

# Registration writes the rule itself (not only in a dry run).
fresh; fake_qemu "$scratch/qemu/usr/bin/qemu-i386" 10
ia32_ensure >/dev/null 2>&1
check "rule written to register" ":qemu-i386:M::" "$(cat "$VARDELO_BINFMT_DIR/register")"

# The mirror comes from the machine's own apt configuration.
check "mirror found" "http" "$(ia32_debian_mirror)"

echo "ia32 setup: $passed passed, $failed failed"
[ "$failed" = 0 ]
