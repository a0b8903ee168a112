#!/usr/bin/env bash
# vm_hidraw: the tool's hidraw backend and hot-plug source on a real kernel. Debian's kernel
# boots under QEMU; in the guest korvel-uhid-rx presents the emulated dongle through
# /dev/uhid, korvel-hidraw-check drives the backend against it, and korvel-rf scan looks for
# it. This side checks the guest's output. Exit 0 passed, 1 failed, 77 skipped (the reason
# is printed).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/vm-lib.sh"

cache="" work="" korvel_rf="" uhid_rx="" check=""
while [ $# -gt 0 ]; do
  case $1 in
    --cache) cache=$2 ;;
    --work) work=$2 ;;
    --korvel-rf) korvel_rf=$2 ;;
    --uhid-rx) uhid_rx=$2 ;;
    --check) check=$2 ;;
    *) echo "usage: $0 --cache DIR --work DIR --korvel-rf EXE --uhid-rx EXE --check EXE" >&2; exit 2 ;;
  esac
  shift 2
done
[ -n "$cache" ] && [ -n "$work" ] && [ -n "$check" ] || { echo "$0: missing options" >&2; exit 2; }

skip() { echo "SKIPPED: $VM_SKIP"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

start=$(now)
rm -rf "$work" && mkdir -p "$work"
vm_kernel "$cache" || { [ -n "${VM_SKIP:-}" ] && skip; fail "$VM_ERROR"; }
kernel_ready=$(now)
VM_FILES+=("$here/station-TX.ini=/etc/korvel/TX.ini")
vm_initramfs "$work" "$here/hidraw-steps.sh" "$korvel_rf" "$uhid_rx" "$check" ||
  { [ -n "${VM_SKIP:-}" ] && skip; fail "$VM_ERROR"; }
image_ready=$(now)
vm_boot "$work" 120 || { [ -n "${VM_SKIP:-}" ] && skip; tail -n 40 "$work/serial.log"; fail "$VM_ERROR"; }
booted=$(now)

# ---- What the guest must have shown: every check on the host side is here. ----
log=$work/guest.log
failures=0
expect() {  # description, extended regular expression a guest line must match
  expect_count "$1" "$2" +
}
expect_count() {  # description, regular expression, how many lines ("+": at least one)
  local n
  n=$(grep -cE "$2" "$log")
  if { [ "$3" = + ] && [ "$n" -gt 0 ]; } || [ "$n" = "$3" ]; then
    echo "ok    $1"
  else
    echo "FAIL  $1"
    echo "      $n guest line(s) match, not $3: $2"
    failures=$((failures + 1))
  fi
}

expect "the guest booted Debian's kernel $VM_RELEASE" "^KORVEL-VM init: kernel $VM_RELEASE"
if grep -q "insmod .* failed" "$log"; then echo "FAIL  a module did not load"; failures=$((failures + 1)); else echo "ok    hid, uhid and hid-generic loaded"; fi
for name in hotplug_source plug_events enumerate open_first link_query set_feature get_feature \
            other_report_id_refused fetch_lengths unplug_events gone_after_unplug replug unprivileged_listing \
            unprivileged_open_refused permission_hint unprivileged; do
  expect "check $name" "^KORVEL-VM check: CHECK $name ok"
done
expect "no check failed" "^KORVEL-VM check: CHECKS passed=[0-9]+ failed=0$"
# The report ID in byte 0 both ways, as the device side saw it: a set arrives with the ID
# as rnum and as the first data byte; a get is asked for the ID the caller put in byte 0,
# and the device's answer comes back with nothing put in front of it.
expect "a set reaches the dongle with report ID 1 in byte 0" \
  "^KORVEL-VM rx: korvel-uhid-rx: vendor SET_REPORT id=[0-9]+ rnum=1 rtype=feature 01 04 1e 12 34 00 00 00 00 -> ok$"
expect "a get asks the dongle for report ID 1" \
  "^KORVEL-VM rx: korvel-uhid-rx: vendor GET_REPORT id=[0-9]+ rnum=1 rtype=feature -> 12 34 00 00 00 00 00 cc 00$"
expect "a get with ID 2 in byte 0 asks for report 2" \
  "^KORVEL-VM rx: korvel-uhid-rx: vendor GET_REPORT id=[0-9]+ rnum=2 rtype=feature -> refused$"
expect "the hidraw open reaches the device" "^KORVEL-VM rx: korvel-uhid-rx: vendor OPEN$"
expect_count "scan marks the vendor node" "^KORVEL-VM scan: \* /dev/hidraw[0-9]+  1BCF:053A  0100  9$" 1
expect_count "scan lists the mouse and keyboard nodes unmarked" \
  "^KORVEL-VM scan:   /dev/hidraw[0-9]+  1BCF:053A  0100  0$" 2
expect "the device images: register 30 written" \
  '^KORVEL-VM images: \{"units":\[\{"unit":1,"rx_registers_before":\[([0-9]+,){30}65535,.*\],"rx_registers":\[([0-9]+,){30}4660,'
expect "every guest program ended well" "^KORVEL-VM status: check=0 scan=0 uhid-rx=0$"
expect "the guest powered off after its steps" "^KORVEL-VM end: steps exit 0"

# The station: three units through sysfs, hidraw and the kernel's uevents, each the same on
# the devices as `korvel-rf simulate` makes it from the same TX.ini.
expect "the station learns of plugs from the kernel" \
  '^KORVEL-VM station: station .*hotplug="hot-plug: kernel uevents \(hidraw\)"$'
expect_count "the station passes three units" "^KORVEL-VM station: unit=[123] result=PASS " 3
expect "and ends after them" "^KORVEL-VM station: summary units=3 pass=3$"
expect "a unit whose registers do not read back fails at that register" \
  '^KORVEL-VM fault: unit=1 result=FAIL reason="RX register [0-9]+ read-back 0x[0-9A-F]+ != 0x[0-9A-F]+" '
expect "a user who may not open the node gets the hint" '^KORVEL-VM user: message error=".*may not open'
expect "and the station ends cleanly on SIGTERM" "^KORVEL-VM user: summary units=0 pass=0$"
expect "every station run ended with 0" \
  "^KORVEL-VM station-status: station=0 uhid-rx=0 fault=0 user=0$"
sim=$work/simulate
mkdir -p "$sim" && cp "$here/station-TX.ini" "$sim/TX.ini"
"$korvel_rf" simulate --ini "$sim/TX.ini" --units 3 --json "$sim/units.json" >"$sim/out" 2>&1
images() {
  grep -oE '"rx_registers_before":\[[0-9,]*\],"rx_registers":\[[0-9,]*\],"tx_eeprom_before":\[[0-9,]*\],"tx_eeprom":\[[0-9,]*\]'
}
numbers() { grep -oE 'result=[A-Z]+ .*txid=[0-9A-F-]+' | sed -E 's/ reason="[^"]*"//; s/ ms=[0-9]+//'; }
sed -n 's/^KORVEL-VM station-images: //p' "$log" | images | head -n 3 >"$sim/vm-images"
images <"$sim/units.json" >"$sim/simulate-images"
sed -n 's/^KORVEL-VM station: //p' "$log" | grep '^unit=' | numbers >"$sim/vm-numbers"
grep '^unit=' "$sim/out" | numbers >"$sim/simulate-numbers"
if [ "$(wc -l <"$sim/vm-images")" = 3 ] && cmp -s "$sim/vm-images" "$sim/simulate-images" &&
  [ "$(wc -l <"$sim/vm-numbers")" = 3 ] && cmp -s "$sim/vm-numbers" "$sim/simulate-numbers"; then
  echo "ok    each unit's numbers and device images are byte-identical to simulate's"
else
  echo "FAIL  the units differ from simulate's (files in $sim)"
  diff "$sim/vm-numbers" "$sim/simulate-numbers" | head -n 10
  failures=$((failures + 1))
fi

mean() { awk '{ s += $1; n++ } END { if (n) printf "%.0f", s / n; else print "-" }'; }
echo "figures (guest clock, software-emulated CPU):"
sed -n 's/^KORVEL-VM check: FIGURE /  /p' "$log"
echo "  station_plug_to_ready_ms (uevent to both ready, mean of 3)" \
  "$(sed -n 's/^KORVEL-VM station: unit=.* ready_ms=\([0-9][0-9]*\)$/\1/p' "$log" | mean)"
echo "  station_unit_ms (Go, mean of 3) $(sed -n 's/^KORVEL-VM station: unit=.* ms=\([0-9]*\) .*/\1/p' "$log" | mean)" \
  "against simulate's virtual $(sed -n 's/^unit=.* ms=\([0-9]*\) .*/\1/p' "$sim/out" | mean)"
echo "wall: $(elapsed "$start" "$booted") s (kernel $(elapsed "$start" "$kernel_ready") s," \
  "initramfs $(elapsed "$kernel_ready" "$image_ready") s, boot to power-off" \
  "$(elapsed "$image_ready" "$booted") s)"
if [ $failures -ne 0 ]; then
  echo "guest output ($log):"
  cat "$log"
  fail "$failures expectation(s) not met"
fi
echo "PASSED"
