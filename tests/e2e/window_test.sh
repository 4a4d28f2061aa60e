#!/usr/bin/env bash
# The window of the real vardelo.exe under Xvfb and Wine, driven with the mouse and keyboard as
# a person would and read back through the window system: the caption, the tabs and their pages,
# the filter button's caption cycle, Escape leaving the window open, the RAM worker bringing the
# read page up when the first cache sweep ends, and the process ending with exit code 0 when the
# window is closed (the About page's "close" button; Alt+F4, the system menu's close, in the
# middle of the read pass). Screenshots of every page, in the default locale and in Russian, are
# kept in $TARGET_DIR/e2e-window/ for a person to look at; the time to the window and the round
# trip of a message to the dialog while the cache sweep runs are printed, not tested.
#
# Control texts, visibility and positions come from vardelo-probe.exe (`state`). The program runs
# on a desktop of its own: the wineserver of the test run may have started its default desktop
# without a display, and a new desktop takes the X display of the process that opens it. Every
# wait is bounded and ends as soon as its condition holds.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
target="${TARGET_DIR:-$top/build/target}"
exe="$target/vardelo.exe"
probeExe="$target/vardelo-probe.exe"
[ -f "$exe" ] && [ -f "$probeExe" ] || { echo "missing $exe or $probeExe"; exit 1; }

if [ -z "${VARDELO_E2E_X:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env VARDELO_E2E_X=1 bash "${BASH_SOURCE[0]}"
fi

export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
work=$(mktemp -d)
runPid=""
# A program left running by a failed check: closed as the window is, else its launcher stopped.
stopProgram() {
  [ -n "$runPid" ] && kill -0 "$runPid" 2>/dev/null || return 0
  wine "$probeExe" --desktop "$desktop" close >/dev/null 2>&1
  local deadline=$((SECONDS + 10))
  while kill -0 "$runPid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
  kill "$runPid" 2>/dev/null
}
trap 'stopProgram; rm -rf "$work"' EXIT
shots="$target/e2e-window"
mkdir -p "$shots"

failures=0
fail() { echo "FAIL [${SECONDS}s]: $*"; failures=$((failures + 1)); }
pass() { echo "ok [${SECONDS}s]: $*"; }

# ---- Helpers ---------------------------------------------------------------------------------
desktop=""
# The probe's C runtime ends its lines with CR LF.
probeState() {
  wine "$probeExe" --desktop "$desktop" state 2>/dev/null | tr -d '\r' >"$work/state"
  [ "${PIPESTATUS[0]}" = 0 ]
}
# Polls `probeState && <condition>` until it holds or `seconds` pass.
waitFor() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  while ((SECONDS < deadline)); do
    if probeState && "$@"; then return 0; fi
    sleep 0.2
  done
  return 1
}
visiblePages() { awk '$1 == "page" && $3 == 1 { printf "%s", $2 }' "$work/state"; }
pageShown() { [ "$(visiblePages)" = "$1" ]; }
controlField() {  # page id field: 3 x, 4 y, 5 text
  awk -v p="$1" -v i="$2" '$1 == "control" && $2 == p && $3 == i' "$work/state" |
    cut -d' ' -f"$(($3 + 1))$([ "$3" = 5 ] && echo -)"
}
captionIs() { [ "$(controlField "$1" "$2" 5)" = "$3" ]; }
tabCentre() { awk -v t="$1" '$1 == "tab" && $2 == t { print $3, $4 }' "$work/state"; }
# No --sync: it waits for the pointer to move, and a second click on the same spot does not move it.
click() { xdotool mousemove "$1" "$2" click 1; }
xWindow() { xdotool search --name '^Memory benchmark v0\.1\.5 \(alpha\)$' 2>/dev/null | head -1; }
xViewable() { xwininfo -id "$(xWindow)" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Clicks tab `t` until its page is the one shown; a worker starting a pass may bring its own page
# up at the same moment, so one more click is allowed for.
showTab() {
  local t=$1 deadline=$((SECONDS + 60))
  while ((SECONDS < deadline)); do
    probeState || return 1
    read -r x y <<<"$(tabCentre "$t")"
    [ -n "$x" ] || return 1
    click "$x" "$y"
    waitFor 10 pageShown "$t" && return 0
  done
  return 1
}

shoot() {  # name: the main window's rectangle from the last probe
  local l t r b
  read -r l t r b <<<"$(awk '$1 == "main" { print $2, $3, $4, $5 }' "$work/state")"
  import -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "$shots/$1.png"
}

# Starts vardelo.exe on desktop $1; sets runPid. Returns 1 when no window shows within the bound.
start() {
  desktop=$1
  local winExe started
  winExe=$(winepath -w "$exe")
  started=$(date +%s%N)
  wine "$probeExe" run "$desktop" "$winExe" >"$work/run-$desktop.log" 2>&1 &
  runPid=$!
  # Emulated machines start Wine processes far more slowly, and the start-up calibrates first.
  if ! waitFor 240 true; then
    fail "no main window within 240 s"
    return 1
  fi
  local found=$(date +%s%N)
  local deadline=$((SECONDS + 60))
  until xViewable || ((SECONDS >= deadline)); do sleep 0.2; done
  xViewable || fail "the main window is not on the X display"
  echo "time from start to the window on screen: $(( ($(date +%s%N) - started) / 1000000 )) ms" \
       "(window created after $(( (found - started) / 1000000 )) ms)"
}

# Waits for the program to end; checks exit code 0 within `seconds`. Prints the time taken.
expectExit() {
  local seconds=$1 what=$2
  local from=$(date +%s%N) deadline=$((SECONDS + seconds))
  while kill -0 "$runPid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.05; done
  if kill -0 "$runPid" 2>/dev/null; then
    fail "$what: still running after $seconds s"
    stopProgram
    return
  fi
  wait "$runPid"
  local rc=$?
  local ms=$(( ($(date +%s%N) - from) / 1000000 ))
  if [ "$rc" = 0 ]; then pass "$what: exit code 0 after $ms ms"; else fail "$what: exit code $rc"; fi
}

# ---- Default locale: tabs, filter, Escape, the About page's close button ---------------------
echo "-- default locale"
if start vardelo-e2e-default; then
  caption=$(awk '$1 == "main"' "$work/state" | cut -d' ' -f6-)
  [ "$caption" = "Memory benchmark v0.1.5 (alpha)" ] && pass "caption \"$caption\"" ||
    fail "caption: expected \"Memory benchmark v0.1.5 (alpha)\", got \"$caption\""
  xprop -id "$(xWindow)" WM_NAME | grep -qF '"Memory benchmark v0.1.5 (alpha)"' ||
    fail "X window name: $(xprop -id "$(xWindow)" WM_NAME)"
  pageShown 0 && pass "only the cache page shown at start" ||
    fail "pages shown at start: expected 0, got $(visiblePages)"
  captionIs 1 1201 "фильтр 4" || fail "read filter at start: got \"$(controlField 1 1201 5)\""
  shoot default-cache

  names=(cache read write about)
  for t in 1 2 3 0; do
    if showTab "$t"; then
      pass "tab $t shows page $t alone"
      shoot "default-${names[$t]}"
    else
      fail "tab $t: pages shown $(visiblePages)"
    fi
  done

  # Seven presses bring the caption back to "фильтр 4", through "фильтр --" for level 0.
  if showTab 1; then
    for want in "фильтр 5" "фильтр 6" "фильтр --" "фильтр 1" "фильтр 2" "фильтр 3" "фильтр 4"; do
      pageShown 1 || showTab 1
      click "$(controlField 1 1201 3)" "$(controlField 1 1201 4)"
      if ! waitFor 30 captionIs 1 1201 "$want"; then
        fail "filter caption: expected \"$want\", got \"$(controlField 1 1201 5)\""
        break
      fi
    done
    captionIs 1 1201 "фильтр 4" && pass "filter caption cycled back to \"фильтр 4\""
  else
    fail "cannot show the read page for the filter presses"
  fi

  # Escape, then Space on the filter button, which has the focus since its last click: once the
  # caption moves on, the keys have arrived and the Escape before the Space has been handled.
  xdotool windowfocus --sync "$(xWindow)" 2>/dev/null
  xdotool key Escape space
  if waitFor 30 captionIs 1 1201 "фильтр 5" && kill -0 "$runPid" 2>/dev/null; then
    pass "Escape leaves the window open"
  else
    fail "after Escape and Space: window $(probeState && echo present || echo gone)," \
         "read filter \"$(controlField 1 1201 5)\""
  fi

  if showTab 3; then
    click "$(controlField 3 1300 3)" "$(controlField 3 1300 4)"
    expectExit 30 "About page's close button"
  else
    fail "cannot show the About page"
  fi
fi

# ---- Russian locale: legible labels, the workers' page change, Alt+F4 in the middle of a pass -
echo "-- LANG=ru_RU.UTF-8"
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
if start vardelo-e2e-ru; then
  captionIs 0 1100 "обновить" || fail "cache restart button: got \"$(controlField 0 1100 5)\""
  shoot ru-cache
  showTab 1 && shoot ru-read || fail "ru: tab 1"
  captionIs 1 1201 "фильтр 4" || fail "ru read filter: got \"$(controlField 1 1201 5)\""
  showTab 3 && shoot ru-about || fail "ru: tab 3"
  showTab 0 || fail "ru: tab 0"

  # The first cache sweep runs on its own; when it ends, the RAM worker starts its read pass and
  # brings the read page up. Meanwhile the user-interface thread must keep answering.
  pings="$work/pings"
  : >"$pings"
  unanswered=0
  deadline=$((SECONDS + 1800))
  until pageShown 1 || ((SECONDS >= deadline)); do
    wine "$probeExe" --desktop "$desktop" round-trip 2>/dev/null >"$work/ping" || unanswered=$((unanswered + 1))
    tr -d '\r' <"$work/ping" >>"$pings"
    sleep 0.5
    probeState || break
  done
  [ "$unanswered" = 0 ] || fail "$unanswered messages to the dialog unanswered within 10 s"
  if pageShown 1; then
    pass "the RAM worker brought the read page up"
    shoot ru-read-pass
  else
    fail "the read page did not come up within 1800 s of the cache sweep"
  fi
  LC_ALL=C sort -n "$pings" | LC_ALL=C awk '{ v[NR] = $1 } END {
      if (NR) printf "round trip of a message to the dialog during the cache sweep: %d samples, median %.1f ms, max %.1f ms\n", NR, v[int((NR + 1) / 2)], v[NR] }'

  xdotool windowfocus --sync "$(xWindow)" 2>/dev/null
  xdotool key alt+F4
  expectExit 30 "Alt+F4 during the read pass"
fi

echo "screenshots: $shots"
[ "$failures" = 0 ] && echo "window test passed" || echo "window test: $failures failures"
[ "$failures" = 0 ]
