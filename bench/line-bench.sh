#!/usr/bin/env bash
# The line's page read from a station's record and from the fleet database, side by side: runs
# korvel_bench_line with the same rows in a private PostgreSQL 15 server on this machine (its
# flushes off: only reads are timed). Run by hand:
#   cmake --preset release && cmake --build --preset release --target korvel_bench_line
#   bench/line-bench.sh [rows...]          (default 10000 1000000)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/build/release/bench/korvel_bench_line"
[ -x "$bench" ] || { echo "line-bench: build $bench first" >&2; exit 2; }
work=$(mktemp -d /tmp/korvel-line-bench.XXXXXX)
chmod 0755 "$work"  # the server runs as another user (postgres) when this is root
trap '"$root/tests/fleet/pg-cluster.sh" stop "$work/pg"; rm -rf "$work"' EXIT
"$root/tests/fleet/pg-cluster.sh" start "$work/pg" || exit 1
[ -f "$work/pg/unavailable" ] && { cat "$work/pg/unavailable"; exit 2; }
psql -q "postgresql:///postgres?host=$work/pg&user=postgres" -c "CREATE DATABASE bench" || exit 1
"$bench" "$@" --folder "$work" --fleet "postgresql:///bench?host=$work/pg&user=postgres"
