#!/usr/bin/env bash
# Crash-and-outage campaign against the fleet database (run by hand, not in CI): N stations
# (korvel-rf simulate, each in a folder of its own, one series) number M units each while
# stations are killed with SIGKILL and the server is stopped as a crash stops it, at random
# moments; a killed station is started again for the units it still owes, and a station
# whose Go is refused while the server is down waits for it. At the end it prints the units,
# the rows, the numbers given twice and the rows lost, and exits non-zero on any of the last.
#   bench/fleet-campaign.sh [stations=8] [units=300] [events=30] [korvel-rf] [seed]
# Needs PostgreSQL 15's programs (postgresql-15); the server is a private one in a temporary
# folder (tests/fleet/pg-cluster.sh), started and removed here.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stations=${1:-8}
units=${2:-300}
events=${3:-30}
korvel=$(realpath "${4:-$root/build/release/app/korvel-rf}")
RANDOM=${5:-$$}
[ -x "$korvel" ] || { echo "fleet-campaign: build $korvel first" >&2; exit 2; }
cluster="$root/tests/fleet/pg-cluster.sh"
work=$(mktemp -d /tmp/korvel-fleet-campaign.XXXXXX)
chmod 0755 "$work"  # the server runs as another user (postgres) when this is root
pg="$work/pg"
"$cluster" start "$pg" || exit 1
[ -f "$pg/unavailable" ] && { cat "$pg/unavailable"; exit 2; }
url="postgresql:///postgres?host=$pg&user=postgres"
declare -A pid
cleanup() {
  for p in "${pid[@]}"; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  "$cluster" stop "$pg"
  echo "files kept in $work"
}
trap cleanup EXIT
"$korvel" db init --db "$url" >/dev/null || exit 1

passed() { cat "$work/st$1"/out.* 2>/dev/null | grep -c 'result=PASS'; }
start() {  # station: starts it for the units it still owes
  local k=$1 owed n
  owed=$((units - $(passed "$k")))
  [ "$owed" -gt 0 ] || return
  n=$(ls "$work/st$k" | grep -c '^out\.')
  "$korvel" simulate --ini "$work/st$k/TX.ini" --db "$url" --units "$owed" --date 2026-12-07 \
    --operator-delay 0 --wait-fleet 600 >"$work/st$k/out.$n" 2>"$work/st$k/err.$n" &
  pid[$k]=$!
}
for k in $(seq "$stations"); do
  mkdir -p "$work/st$k"
  printf '[TX]\r\nRXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19255;  IncSNByteCount = 2;  IsFixAscii = True;end;\r\nTXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19256;  IncSNByteCount = 2;  IsFixAscii = True;end;\r\nRXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;\r\nTXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;\r\n[Record]\r\nLease=40\r\n' >"$work/st$k/TX.ini"
  start "$k"
done

kills=0 outages=0
for _ in $(seq "$events"); do
  sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.2f", 0.2 + (r % 1800) / 1000 }')"
  if [ $((RANDOM % 3)) -eq 0 ]; then
    "$cluster" crash "$pg" && outages=$((outages + 1))
    sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.2f", 0.5 + (r % 2500) / 1000 }')"
    "$cluster" restart "$pg"
  else
    k=$((RANDOM % stations + 1))
    if kill -0 "${pid[$k]:-0}" 2>/dev/null; then
      kill -9 "${pid[$k]}" && kills=$((kills + 1))
      wait "${pid[$k]}" 2>/dev/null
    fi
  fi
  for k in $(seq "$stations"); do kill -0 "${pid[$k]:-0}" 2>/dev/null || start "$k"; done
done
# No more trouble: every station finishes what it owes (a killed one sends its backlog when
# it starts again).
while :; do
  for k in $(seq "$stations"); do wait "${pid[$k]}" 2>/dev/null; done
  owing=0
  for k in $(seq "$stations"); do
    [ "$(passed "$k")" -lt "$units" ] && { owing=1; start "$k"; }
  done
  [ "$owing" -eq 0 ] && break
done

sql() { psql -qAt "$url" -c "$1"; }
printed=$(cat "$work"/st*/out.* | grep -c 'result=PASS')
cat "$work"/st*/out.* | grep 'result=PASS' | sed -E 's/.* rxsn=([^ ]+) .*/\1/; s/-//g' | sort >"$work/printed"
sql "SELECT rx_serial FROM korvel.units WHERE result = 'PASS'" | sort >"$work/rows"
rows=$(wc -l <"$work/rows")
lost=$(comm -23 "$work/printed" "$work/rows" | wc -l)
unprinted=$(comm -13 "$work/printed" "$work/rows" | wc -l)
dup=$(sql "SELECT (SELECT count(*) FROM (SELECT rx_serial FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) a)
             + (SELECT count(*) FROM (SELECT tx_serial FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) b)
             + (SELECT count(*) FROM (SELECT rx_id FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) c)
             + (SELECT count(*) FROM (SELECT tx_id FROM korvel.units WHERE given GROUP BY 1 HAVING count(*) > 1) d)")
dup=$((dup + $(uniq -d "$work/printed" | wc -l)))
local_rows=0
for k in $(seq "$stations"); do
  local_rows=$((local_rows + $("$korvel" records --db "$work/st$k/production.db" | wc -l)))
done
fleet_rows=$(sql "SELECT count(*) FROM korvel.units")
refused=$(sql "SELECT count(*) FROM korvel.refused_units")
holes=$(sql "SELECT coalesce(sum(holes), 0) FROM korvel.series_usage")
unused=$("$korvel" db leases --db "$url" | grep -c 'unused=')
echo "stations=$stations kills=$kills outages=$outages"
echo "units=$printed rows=$rows local_rows=$local_rows fleet_rows=$fleet_rows duplicates=$dup" \
     "lost=$lost unprinted_pass_rows=$unprinted refused=$refused holes=$holes" \
     "leases_with_unused_numbers=$unused"
[ "$dup" -eq 0 ] && [ "$lost" -eq 0 ] && [ "$fleet_rows" -eq "$local_rows" ] && [ "$holes" -eq 0 ]
