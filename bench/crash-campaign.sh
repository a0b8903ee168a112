#!/usr/bin/env bash
# Kills 'korvel-rf simulate' with SIGKILL at random moments, N times, on one TX.ini and one
# production record, then checks that no serial number or link ID was given to two passed
# units, that every PASS line a killed run printed has its row in the record, and that the
# settings file still loads. Run by hand (not in CI):
#   bench/crash-campaign.sh [trials=100] [korvel-rf binary] [folder]
set -euo pipefail
trials=${1:-100}
tool=${2:-build/release/app/korvel-rf}
work=${3:-$(mktemp -d /tmp/korvel-crash.XXXXXX)}
[ -x "$tool" ] || { echo "crash-campaign: build $tool first (cmake --build --preset release)" >&2; exit 2; }
mkdir -p "$work"
ini="$work/TX.ini" db="$work/production.db" printed="$work/printed.txt"
cat >"$ini" <<'INI'
[TX]
RXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19255;  IncSNByteCount = 2;  IsFixAscii = True;end;
TXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 19256;  IncSNByteCount = 2;  IsFixAscii = True;end;
RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;
TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;
INI
: >"$printed"
killed=0 exited=0
for ((t = 1; t <= trials; t++)); do
  "$tool" simulate --ini "$ini" --db "$db" --units 1000 >>"$printed" 2>>"$work/stderr.txt" &
  pid=$!
  # Anywhere from the start-up to well inside the run of units.
  sleep "$(awk -v s="$RANDOM" 'BEGIN { srand(s); printf "%.3f", 0.05 + rand() * 1.5 }')"
  if kill -9 "$pid" 2>/dev/null; then killed=$((killed + 1)); else exited=$((exited + 1)); fi
  wait "$pid" 2>/dev/null || true
done

"$tool" records --db "$db" >"$work/rows.txt"
pass_lines=$(grep -c ' result=PASS ' "$printed" || true)
pass_rows=$(grep -c ' PASS ' "$work/rows.txt" || true)
fail_rows=$(grep -c ' FAIL ' "$work/rows.txt" || true)
duplicates=0
for field in rxsn txsn rxid txid; do
  n=$(grep ' PASS ' "$work/rows.txt" | grep -o " $field=[0-9A-F]*" | sort | uniq -d | wc -l)
  [ "$n" -eq 0 ] || echo "duplicate $field among PASS rows: $n" >&2
  duplicates=$((duplicates + n))
done
# Every printed PASS line has a PASS row with the same numbers.
grep ' result=PASS ' "$printed" |
  sed -E 's/.* rxsn=([^ ]+) txsn=([^ ]+) rxid=([^ ]+) txid=([^ ]+).*/\1 \2 \3 \4/; s/-//g' |
  sort >"$work/printed-numbers.txt"
grep ' PASS ' "$work/rows.txt" |
  sed -E 's/.* rxsn=([^ ]+) txsn=([^ ]+) rxid=([^ ]+) txid=([^ ]+).*/\1 \2 \3 \4/' |
  sort >"$work/row-numbers.txt"
missing=$(comm -23 "$work/printed-numbers.txt" "$work/row-numbers.txt" | wc -l)
[ "$missing" -eq 0 ] || echo "printed PASS lines without their row: $missing" >&2
loads=yes
"$tool" next --ini "$ini" >/dev/null 2>&1 || loads=no
leftovers=$(find "$work" -maxdepth 1 -name 'TX.ini.tmp*' | wc -l)

echo "trials=$trials killed=$killed finished_before_kill=$exited"
echo "printed PASS lines=$pass_lines record PASS rows=$pass_rows FAIL rows=$fail_rows"
echo "duplicates among PASS rows=$duplicates printed PASS without row=$missing"
echo "TX.ini loads=$loads temporary files left=$leftovers folder=$work"
[ "$duplicates" -eq 0 ] && [ "$missing" -eq 0 ] && [ "$loads" = yes ]
