#!/usr/bin/env bash
# Every test: the Linux build with AddressSanitizer and UBSan, then the Windows build of the
# core and its tests under Wine. Ends with one "tests: N passed, N failed" line (", N skipped"
# after it when a test could not run here, such as the VM test without Debian's kernel).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

passed=0
failed=0
skipped=0
status=0
skip_reason() {  # build folder, test name: the reason the test gave (its "SKIPPED: " line, or
                 # GoogleTest's message after "Skipped")
  awk -v t="Testing: $2" -v e="\"$2\" end time" '
    length($0) >= length(t) && substr($0, length($0) - length(t) + 1) == t { on = 1; next }
    on && /^SKIPPED: / { sub(/^SKIPPED: /, ""); print; exit }
    on && /: Skipped$/ { getline; print; exit }
    on && index($0, e) == 1 { exit }' "$1/Testing/Temporary/LastTest.log" 2>/dev/null
}
tally() {  # reads a ctest log; $2: the build folder, for the reasons of skipped tests
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then status=1; return; fi
  local total bad skip name
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  # ctest counts a skipped test among the passed ones; it is neither.
  skip=$(grep -cE '^\s+[0-9]+ - .* \(Skipped\)$' "$1")
  for name in $(sed -nE 's/^\s+[0-9]+ - (.*) \(Skipped\)$/\1/p' "$1"); do
    echo "skipped: $name: $(skip_reason "$2" "$name")"
  done
  passed=$((passed + total - bad - skip))
  failed=$((failed + bad))
  skipped=$((skipped + skip))
}

# Qt on the offscreen platform wants a private runtime folder.
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 0700 "$XDG_RUNTIME_DIR"

log=$(mktemp -d)
xvfb=""
trap 'rm -rf "$log"; [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null' EXIT

echo "== Format (.clang-format on every C++ file)"
unformatted=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -oE '^[^:]+:[0-9]+:[0-9]+: warning' | cut -d: -f1 | sort -u)
if [ -n "$unformatted" ]; then
  echo "not formatted (run clang-format -i on them):"; echo "$unformatted"
  failed=$((failed + 1))
else
  echo "all formatted"; passed=$((passed + 1))
fi

echo "== Layers (each folder of src/ includes only the folders below it)"
if scripts/check-layers.sh; then
  echo "no upward includes"; passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# The fleet tests' PostgreSQL server is ctest's: a private cluster (tests/fleet/pg-cluster.sh)
# started once before the first test that needs it and stopped after the last.
echo "== Linux (Debug, ASan + UBSan)"
if cmake --preset debug >"$log/cfg-linux" 2>&1 && cmake --build --preset debug; then
  ctest --preset debug 2>&1 | tee "$log/linux"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  tally "$log/linux" build/debug
else
  cat "$log/cfg-linux"; status=1
fi

echo "== Windows (MinGW-w64 cross build, run under Wine)"
export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/mingw/wineprefix"
if cmake --preset mingw >"$log/cfg-win" 2>&1 && cmake --build --preset mingw; then
  # One display for all the Windows tests: Wine's programs need one (without it they hang),
  # and the window's end-to-end test shows its windows there. Xvfb picks a free number.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$log/display" 2>"$log/xvfb" &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$log/display" ] && break; sleep 0.1; done
  skip=()
  if [ -s "$log/display" ]; then
    export DISPLAY=":$(cat "$log/display")"
  else
    echo "Xvfb did not start; the window's end-to-end test cannot run:"; cat "$log/xvfb"
    skip=(-E korvel_win32_e2e)
    failed=$((failed + 1))
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # A persistent server spares each test binary the wait for it to exit. Wine's services
  # start here, outside ctest: started by a test they would hold its output pipe open.
  wineserver -p >/dev/null 2>&1 </dev/null &
  wineboot >/dev/null 2>&1 </dev/null
  # Chinese captions: the UI fonts fall back to the CJK font, as a Chinese Windows links them.
  # Wine puts back its own list for Tahoma whenever a program runs in another code page (the
  # cp936 test), so the end-to-end driver links Tahoma again before it starts the window.
  links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  if ! grep -q '^"MS Shell Dlg"=str(7):"wqy-microhei' "$WINEPREFIX/system.reg"; then
    for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI"; do
      wine reg add "$links" /v "$font" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" \
        /f >/dev/null 2>&1
    done
  fi
  # Xvfb has no window manager: Wine would wait 2 s for one each time it hides a window it
  # leaves to the manager (every dialog, every close). Unmanaged, Wine places them itself.
  if ! grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg"; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  fi
  ctest --preset mingw "${skip[@]}" 2>&1 | tee "$log/win"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  tally "$log/win" build/mingw
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; xvfb=""
  unset DISPLAY
else
  cat "$log/cfg-win"; status=1
fi

echo "== Fuzzing (libFuzzer, bounded runs)"
if cmake --preset fuzz >"$log/cfg-fuzz" 2>&1 && cmake --build --preset fuzz; then
  # target, runs, max input length
  for target in "settings 2000 1024" "compstream 30000 1024"; do
    set -- $target
    mkdir -p "$log/corpus-$1"
    # Crash inputs go to the log folder, never into the working tree.
    if build/fuzz/fuzz/fuzz_$1 -runs="$2" -max_len="$3" -seed=1 -artifact_prefix="$log/" \
        "$log/corpus-$1" "fuzz/corpus/$1" \
        >"$log/fuzz-$1" 2>&1; then
      echo "fuzz_$1: $(grep -E '^Done' "$log/fuzz-$1")"
      passed=$((passed + 1))
    else
      tail -n 40 "$log/fuzz-$1"
      echo "fuzz_$1: FAILED"
      failed=$((failed + 1))
    fi
  done
else
  cat "$log/cfg-fuzz"; status=1
fi

echo "tests: $passed passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
[ "$failed" -eq 0 ] || status=1
exit $status
