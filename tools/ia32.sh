# shellcheck shell=bash
# Shell functions that decide how this machine runs 32-bit x86 programs (wine32 and our PE32
# files), sourced by tools/setup and by its test.
#
# Two kinds of Linux machine build and test Vardelo: those whose kernel runs 32-bit user code,
# and those with IA-32 user mode switched off, where every i386 ELF (wine included) fails with
# "Exec format error". On the second kind a static qemu-i386 of version 8 or later, registered
# through binfmt_misc with flag F, runs them. Version 7 starts each Wine process in about a
# minute (it ignores MAP_FIXED_NOREPLACE), so an older emulator is replaced, never used.
#
# Every outside effect goes through `ia32_run` or `ia32_binfmt_write`, so a test can set
# VARDELO_DRY_RUN=1 and read the plan; the answer of the probe can be injected with
# VARDELO_IA32=native|emulated, and the places this reads moved: the binfmt_misc folder
# (VARDELO_BINFMT_DIR), the emulator's home (VARDELO_QEMU_DIR), the system's emulators
# (VARDELO_QEMU_SYSTEM, a list of paths separated by colons) and apt's configuration folder
# (VARDELO_APT_SOURCES_DIR).

IA32_MIN_QEMU_MAJOR=8
IA32_BINFMT_NAME='qemu-i386'
# i386 ELF executables and shared objects, as qemu's own binfmt table describes them.
IA32_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
IA32_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

ia32_binfmt_dir() { echo "${VARDELO_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"; }
ia32_qemu_dir() { echo "${VARDELO_QEMU_DIR:-/opt/vardelo/qemu}"; }
ia32_qemu_system() { echo "${VARDELO_QEMU_SYSTEM:-/usr/bin/qemu-i386-static:/usr/bin/qemu-i386}"; }
ia32_apt_dir() { echo "${VARDELO_APT_SOURCES_DIR:-/etc/apt}"; }

ia32_say() { echo "setup: $*" >&2; }

# Runs a command, or only prints it under VARDELO_DRY_RUN=1.
ia32_run() {
  if [ "${VARDELO_DRY_RUN:-0}" = 1 ]; then
    echo "+ $*"
  else
    "$@"
  fi
}

# Runs a built probe and reads its end: "native" when the far call returned, "emulated" when it
# faulted (SIGSEGV for a general protection fault, SIGBUS for a segment marked not present).
# Any other end (the probe could not be run at all, say from a folder mounted noexec, or it
# ended some other way) answers nothing: taken for "emulated" it would have a machine that
# runs 32-bit code natively register a system-wide emulator, so it stops with a message.
ia32_probe_verdict() {
  local probe=$1 rc=0
  # The braces keep the shell's own "Segmentation fault" notice off the terminal. The status is
  # read in a list, so that a caller under `set -e` does not end with the probe's fault.
  { (ulimit -c 0; "$probe"); } >/dev/null 2>&1 || rc=$?
  case $rc in
    0) echo native; return 0 ;;
    $((128 + 11)) | $((128 + 7)) ) echo emulated; return 0 ;;
  esac
  local why="ended with status $rc"
  if [ "$rc" = 126 ]; then
    why="could not be executed (is $(dirname "$probe") on a file system mounted noexec?)"
  elif [ "$rc" = 127 ]; then
    why="was not found"
  elif [ "$rc" -gt 128 ]; then
    why="was ended by signal $((rc - 128))"
  fi
  ia32_say "the IA-32 probe $probe $why, so it cannot tell whether this kernel runs"
  ia32_say "32-bit code; stopping rather than guess (set TMPDIR to a folder that allows"
  ia32_say "programs, or VARDELO_IA32=native or emulated if you know the answer)"
  return 1
}

# Prints "native" or "emulated". Builds and runs tools/ia32-probe.S unless the answer is given.
ia32_kind() {
  case "${VARDELO_IA32:-}" in
    native|emulated) echo "$VARDELO_IA32"; return 0 ;;
  esac
  local here tmp rc=0
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  tmp=$(mktemp -d)
  if ! cc -nostdlib -static -no-pie -o "$tmp/probe" "$here/ia32-probe.S" 2>"$tmp/err"; then
    ia32_say "cannot build the IA-32 probe:"; cat "$tmp/err" >&2; rm -rf "$tmp"; return 1
  fi
  ia32_probe_verdict "$tmp/probe" || rc=$?
  rm -rf "$tmp"
  return $rc
}

# Major version of a qemu-i386 binary, or 0 when it does not answer.
ia32_qemu_major() {
  local v
  v=$("$1" --version 2>/dev/null | sed -n 's/.*version \([0-9][0-9]*\)\..*/\1/p' | head -n 1)
  echo "${v:-0}"
}

# The interpreter of the current binfmt entry for i386, and whether it has flag F.
ia32_entry_file() { echo "$(ia32_binfmt_dir)/$IA32_BINFMT_NAME"; }
ia32_entry_interpreter() { sed -n 's/^interpreter //p' "$(ia32_entry_file)" 2>/dev/null; }
ia32_entry_usable() {
  local f interp
  f=$(ia32_entry_file)
  [ -f "$f" ] || return 1
  grep -qx enabled "$f" || return 1
  grep -q '^flags:.*F' "$f" || return 1
  interp=$(ia32_entry_interpreter)
  [ -n "$interp" ] && [ -x "$interp" ] || return 1
  [ "$(ia32_qemu_major "$interp")" -ge "$IA32_MIN_QEMU_MAJOR" ]
}

# First qemu-i386 of a usable version: ours, then the system's.
ia32_find_qemu() {
  local q system
  IFS=: read -r -a system <<<"$(ia32_qemu_system)"
  for q in "$(ia32_qemu_dir)/usr/bin/qemu-i386" "${system[@]}"; do
    if [ -x "$q" ] && [ "$(ia32_qemu_major "$q")" -ge "$IA32_MIN_QEMU_MAJOR" ]; then
      echo "$q"; return 0
    fi
  done
  return 1
}

# The machine's own Debian mirror, from its apt sources (deb822 or one-line form).
ia32_debian_mirror() {
  local f uri apt
  apt=$(ia32_apt_dir)
  for f in "$apt"/sources.list.d/*.sources "$apt"/sources.list "$apt"/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    uri=$(grep -hoE '(https?|file)://[^ ]*/debian/?( |$)' "$f" | grep -v security | head -n 1 | tr -d ' ')
    [ -n "$uri" ] && { echo "${uri%/}"; return 0; }
  done
  echo "http://deb.debian.org/debian"
}

# Fetches Debian 13's qemu-user (its qemu-i386 is static) with a private apt state, leaving the
# machine's apt sources and package set as they are, and unpacks it under the emulator's home.
ia32_fetch_qemu() {
  local home state mirror keyring deb
  home=$(ia32_qemu_dir)
  state="$home/apt"
  mirror=$(ia32_debian_mirror)
  keyring=/usr/share/keyrings/debian-archive-trixie-stable.gpg
  [ -f "$keyring" ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  ia32_say "fetching qemu-user of Debian 13 from $mirror into $home"
  ia32_run mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/deb"
  if [ "${VARDELO_DRY_RUN:-0}" = 1 ]; then
    echo "+ write $state/sources.list: deb [signed-by=$keyring] $mirror trixie main"
  else
    echo "deb [signed-by=$keyring] $mirror trixie main" >"$state/sources.list"
  fi
  local opts=(-o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=-"
              -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache"
              -o "APT::Architecture=amd64" -o "APT::Architectures=amd64" -o "APT::Sandbox::User=root")
  # apt's own errors stay on stderr; each step that fails is named after them.
  if ! ia32_run apt-get -qq "${opts[@]}" update >&2; then
    ia32_say "apt-get update of the private package lists in $state failed (see above)"
    return 1
  fi
  if [ "${VARDELO_DRY_RUN:-0}" = 1 ]; then
    echo "+ (cd $state/deb && apt-get download qemu-user)"
    echo "+ dpkg-deb -x $state/deb/qemu-user_*.deb $home"
    return 0
  fi
  if ! (cd "$state/deb" && rm -f ./*.deb && apt-get -qq "${opts[@]}" download qemu-user >&2); then
    ia32_say "apt-get download qemu-user from $mirror (trixie) failed (see above)"
    return 1
  fi
  local debs=("$state/deb"/qemu-user_*.deb)
  deb=${debs[0]}
  if [ ! -f "$deb" ]; then
    ia32_say "apt-get download left no qemu-user package in $state/deb"
    return 1
  fi
  if ! dpkg-deb -x "$deb" "$home"; then
    ia32_say "dpkg-deb could not unpack $deb into $home (see above)"
    return 1
  fi
  if ! file -L "$home/usr/bin/qemu-i386" | grep -qE 'statically linked|static-pie linked'; then
    ia32_say "$home/usr/bin/qemu-i386 is not a static binary; it cannot serve binfmt_misc flag F"
    return 1
  fi
}

# Builds DIR/exit0, a static i386 program whose only act is the exit system call with status 0.
# It needs no loader and no i386 library, so it runs wherever 32-bit x86 code runs at all.
ia32_build_exit0() {
  local dir=$1
  cat >"$dir/exit0.S" <<'EOF'
    .text
    .globl _start
_start:
    mov $1, %eax                   # exit
    xor %ebx, %ebx                 # status 0
    int $0x80
    .section .note.GNU-stack,"",@progbits
EOF
  if ! cc -m32 -nostdlib -static -no-pie -o "$dir/exit0" "$dir/exit0.S" 2>"$dir/err"; then
    ia32_say "cannot build a static i386 test program:"; cat "$dir/err" >&2
    return 1
  fi
}

# Builds that program and runs it, through COMMAND (an emulator, say) where one is given; sets
# IA32_EXIT0_STATUS and IA32_EXIT0_SAID (what it wrote on stderr, indented) and returns 0 when
# it ended with status 0. A program that cannot be built counts as status 1.
ia32_run_exit0() {  # ia32_run_exit0 [COMMAND...]
  local tmp
  IA32_EXIT0_STATUS=0 IA32_EXIT0_SAID=""
  tmp=$(mktemp -d)
  if ia32_build_exit0 "$tmp"; then
    { (ulimit -c 0; "$@" "$tmp/exit0"); } 2>"$tmp/out" || IA32_EXIT0_STATUS=$?
    IA32_EXIT0_SAID=$(sed 's/^/  /' "$tmp/out")
  else
    IA32_EXIT0_STATUS=1
  fi
  rm -rf "$tmp"
  [ "$IA32_EXIT0_STATUS" = 0 ]
}

# Proves that 32-bit programs run here, natively or through the registered emulator, by running
# that program. Non-zero with a message, and the program's own complaint, where they do not.
ia32_check_runs() {
  if ! ia32_run_exit0; then
    ia32_say "32-bit programs still do not run here: a static i386 program ended with status $IA32_EXIT0_STATUS"
    [ -z "$IA32_EXIT0_SAID" ] || echo "$IA32_EXIT0_SAID" >&2
    return 1
  fi
  ia32_say "32-bit programs run here"
}

# Writes TEXT into a control file of binfmt_misc: `register`, or an entry (-1 removes it).
ia32_binfmt_write() {  # ia32_binfmt_write FILE TEXT
  if [ "${VARDELO_DRY_RUN:-0}" = 1 ]; then
    echo "+ write $1: $2"
  else
    printf '%s' "$2" >"$1"
  fi
}

# The rule that registers the current entry again, rebuilt from its file (interpreter, flags,
# offset, magic, mask); empty where there is no entry, or one not matched by magic.
ia32_entry_rule() {
  local f interp flags offset magic mask
  f=$(ia32_entry_file)
  [ -f "$f" ] || return 0
  interp=$(ia32_entry_interpreter)
  flags=$(sed -n 's/^flags: *//p' "$f")
  offset=$(sed -n 's/^offset //p' "$f")
  magic=$(sed -n 's/^magic //p' "$f" | sed 's/../\\x&/g')
  mask=$(sed -n 's/^mask //p' "$f" | sed 's/../\\x&/g')
  [ -n "$interp" ] && [ -n "$magic" ] || return 0
  echo ":$IA32_BINFMT_NAME:M:$offset:$magic:$mask:$interp:$flags"
}

# Registers qemu as the interpreter of i386 ELF files, replacing an older entry of that name.
# The machine is never left without an entry that worked: the new interpreter must first run a
# static i386 program itself, and where its rule cannot be written the old rule is written back.
ia32_register() {
  local qemu=$1 dir old
  dir=$(ia32_binfmt_dir)
  if [ ! -e "$dir/register" ]; then
    ia32_run mount -t binfmt_misc binfmt_misc "$dir" || true
    if [ "${VARDELO_DRY_RUN:-0}" != 1 ] && [ ! -e "$dir/register" ]; then
      ia32_say "binfmt_misc is not available at $dir; i386 programs cannot be run here"
      return 1
    fi
  fi
  if ! ia32_run_exit0 ia32_run "$qemu"; then
    ia32_say "$qemu cannot run a static i386 program (status $IA32_EXIT0_STATUS); the binfmt entry is left as it is"
    [ -z "$IA32_EXIT0_SAID" ] || echo "$IA32_EXIT0_SAID" >&2
    return 1
  fi
  old=$(ia32_entry_rule)
  if [ -e "$(ia32_entry_file)" ]; then
    ia32_say "replacing the binfmt entry for i386 ($(ia32_entry_interpreter))"
    if ! ia32_binfmt_write "$(ia32_entry_file)" -1; then
      ia32_say "could not remove the binfmt entry $(ia32_entry_file); it is left as it is"
      return 1
    fi
  fi
  ia32_binfmt_write "$dir/register" ":$IA32_BINFMT_NAME:M::$IA32_MAGIC:$IA32_MASK:$qemu:F" && return 0
  ia32_say "could not register $qemu for i386 programs through $dir/register"
  if [ -n "$old" ]; then
    if ia32_binfmt_write "$dir/register" "$old"; then
      ia32_say "the previous entry is back: $old"
    else
      ia32_say "the previous entry could not be written back either; it was: $old"
    fi
  fi
  return 1
}

# Makes sure 32-bit programs run here. Prints what it found; non-zero where it cannot.
ia32_ensure() {
  local kind qemu
  kind=$(ia32_kind) || return 1
  if [ "$kind" = native ]; then
    ia32_say "this kernel runs 32-bit x86 code natively; no emulator is involved"
    return 0
  fi
  ia32_say "this kernel has no 32-bit user mode: 32-bit programs run under qemu-i386"
  if ia32_entry_usable; then
    ia32_say "i386 already registered with $(ia32_entry_interpreter)"
    return 0
  fi
  if [ "${VARDELO_UID:-$(id -u)}" != 0 ]; then
    ia32_say "registering an emulator needs root; run: sudo $0"
    return 1
  fi
  if ! qemu=$(ia32_find_qemu); then
    ia32_fetch_qemu || { ia32_say "could not fetch qemu-user of Debian 13"; return 1; }
    qemu="$(ia32_qemu_dir)/usr/bin/qemu-i386"
  fi
  ia32_register "$qemu"
}
