#!/usr/bin/env bash
# Station processes (korvel-rf simulate) on one series against the fleet database on the
# private test server, as a line runs them:
#   stations-test.sh KORVEL_RF line STATIONS UNITS    all at once: every unit PASS, no number
#                                                     twice, every PASS line's row there once
#   stations-test.sh KORVEL_RF outage STATIONS UNITS  the server crashes mid-run: the stations
#                                                     go on inside their blocks, then wait; it
#                                                     comes back: every row arrives once
#   stations-test.sh KORVEL_RF kill UNITS             a station killed (-9) while it sends its
#                                                     backlog: after its restart, no row lost
#                                                     or doubled
# The cluster comes from ctest (KORVEL_TEST_PG_DIR, pg-cluster.sh); each run has a database of
# its own. Exit 77 (skipped) when there is no server, with the reason.
set -uo pipefail
korvel=$(realpath "${1:?korvel-rf}")
scenario=${2:?scenario}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
pg=${KORVEL_TEST_PG_DIR:-}
if [ -z "$pg" ]; then echo "SKIPPED: KORVEL_TEST_PG_DIR is not set (run it through ctest)"; exit 77; fi
if [ -f "$pg/unavailable" ]; then echo "SKIPPED: $(cat "$pg/unavailable")"; exit 77; fi

db="korvel_${scenario}_$$"
admin="postgresql:///postgres?host=$pg&user=postgres"
url="postgresql:///$db?host=$pg&user=postgres"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  # The cluster is shared with the tests after this one: it is left running.
  [ -S "$pg/.s.PGSQL.5432" ] || "$here/pg-cluster.sh" restart "$pg" >/dev/null
  psql -q "$admin" -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" >/dev/null 2>&1
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }
sql() { psql -qAt "$url" -c "$1"; }

psql -q "$admin" -c "CREATE DATABASE $db" >/dev/null || fail "cannot make the database"
"$korvel" db init --db "$url" >/dev/null || fail "db init"

# One series for every station: the same dated serials (fixed parts 4B37 and 4B38) and custom
# link IDs from the same starts; each station its own folder (and so its own name).
station() {  # folder, lease
  mkdir -p "$1"
  printf '[TX]\r\nRXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19255;  IncSNByteCount = 2;  IsFixAscii = True;end;\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19256;  IncSNByteCount = 2;  IsFixAscii = True;end;\r\nRXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;\r\nTXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;\r\n[Record]\r\nLease=%s\r\n' "$2" >"$1/TX.ini"
}
started=""
simulate() {  # folder, units, more options...; output to folder/out.N, folder/err.N; the
              # station runs in the background, its pid in $started
  local folder=$1 units=$2 n
  shift 2
  n=$(ls "$folder" | grep -c '^out\.')
  "$korvel" simulate --ini "$folder/TX.ini" --db "$url" --units "$units" --date 2026-12-07 \
    --operator-delay 0 "$@" >"$folder/out.$n" 2>"$folder/err.$n" &
  started=$!
  pids+=("$started")
}
finish() {  # waits for every station started; fails on an exit code other than 0
  local p
  for p in "${pids[@]}"; do wait "$p" || fail "a station ended with exit code $?"; done
  pids=()
}
passes() { cat "$work"/*/out.* 2>/dev/null | grep -c 'result=PASS'; }

# What every scenario ends with: the printed PASS lines, the rows of the local records and
# the rows of the database agree, and no number was given twice.
check() {  # fewest PASS lines expected; PASS rows that may lack their line (a killed station's)
  local printed rows dup lost extra local_rows fleet_rows
  printed=$(passes)
  [ "$printed" -ge "$1" ] || fail "$printed units PASS, $1 expected"
  rows=$(sql "SELECT count(*) FROM korvel.units WHERE result = 'PASS'")
  dup=$(sql "SELECT (SELECT count(*) FROM (SELECT rx_serial FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) a)
               + (SELECT count(*) FROM (SELECT tx_serial FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) b)
               + (SELECT count(*) FROM (SELECT rx_id FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) c)
               + (SELECT count(*) FROM (SELECT tx_id FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) d)")
  # Printed PASS lines against the database's PASS rows, by RX serial.
  cat "$work"/*/out.* | grep 'result=PASS' | sed -E 's/.* rxsn=([^ ]+) .*/\1/; s/-//g' | sort >"$work/printed"
  sql "SELECT rx_serial FROM korvel.units WHERE result = 'PASS'" | sort >"$work/rows"
  lost=$(comm -23 "$work/printed" "$work/rows" | wc -l)
  extra=$(comm -13 "$work/printed" "$work/rows" | wc -l)
  local twice
  twice=$(uniq -d "$work/printed" | wc -l)
  # Each station's local record against its rows in the database: every row there, once.
  local_rows=0
  for folder in "$work"/st*; do
    local_rows=$((local_rows + $("$korvel" records --db "$folder/production.db" | wc -l)))
  done
  fleet_rows=$(sql "SELECT count(*) FROM korvel.units")
  local distinct
  distinct=$(sql "SELECT count(DISTINCT (station, record_uid, local_id)) FROM korvel.units")
  local refused holes
  refused=$(sql "SELECT count(*) FROM korvel.refused_units")
  holes=$(sql "SELECT coalesce(sum(holes), 0) FROM korvel.series_usage")
  echo "units=$printed rows=$rows local_rows=$local_rows fleet_rows=$fleet_rows duplicates=$dup" \
       "printed_twice=$twice lost=$lost unprinted=$extra refused=$refused holes=$holes"
  [ "$rows" -ge "$printed" ] && [ "$rows" -le $((printed + ${2:-0})) ] \
    || fail "$rows PASS rows for $printed PASS lines"
  [ "$dup" -eq 0 ] && [ "$twice" -eq 0 ] || fail "a number was given twice"
  [ "$lost" -eq 0 ] || fail "$lost PASS lines have no row"
  [ "$extra" -le "${2:-0}" ] || fail "$extra PASS rows were never printed"
  [ "$fleet_rows" -eq "$local_rows" ] && [ "$distinct" -eq "$fleet_rows" ] \
    || fail "$fleet_rows rows in the database ($distinct distinct) for $local_rows local rows"
  [ "$refused" -eq 0 ] || fail "$refused rows refused by the database"
  [ "$holes" -eq 0 ] || fail "$holes numbers below a counter that no lease explains"
}

case "$scenario" in
  line)
    stations=${1:?stations} units=${2:?units}
    start=$(date +%s%N)
    for k in $(seq "$stations"); do
      station "$work/st$k" 100
      simulate "$work/st$k" "$units"
    done
    finish
    ms=$((($(date +%s%N) - start) / 1000000))
    check $((stations * units))
    echo "$stations stations x $units units in $ms ms"
    ;;

  outage)
    stations=${1:?stations} units=${2:?units}
    for k in $(seq "$stations"); do
      station "$work/st$k" 40
      simulate "$work/st$k" "$units" --wait-fleet 300
    done
    # A quarter of the line's units, then the server goes down as a power cut takes it.
    for _ in $(seq 3000); do [ "$(passes)" -ge $((stations * units / 4)) ] && break; sleep 0.02; done
    "$here/pg-cluster.sh" crash "$pg" || fail "crash"
    at_crash=$(passes)
    # Every station goes on inside its blocks and then waits (or is done).
    waiting=0
    for _ in $(seq 1500); do
      waiting=0
      for k in $(seq "$stations"); do
        if grep -q 'waits for the fleet database' "$work/st$k"/err.* || ! kill -0 "${pids[$((k - 1))]}" 2>/dev/null; then
          waiting=$((waiting + 1))
        fi
      done
      [ "$waiting" -eq "$stations" ] && break
      sleep 0.04
    done
    [ "$waiting" -eq "$stations" ] || fail "only $waiting of $stations stations stopped without the database"
    inside=$(($(passes) - at_crash))
    grep -hq 'cannot reach the fleet database: .*Go waits until the fleet database is back' \
      "$work"/st*/err.* || fail "no station said why Go waits"
    echo "crash after $at_crash units; $inside more passed inside the blocks held; all $stations stations waited"
    [ "$inside" -gt 0 ] || fail "no station went on inside its blocks"
    sleep 1
    "$here/pg-cluster.sh" restart "$pg" || fail "restart"
    finish
    check $((stations * units))
    ;;

  kill)
    units=${1:?units}
    st="$work/st1"
    station "$st" 100000
    # One block for the whole run; the server goes down after the first unit, so every row
    # after it waits in the outbox.
    simulate "$st" "$units"
    for _ in $(seq 3000); do grep -q 'result=PASS' "$st/out.0" 2>/dev/null && break; sleep 0.01; done
    "$here/pg-cluster.sh" crash "$pg" || fail "crash"
    finish
    "$here/pg-cluster.sh" restart "$pg" || fail "restart"
    before=$(sql "SELECT count(*) FROM korvel.units")
    [ "$before" -lt "$units" ] || fail "no backlog: $before rows arrived during the outage"
    # The station starts again and sends its backlog; killed while it does.
    simulate "$st" 1
    killed=""
    for _ in $(seq 20000); do
      n=$(sql "SELECT count(*) FROM korvel.units")
      if [ "$n" -gt "$before" ]; then
        kill -9 "$started" && killed=$n
        break
      fi
    done
    wait "$started" 2>/dev/null
    pids=()
    [ -n "$killed" ] || fail "the station sent nothing before it ended"
    after_kill=$(sql "SELECT count(*) FROM korvel.units")
    echo "backlog of $((units - before)) rows; killed (-9) when $((killed - before)) had arrived" \
         "($((after_kill - before)) by the time it was gone)"
    [ "$after_kill" -lt "$units" ] || fail "the kill came after the sending ended"
    # Its restart sends what is left: nothing lost, nothing twice. The killed run's own unit
    # may have passed without its line being printed.
    simulate "$st" 1
    finish
    check $((units + 1)) 1
    ;;

  *)
    fail "unknown scenario $scenario"
    ;;
esac
echo "PASSED: $scenario"
