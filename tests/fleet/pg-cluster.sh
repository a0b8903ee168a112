#!/usr/bin/env bash
# A private PostgreSQL cluster for the fleet tests: Debian's postgresql-15, trust
# authentication, its socket inside its own folder and no TCP (anyone who reaches a trust
# socket is its superuser). initdb refuses root: as root the cluster belongs to the
# unprivileged postgres user.
#   pg-cluster.sh start DIR     make the cluster if there is none, start it
#   pg-cluster.sh stop DIR      stop it (fast) and remove it
#   pg-cluster.sh crash DIR     stop it as a crash would (immediate: no shutdown checkpoint)
#   pg-cluster.sh restart DIR   start it again after a crash or stop
#   pg-cluster.sh url DIR       the superuser's URL
# Without PostgreSQL's programs, start writes the reason to DIR/unavailable and succeeds:
# the tests that need the server then report themselves skipped with that reason.
# KORVEL_PG_FSYNC=on keeps the server's own flushes (the benchmark's figures need them).
set -uo pipefail
action=${1:?action}
dir=$(realpath -m "${2:?cluster folder}")
bin=${KORVEL_PG_BIN:-/usr/lib/postgresql/15/bin}

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
ctl() {  # fsync off: a test cluster's data need not survive the machine, only the server
  local fsync="-c fsync=off"
  [ "${KORVEL_PG_FSYNC:-off}" = on ] && fsync=""
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 60 \
    -o "-k $dir -c listen_addresses='' $fsync -c max_connections=200" "$@"
}

case "$action" in
  start)
    # A cluster a killed run left running goes first.
    [ -f "$dir/data/postmaster.pid" ] && ctl -m immediate stop >/dev/null 2>&1
    rm -rf "$dir"
    mkdir -p "$dir"
    if [ ! -x "$bin/initdb" ]; then
      echo "no PostgreSQL server: $bin/initdb is missing (install postgresql-15)" >"$dir/unavailable"
      exit 0
    fi
    if [ "$(id -u)" -eq 0 ]; then
      if ! id postgres >/dev/null 2>&1; then
        echo "no postgres user to run the server as" >"$dir/unavailable"
        exit 0
      fi
      chown postgres "$dir"
    fi
    chmod 0700 "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -A trust -U postgres --no-sync >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log"; exit 1; }
    ctl start >/dev/null || { cat "$dir/log"; exit 1; }
    ;;
  stop)
    [ -f "$dir/data/postmaster.pid" ] && ctl -m fast stop >/dev/null
    rm -rf "$dir"
    ;;
  crash)
    ctl -m immediate stop >/dev/null
    ;;
  restart)
    ctl start >/dev/null || { tail -n 20 "$dir/log"; exit 1; }
    ;;
  url)
    echo "postgresql:///postgres?host=$dir&user=postgres"
    ;;
  *)
    echo "pg-cluster.sh: unknown action $action" >&2
    exit 2
    ;;
esac
