#!/usr/bin/env bash
# Figures of the Windows programs: exe sizes (as built and stripped), start-up to a painted
# window under Wine (median of 5), and one unit from Go to PASS under Wine against the Linux
# demo. Run from anywhere; builds what is missing. Prints one "figure:" line per number.
#
#   scripts/win32-figures.sh [--units-runs=N]   (end-to-end runs for the unit time; default 2)
#
# LINUX_BUILD: the Linux release build to compare with (default build/release).
set -uo pipefail
cd "$(dirname "$0")/.."
runs=2
for arg in "$@"; do
  case "$arg" in
    --units-runs=*) runs="${arg#*=}" ;;
    *) echo "usage: $0 [--units-runs=N]" >&2; exit 2 ;;
  esac
done

win="$PWD/build/mingw"
linux=$(realpath -m "${LINUX_BUILD:-build/release}")
work=$(mktemp -d)
xvfb=""
trap 'rm -rf "$work"; [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

echo "== Build (mingw preset)"
cmake --preset mingw >/dev/null || exit 1
cmake --build --preset mingw --target korvel-rf korvel-rf-tool korvel-rf-demo korvel_win32_e2e || exit 1
demo="$win/app/korvel-rf-demo.exe"
tool="$win/app/korvel-rf-tool.exe"

echo "== Sizes"
for exe in "$tool" "$demo"; do
  x86_64-w64-mingw32-strip --strip-all -o "$work/stripped.exe" "$exe"
  echo "figure: size $(basename "$exe"): $(stat -c %s "$exe") bytes as built (mingw preset, Debug)," \
       "$(stat -c %s "$work/stripped.exe") bytes stripped"
done

echo "== Wine in Xvfb"
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$win/wineprefix}"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p >/dev/null 2>&1 </dev/null &
wineboot >/dev/null 2>&1 </dev/null
# No window manager in Xvfb: unmanaged windows, or Wine waits 2 s for one at each hide.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# A saved language: no language dialog in the way of the first paint.
wine reg add 'HKCU\Software\KORVEL\RF_BIND' /v LngSection /d lkEng /f >/dev/null 2>&1

echo "== Start-up to a painted window (demo, --screenshot --after=0; one warm-up run first)"
times=()
for i in 0 1 2 3 4 5; do
  dir="$work/start$i"
  mkdir -p "$dir"
  start=$(now_ms)
  (cd "$dir" && timeout 60 wine "$demo" --screenshot=shot.png --after=0 >/dev/null 2>&1)
  rc=$?
  ms=$(( $(now_ms) - start ))
  shot=none
  [ -s "$dir/shot.png" ] && shot=shot.png
  echo "run $i: ${ms} ms, exit $rc, picture $shot"
  [ "$i" -eq 0 ] || times+=("$ms")
done
echo "figure: start-up to a painted window under Wine: median $(printf '%s\n' "${times[@]}" | median) ms of 5 (${times[*]})"

# Wine's own share: a console program that prints its usage and ends.
times=()
for i in 1 2 3 4 5; do
  start=$(now_ms)
  wine "$win/app/korvel-rf.exe" >/dev/null 2>&1
  times+=("$(( $(now_ms) - start ))")
done
echo "figure: Wine starting and ending a console program (korvel-rf.exe, usage): median" \
     "$(printf '%s\n' "${times[@]}" | median) ms of 5 (${times[*]})"

echo "== One unit under Wine (the end-to-end driver: Go by button, then by PageDown)"
: >"$work/units"
for i in $(seq "$runs"); do
  timeout 300 wine "$win/tests/win32/korvel_win32_e2e.exe" --gtest_filter='OperatorShift.*' \
    "--program=$demo" >"$work/e2e$i" 2>&1 || { echo "end-to-end run $i failed:"; tail -n 30 "$work/e2e$i"; }
  grep '^figure: unit' "$work/e2e$i" | tee -a "$work/units"
done
# figure: unit 1 by button: edtCaliTime "2.801" = 2801 ms, record 2798 ms, driver wall 2904 ms
field() { sed -E "s/.*$1 ([0-9.]+).*/\\1/" "$work/units"; }
echo "figure: unit under Wine: window (edtCaliTime) median $(field '" =' | median) ms," \
     "record median $(field record | median) ms, driver's wall time from Go to PASS seen" \
     "median $(field wall | median) ms, over $(wc -l <"$work/units") units"
wineserver -k >/dev/null 2>&1 || true
kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; xvfb=""

echo "== One unit on the Linux demo (offscreen; started as by the loader, so Go runs by itself)"
if [ -x "$linux/app/korvel-rf-demo" ] && [ -x "$linux/app/korvel-rf" ]; then
  export QT_QPA_PLATFORM=offscreen
  export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work/runtime}"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
  linux_ms=()
  for i in 1 2 3 4 5; do
    dir="$work/linux$i"
    mkdir -p "$dir/config/KORVEL"
    printf '[RF_BIND]\r\nLngSection=lkEng\r\n' >"$dir/config/KORVEL/RF_BIND.ini"
    # Any parameter is the loader's: the tool runs Go on the first ready unit; the picture
    # after 12 s ends the program once the unit is done.
    (cd "$dir" && XDG_CONFIG_HOME="$dir/config" timeout 60 "$linux/app/korvel-rf-demo" \
       LOADER --screenshot="$dir/shot.png" --after=12000 >/dev/null 2>&1)
    row=$("$linux/app/korvel-rf" records --db "$dir/production.db" 2>/dev/null | head -n 1)
    echo "run $i: $row"
    ms=$(sed -nE 's/.* PASS ms=([0-9]+).*/\1/p' <<<"$row")
    [ -n "$ms" ] && linux_ms+=("$ms")
  done
  times=()
  for i in 1 2 3 4 5; do
    dir="$work/linux-start$i"
    mkdir -p "$dir/config/KORVEL"
    printf '[RF_BIND]\r\nLngSection=lkEng\r\n' >"$dir/config/KORVEL/RF_BIND.ini"
    start=$(now_ms)
    (cd "$dir" && XDG_CONFIG_HOME="$dir/config" timeout 60 "$linux/app/korvel-rf-demo" \
       --screenshot="$dir/shot.png" --after=0 >/dev/null 2>&1)
    times+=("$(( $(now_ms) - start ))")
  done
  echo "figure: start-up to a painted window, Linux demo offscreen: median" \
       "$(printf '%s\n' "${times[@]}" | median) ms of 5 (${times[*]})"
  echo "figure: unit on the Linux demo: record median $(printf '%s\n' "${linux_ms[@]}" | median) ms" \
       "over ${#linux_ms[@]} units (${linux_ms[*]})"
else
  echo "no Linux release build at $linux (cmake --preset release && cmake --build --preset release" \
       "--target korvel-rf-demo korvel-rf)"
fi
