# Helpers for the end-to-end tests: start the real vardelo.exe in the current Wine session and
# display, ask vardelo-probe.exe about it, wait for it to end. Every wait is bounded.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
target="${TARGET_DIR:-$top/build/target}"
exe="$target/vardelo.exe"
# Generous bounds: emulated machines start Wine processes and run the program far more slowly.
WINDOW_SECONDS=${WINDOW_SECONDS:-240}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() {  # expect_eq WHAT EXPECTED GOT
  if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi
}

probe() { "$top/tools/wine-run" "$target/vardelo-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

start_vardelo() {
  "$top/tools/wine-run" "$exe" &
  vardelo_pid=$!
  probe wait-window "$WINDOW_SECONDS" >/dev/null || { fail "no window within $WINDOW_SECONDS s"; return 1; }
}

# Waits up to $1 seconds for the started program to end and sets exit_code (124: still
# running). Not for a command substitution: only this shell can wait for its child.
wait_exit() {
  local seconds=$1 i
  exit_code=124
  for ((i = 0; i < seconds * 10; i++)); do
    if ! kill -0 "$vardelo_pid" 2>/dev/null; then
      wait "$vardelo_pid"
      exit_code=$?
      return
    fi
    sleep 0.1
  done
}

stop_vardelo() { kill "$vardelo_pid" 2>/dev/null; wait "$vardelo_pid" 2>/dev/null; }

# Offset of the program's BenchState from the start of its image, for `probe cycle`.
bench_rva() {
  local base addr
  base=$(i686-w64-mingw32-objdump -p "$exe" | awk '/^ImageBase/ {print $2}')
  addr=$(i686-w64-mingw32-nm "$exe" | awk '/ __ZN7vardelo5benchE$/ {print $1}')
  printf '0x%x\n' $((16#$addr - 16#$base))
}
