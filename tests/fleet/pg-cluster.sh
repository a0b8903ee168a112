#!/usr/bin/env bash
# A private PostgreSQL cluster for the fleet tests: Debian's postgresql-15, trust
# authentication, its socket inside its own folder and no TCP (anyone who reaches a trust
# socket is its superuser). initdb refuses root: as root the cluster belongs to the
# unprivileged postgres user, and when that user cannot reach DIR (a checkout in /root) the
# cluster lives in a folder of its own under /tmp with DIR a link to it.
#   pg-cluster.sh start DIR     make the cluster (a leftover one goes first), start it
#   pg-cluster.sh stop DIR      stop it (fast) and remove it
#   pg-cluster.sh crash DIR     stop it as a crash would (immediate: no shutdown checkpoint)
#   pg-cluster.sh restart DIR   start it again after a crash or stop
#   pg-cluster.sh url DIR       the superuser's URL
# Without PostgreSQL's programs, start writes the reason to DIR/unavailable and succeeds:
# the tests that need the server then report themselves skipped with that reason.
# KORVEL_PG_FSYNC=on keeps the server's own flushes (the benchmark's figures need them).
set -uo pipefail
action=${1:?action}
dir=$(realpath -ms "${2:?cluster folder}")
bin=${KORVEL_PG_BIN:-/usr/lib/postgresql/15/bin}

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
ctl() {  # fsync off: a test cluster's data need not survive the machine, only the server
  local home fsync="-c fsync=off"
  home=$(readlink -f "$dir")
  [ "${KORVEL_PG_FSYNC:-off}" = on ] && fsync=""
  as_owner "$bin/pg_ctl" -D "$home/data" -l "$home/log" -w -t 60 \
    -o "-k $home -c listen_addresses='' $fsync -c max_connections=200" "$@"
}
remove() {
  [ -L "$dir" ] && rm -rf "$(readlink -f "$dir")"
  rm -rf "$dir"
}

case "$action" in
  start)
    [ -f "$dir/data/postmaster.pid" ] && ctl -m immediate stop >/dev/null 2>&1
    remove
    if [ ! -x "$bin/initdb" ]; then
      mkdir -p "$dir"
      echo "no PostgreSQL server: $bin/initdb is missing (install postgresql-15)" >"$dir/unavailable"
      exit 0
    fi
    home=$dir
    if [ "$(id -u)" -eq 0 ]; then
      if ! id postgres >/dev/null 2>&1; then
        mkdir -p "$dir"
        echo "no postgres user to run the server as" >"$dir/unavailable"
        exit 0
      fi
      mkdir -p "$(dirname "$dir")"
      if ! runuser -u postgres -- test -x "$(dirname "$dir")"; then
        home=$(mktemp -d /tmp/korvel-fleet-pg.XXXXXX)
        ln -s "$home" "$dir"
      fi
      mkdir -p "$home"
      chown postgres "$home"
    fi
    mkdir -p "$home"
    chmod 0700 "$home"
    as_owner "$bin/initdb" -D "$home/data" -A trust -U postgres --no-sync >"$home/initdb.log" 2>&1 \
      || { cat "$home/initdb.log"; exit 1; }
    ctl start >/dev/null || { cat "$home/log"; exit 1; }
    ;;
  stop)
    [ -f "$dir/data/postmaster.pid" ] && ctl -m fast stop >/dev/null
    remove
    ;;
  crash)
    ctl -m immediate stop >/dev/null
    ;;
  restart)
    ctl start >/dev/null || { tail -n 20 "$(readlink -f "$dir")/log"; exit 1; }
    ;;
  url)
    echo "postgresql:///postgres?host=$dir&user=postgres"
    ;;
  *)
    echo "pg-cluster.sh: unknown action $action" >&2
    exit 2
    ;;
esac
