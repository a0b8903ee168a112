#!/usr/bin/env bash
# What the fleet database adds per unit, and how many units one server takes: runs
# korvel_bench_fleet against a private PostgreSQL 15 server on this machine (flushes on, as a
# factory's server runs), with the stations' local records on tmpfs. Run by hand:
#   cmake --preset release && cmake --build --preset release --target korvel_bench_fleet
#   bench/fleet-bench.sh [units=1000]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
units=${1:-1000}
bench="$root/build/release/bench/korvel_bench_fleet"
[ -x "$bench" ] || { echo "fleet-bench: build $bench first" >&2; exit 2; }
work=$(mktemp -d /tmp/korvel-fleet-bench.XXXXXX)
chmod 0755 "$work"  # the server runs as another user (postgres) when this is root
trap 'KORVEL_PG_FSYNC=on "$root/tests/fleet/pg-cluster.sh" stop "$work/pg"; rm -rf "$work" /dev/shm/korvel-bench-fleet' EXIT
KORVEL_PG_FSYNC=on "$root/tests/fleet/pg-cluster.sh" start "$work/pg" || exit 1
[ -f "$work/pg/unavailable" ] && { cat "$work/pg/unavailable"; exit 2; }
psql -q "postgresql:///postgres?host=$work/pg&user=postgres" -c "CREATE DATABASE bench" || exit 1
"$bench" "postgresql:///bench?host=$work/pg&user=postgres" "$units" /dev/shm/korvel-bench-fleet
