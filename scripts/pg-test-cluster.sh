#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the collector's tests and load runs:
#   scripts/pg-test-cluster.sh start STATE_DIR   initdb into a fresh folder under /tmp, serve it on
#                                                127.0.0.1 only, on a free port; writes the
#                                                superuser URL to STATE_DIR/url
#   scripts/pg-test-cluster.sh stop STATE_DIR    stops it and removes its folder
# initdb and postgres refuse to run as root: as root the cluster runs as the unprivileged
# "postgres" user (made by Debian's postgresql package) in a folder that user owns.
# PG_FSYNC=on keeps the server's fsync (the tests turn it off: the cluster is thrown away).
set -euo pipefail

command=${1:?start or stop}
state=${2:?state folder}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "pg-test-cluster: no PostgreSQL server (run scripts/setup.sh)" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop_cluster() {
  [ -f "$state/dir" ] || return 0
  local dir
  dir=$(cat "$state/dir")
  if [ -d "$dir/data" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  rm -f "$state/dir" "$state/url"
}

case "$command" in
  start)
    mkdir -p "$state"
    stop_cluster  # one left over from an interrupted run
    dir=$(mktemp -d /tmp/rivlo-pg-XXXXXX)
    chmod 700 "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown postgres:postgres "$dir"; fi
    echo "$dir" > "$state/dir"
    as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C \
      > "$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    fsync=${PG_FSYNC:-off}
    for attempt in $(seq 1 20); do
      port=$((20000 + RANDOM % 30000))
      if ss -ltn 2>/dev/null | grep -q "[:.]$port "; then continue; fi
      if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
           -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=$fsync -c max_connections=300" \
           start >/dev/null; then
        echo "postgresql://postgres@127.0.0.1:$port/postgres" > "$state/url"
        echo "pg-test-cluster: serving on 127.0.0.1:$port from $dir"
        exit 0
      fi
    done
    cat "$dir/server.log" >&2 || true
    echo "pg-test-cluster: the cluster did not start" >&2
    exit 1
    ;;
  stop)
    stop_cluster
    echo "pg-test-cluster: stopped"
    ;;
  *)
    echo "usage: pg-test-cluster.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
