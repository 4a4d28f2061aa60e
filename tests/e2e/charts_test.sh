#!/usr/bin/env bash
# The charts of the real program, read off screenshots at the layout's pixel coordinates: the
# black plot with its vertical grid in each chart's colours, the margin colour, the curves and the
# legend of the cache chart while the RAM passes run, and the dotted marker at x = 140 with the
# read and write curves once the whole first cycle has ended. Screenshots stay in
# $TARGET_DIR/e2e-charts/ for a person to look at.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }
shots="$target/e2e-charts"
mkdir -p "$shots"

# Colours of the pixels of one column (x, rows from..to) of page $1 in screenshot $2, one
# "r,g,b" a line, in page coordinates.
column() {  # column PAGE SHOT X FROM TO
  local ox oy
  read -r ox oy <<<"$(probe origin "$1")"
  convert "$2" -crop "1x$(($5 - $4 + 1))+$((ox + $3))+$((oy + $4))" +repage txt:- |
    sed -n 's/^[0-9]*,[0-9]*: (\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1,\2,\3/p'
}
pixel() { column "$1" "$2" "$3" "$4" "$4"; }
# Share, in percent, of the column's pixels that have one of the colours given.
share() {  # share "COLUMN-LINES" COLOUR...
  local lines=$1; shift
  local total hits=0 c
  total=$(grep -c . <<<"$lines")
  for c in "$@"; do hits=$((hits + $(grep -cx "$c" <<<"$lines"))); done
  echo $((100 * hits / (total > 0 ? total : 1)))
}
count() {  # count "COLUMN-LINES" COLOUR: how many pixels have that colour
  grep -cx "$2" <<<"$1"
}
at_least() {  # at_least WHAT LEAST GOT
  if [ "$3" -ge "$2" ]; then echo "ok: $1 ($3)"; else fail "$1: $3 (at least $2 expected)"; fi
}
shoot() { import -window root "$shots/$1.png"; echo "$shots/$1.png"; }

start_vardelo || exit 1
read -r fr fg fb <<<"$(probe face)"
back="$((fr > 5 ? fr - 5 : 0)),$((fg > 5 ? fg - 5 : 0)),$fb"

# During the cycle: the read pass has started, so the cache sweep is complete.
probe wait-tab 1 600 >/dev/null || fail "the read pass did not start"
probe select-tab 0 >/dev/null
sleep 2  # let the page paint; the checks below read what it drew
shot=$(shoot cache-during)
at_least "cache plot: black between grid lines" 60 "$(share "$(column 0 "$shot" 48 7 255)" 0,0,0)"
at_least "cache coarse vertical grid at x = 204" 60 "$(share "$(column 0 "$shot" 204 7 255)" 0,150,150)"
at_least "cache fine vertical grid at x = 52" 50 "$(share "$(column 0 "$shot" 52 7 255)" 0,100,100)"
expect_eq "cache right margin in the margin colour" "$back" "$(pixel 0 "$shot" 370 100)"
legend=$(for x in $(seq 244 300); do column 0 "$shot" "$x" 16 29; done)
# Smoothed text has few pixels of the exact colour; count the yellow ones.
yellow=$(grep -cE '^(2[0-9][0-9]),(2[0-9][0-9]),([0-9]|[1-9][0-9])$' <<<"$legend")
at_least "cache legend in yellow at (244,16)" 1 "$((100 * yellow / $(grep -c . <<<"$legend")))"
plot=$(for x in $(seq 45 2 363); do column 0 "$shot" "$x" 7 255; done)
at_least "data curve drawn in its pen (pixels)" 20 "$(count "$plot" 200,200,0)"

# After the cycle: every curve is complete.
probe wait-cycle "$(bench_rva)" 1800 >/dev/null || fail "the first cycle did not end"
for page in 1 2; do
  probe select-tab "$page" >/dev/null
  sleep 2
  shot=$(shoot "page$page-after")
  if [ "$page" = 1 ]; then coarse=0,75,75 marker=1,1,1; else coarse=75,22,75 marker=0,0,0; fi
  at_least "page $page coarse vertical grid at x = 204" 40 "$(share "$(column "$page" "$shot" 204 7 255)" "$coarse")"
  marks=$(column "$page" "$shot" 140 7 255)
  at_least "page $page dotted marker at x = 140: dots" 25 "$(share "$marks" "$marker")"
  at_least "page $page dotted marker at x = 140: gaps in the margin colour" 25 "$(share "$marks" "$back")"
  expect_eq "page $page right margin in the margin colour" "$back" "$(pixel "$page" "$shot" 370 100)"
  plot=$(for x in $(seq 45 2 363); do column "$page" "$shot" "$x" 7 255; done)
  at_least "page $page curves of block 32 drawn (pixels)" 20 "$(count "$plot" 0,150,255)"
  at_least "page $page curves of block 256 drawn (pixels)" 20 "$(count "$plot" 200,240,0)"
done

probe close >/dev/null
wait_exit 30
expect_eq "closing ends the process with 0" 0 "$exit_code"
stop_vardelo
[ "$failures" = 0 ]
