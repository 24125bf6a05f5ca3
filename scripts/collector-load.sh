#!/usr/bin/env bash
# Load figures of the collector: simulated devices (tools/collector/load) at 1, 16 and 64 at
# once, each running sessions as the library does (a verification, a 200 KiB screen movie, a
# session document, three 20 KiB web tiles), against a fresh collector on loopback per level.
#   scripts/collector-load.sh BUILD_DIR [sqlite|postgresql] [SESSIONS_PER_LEVEL] [SECONDS]
# postgresql starts a throwaway cluster of its own (fsync on) and stops it after. Prints one
# line per level: sessions a second, request latency p50/p99, the collector's peak resident set.
set -euo pipefail

BUILD=${1:?build directory}
ENGINE=${2:-sqlite}
TOTAL=${3:-640}
SECONDS_LIMIT=${4:-120}
COLLECTOR="$BUILD/tools/collector/rivlo-collector"
LOAD="$BUILD/tools/collector/rivlo-collector-load"
HERE=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/rivlo-collector-load-XXXXXX)
collector=""
cleanup() {
  [ -n "$collector" ] && kill "$collector" 2>/dev/null && wait "$collector" 2>/dev/null
  [ "$ENGINE" = postgresql ] && bash "$HERE/pg-test-cluster.sh" stop "$work/pg" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$ENGINE" = postgresql ]; then
  PG_FSYNC=on bash "$HERE/pg-test-cluster.sh" start "$work/pg" >/dev/null
  admin=$(cat "$work/pg/url")
fi

for devices in 1 16 64; do
  data="$work/data-$devices"
  database=()
  if [ "$ENGINE" = postgresql ]; then
    psql -q "$admin" -c "CREATE DATABASE load_$devices"
    database=(--database "${admin%/*}/load_$devices")
  fi
  rm -f "$work/url"
  "$COLLECTOR" serve --data "$data" "${database[@]}" --app-key load-key --url-file "$work/url" \
    --max-connections-per-address 256 --threads 8 > "$work/collector-$devices.log" 2>&1 &
  collector=$!
  for _ in $(seq 100); do [ -s "$work/url" ] && break; sleep 0.1; done
  url=$(cat "$work/url")
  "$LOAD" --url "$url" --app-key load-key --devices "$devices" \
    --sessions $(( (TOTAL + devices - 1) / devices )) --seconds "$SECONDS_LIMIT" --pid "$collector" \
    | sed "s/^/$ENGINE /"
  kill "$collector"; wait "$collector" 2>/dev/null || true
  collector=""
done
