#!/usr/bin/env bash
# A failing service: many sessions against rivlo-collector with its fault injection on (answers
# 500, connections reset in the middle of the body, answers slower than the library's request
# time-out, malformed verification answers, and a share of files always refused with 400),
# then a recovery phase against the
# same collector without the transient faults (the refusals stay: the service refuses such
# files as such). Checks at the end:
#   - nothing is left pending in the device's store;
#   - every document and screen movie of a verified session was stored by the collector once,
#     or set aside by the library after exactly three refusals (none retried for ever);
#   - the collector's index holds no file twice (its duplicate count says how often the
#     library re-sent a file whose answer it had lost).
# The library's request time-out is capped at REQUEST_TIMEOUT seconds (rivlo-soak
# --request-timeout; 60 s, 120 s for uploads, otherwise), and a share of the collector's answers
# is held back DELAY_MS, longer than that: an upload is then stored by the collector while the
# library, which sees a stalled transfer, times out, keeps the file and sends it again later.
# libcurl's stall check averages over the last few seconds, so a time-out of T seconds comes
# some seconds after the last byte moved; DELAY_MS leaves room for that.
#
#   scripts/faulty-service.sh [build dir] [sessions] [seconds per session]
set -uo pipefail

BUILD=${1:-build/release}
SESSIONS=${2:-20}
SECONDS_EACH=${3:-2}
REQUEST_TIMEOUT=${REQUEST_TIMEOUT:-2}
DELAY_MS=${DELAY_MS:-15000}
COLLECTOR="$BUILD/tools/collector/rivlo-collector"
SOAK="$BUILD/tools/soak/rivlo-soak"
for p in "$COLLECTOR" "$SOAK"; do
  [ -x "$p" ] || { echo "faulty-service: $p not found; build it first" >&2; exit 2; }
done

work=$(mktemp -d /tmp/rivlo-faulty-XXXXXX)
trap 'kill $collector 2>/dev/null; wait 2>/dev/null' EXIT
KEY=faulty-key

serve() {  # extra collector options...
  rm -f "$work/url"
  "$COLLECTOR" serve --data "$work/collector" --port 0 --app-key "$KEY" --url-file "$work/url" \
    --refuse-share 0.1 --fault-seed 11 "$@" >> "$work/collector.log" 2>&1 &
  collector=$!
  for _ in $(seq 100); do [ -s "$work/url" ] && break; sleep 0.1; done
  [ -s "$work/url" ] || { echo "faulty-service: the collector did not start" >&2; exit 2; }
}

start=$(date +%s)
echo "faulty-service: $SESSIONS sessions of ${SECONDS_EACH}s against a failing service (work: $work)"
serve --fail-share 0.2 --reset-share 0.15 --delay-ms "$DELAY_MS" --delay-share 0.2 \
      --malformed-verify-share 0.2
RIVLO_SERVICE_URL="$(cat "$work/url")/" "$SOAK" sessions "$work/device" "$KEY" "$SESSIONS" \
  "$SECONDS_EACH" --request-timeout "$REQUEST_TIMEOUT" > "$work/faulty.out" 2> "$work/faulty.err"
kill $collector; wait $collector 2>/dev/null

echo "faulty-service: recovery (no transient faults; the same files are refused)"
serve
# Four sessions, then up to three more rounds of two while something is still pending: a file the
# service always refuses is set aside only at its third refusal, and one first refused in the
# last sessions has not had three tries yet.
recovery_sessions=0
verified_recovery=0
for round in 1 2 3 4; do
  count=$([ $round -eq 1 ] && echo 4 || echo 2)
  RIVLO_SERVICE_URL="$(cat "$work/url")/" "$SOAK" sessions "$work/device" "$KEY" "$count" \
    "$SECONDS_EACH" > "$work/recovery.out" 2>> "$work/recovery.err"
  cat "$work/recovery.out" >> "$work/recovery-all.out"
  recovery_sessions=$((recovery_sessions + count))
  verified_recovery=$((verified_recovery + $(grep -o 'verified [0-9]*' "$work/recovery.out" | tail -1 | grep -o '[0-9]*')))
  [ "$(grep '^pending' "$work/recovery.out" | tail -1)" = "pending documents 0 screen 0" ] && break
done
kill $collector; wait $collector 2>/dev/null
"$SOAK" collected "$work/collector" > "$work/collected.out"

verified=$(( $(grep -o 'verified [0-9]*' "$work/faulty.out" | tail -1 | grep -o '[0-9]*') + \
             verified_recovery ))
sessions=$((SESSIONS + recovery_sessions))
stored_docs=$(grep -o 'stored data [0-9]*' "$work/collected.out" | grep -o '[0-9]*$'); stored_docs=${stored_docs:-0}
stored_movies=$(grep -o 'stored screen [0-9]*' "$work/collected.out" | grep -o '[0-9]*$'); stored_movies=${stored_movies:-0}
duplicates=$(grep -o 'duplicates [0-9]*' "$work/collected.out" | grep -o '[0-9]*$')
aside_docs=$(grep -c '^aside RvTextFile' "$work/recovery.out")
aside_movies=$(grep -c '^aside RvScreenVideo' "$work/recovery.out")
pending=$(grep '^pending' "$work/recovery.out" | tail -1)
injected=$(grep -c 'injected failure' "$work/collector.log")
resets=$(grep -c 'injected connection reset' "$work/collector.log")
malformed=$(grep -c 'injected malformed answer' "$work/collector.log")
refusals=$(grep -c 'injected refusal' "$work/collector.log")
delays=$(grep -c 'injected delay' "$work/collector.log")
# Time-outs the library saw (verification, documents, movies, web-view tiles), from its log.
timeouts=$(grep -c 'Timeout was reached' "$work/faulty.err")

fail=0
problem() { echo "faulty-service: PROBLEM: $*" >&2; fail=1; }
[ "$pending" = "pending documents 0 screen 0" ] || problem "the device still holds: $pending"
[ $((stored_docs + aside_docs)) -eq "$verified" ] ||
  problem "$verified verified sessions but $stored_docs documents stored and $aside_docs set aside"
[ $((stored_movies + aside_movies)) -eq "$verified" ] ||
  problem "$verified verified sessions but $stored_movies movies stored and $aside_movies set aside"
# Every file set aside was refused exactly three times; no refused file was tried more often.
# A refusal whose answer was held back past the time-out never reached the library (it saw a
# time-out), so it does not count.
refusals_seen() {  # file name
  local all held
  all=$(grep -c "injected refusal of $1," "$work/collector.log")
  held=$(grep -c "injected delay, the answer for $1 is held back" "$work/collector.log")
  echo $((all - held))
}
while read -r _ list name; do
  n=$(refusals_seen "$name")
  [ "$n" -eq 3 ] || problem "$name ($list) was refused $n times before it was set aside"
done < <(grep '^aside ' "$work/recovery.out")
for name in $(grep -o 'injected refusal of [^,]*' "$work/collector.log" | awk '{print $4}' | sort -u); do
  n=$(refusals_seen "$name")
  [ "$n" -le 3 ] || problem "$name was sent $n times although refused"
done
[ "$delays" -gt 0 ] && [ "$timeouts" -eq 0 ] &&
  problem "$delays answers were held back ${DELAY_MS}ms but the library saw no time-out"
grep -q 'NOT SETTLED' "$work/faulty.out" "$work/recovery-all.out" && problem "a session did not settle"

printf 'faulty-service: %d sessions (%d verified) in %ds; faults injected: %d answers 500, %d resets, %d malformed verifications, %d refusals, %d answers held back %dms\n' \
  "$sessions" "$verified" $(( $(date +%s) - start )) "$injected" "$resets" "$malformed" "$refusals" \
  "$delays" "$DELAY_MS"
printf 'faulty-service: the library timed out %d requests (time-out %ss)\n' "$timeouts" "$REQUEST_TIMEOUT"
printf 'faulty-service: delivered %d documents and %d movies once each (%d repeated uploads recognised), set aside %d documents and %d movies, %s\n' \
  "$stored_docs" "$stored_movies" "${duplicates:-0}" "$aside_docs" "$aside_movies" "$pending"
[ $fail -eq 0 ] && { echo "faulty-service: ok"; rm -rf "$work"; }
exit $fail
