#!/usr/bin/env bash
# Checks that tools/with-wineserver cleans up on every way out: the command's own end, a command
# that cannot start, a TERM or HUP sent to the script alone, and Ctrl-C to the whole group. Wine
# is replaced by stand-ins on PATH that log what they are asked, so no Wine runs here.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
tool="$top/tools/with-wineserver"

passed=0 failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then passed=$((passed + 1));
  else failed=$((failed + 1)); printf 'FAIL %s\n  expected: %s\n  got: %s\n' "$1" "$2" "$3"; fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin"
log="$scratch/log"
for name in wine wineserver; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$name" "$log" >"$scratch/bin/$name"
  chmod +x "$scratch/bin/$name"
done
export PATH="$scratch/bin:$PATH" WINEPREFIX="$scratch/prefix"

# A command that notes its pid and then waits for a signal; `exec` makes it the sleep itself.
cat >"$scratch/long" <<EOF
#!/bin/sh
echo \$\$ >"$scratch/pid"
exec sleep 1000
EOF
chmod +x "$scratch/long"

# Waits, within a bound that only a broken script reaches, for a file or for a process to end.
wait_for_file() { local n=0; while [ ! -s "$1" ] && [ $n -lt 300 ]; do sleep 0.1; n=$((n + 1)); done; }
wait_for_end() { local n=0; while kill -0 "$1" 2>/dev/null && [ $n -lt 300 ]; do sleep 0.1; n=$((n + 1)); done; }
alive() { kill -0 "$1" 2>/dev/null && echo alive || echo gone; }
# Sets `reaped` to the exit code of a script that was signalled, or to "still running" (and
# then ends it). Not in a subshell: only this shell can wait for its children.
reap() {
  wait_for_end "$1"
  if kill -0 "$1" 2>/dev/null; then
    kill -KILL "$1" 2>/dev/null; wait "$1" 2>/dev/null; reaped="still running"
  else
    wait "$1"; reaped=$?
  fi
}

# Normal end: the command's exit code comes back, the server is started first and ended last.
: >"$log"
"$tool" sh -c 'exit 3'
check "exit code passed on" 3 "$?"
check "server started, then ended" "wineserver -p|wine cmd /c exit|wineserver -k" "$(paste -sd'|' "$log")"

# The command reads this script's standard input as if run in the foreground.
check "stdin reaches the command" "hello" "$(echo hello | "$tool" head -n 1)"

# A command that cannot start still ends the server.
: >"$log"
"$tool" "$scratch/no-such-command" 2>/dev/null
check "missing command: 127" 127 "$?"
check "missing command: server ended" "wineserver -k" "$(tail -n 1 "$log")"

# TERM or HUP to the script alone (a CI runner, timeout): acted on at once, the command stopped.
for signal in TERM HUP; do
  : >"$log"; rm -f "$scratch/pid"
  "$tool" "$scratch/long" &
  script=$!
  wait_for_file "$scratch/pid"
  command=$(cat "$scratch/pid")
  kill -"$signal" "$script"
  reap "$script"
  check "$signal: exit code" "$([ "$signal" = TERM ] && echo 143 || echo 129)" "$reaped"
  check "$signal: command stopped" gone "$(alive "$command")"
  check "$signal: server ended" "wineserver -k" "$(tail -n 1 "$log")"
  kill -KILL "$command" 2>/dev/null
done

# Ctrl-C reaches the whole process group: the command ends of it, the script cleans up.
: >"$log"; rm -f "$scratch/pid"
setsid "$tool" "$scratch/long" &
leader=$!
wait_for_file "$scratch/pid"
command=$(cat "$scratch/pid")
kill -INT -- -"$leader"
reap "$leader"
check "Ctrl-C: exit code" 130 "$reaped"
check "Ctrl-C: command stopped" gone "$(alive "$command")"
check "Ctrl-C: server ended" "wineserver -k" "$(tail -n 1 "$log")"
kill -KILL "$command" 2>/dev/null

echo "with-wineserver: $passed passed, $failed failed"
[ "$failed" = 0 ]
