#!/usr/bin/env bash
# kill -9 soak: a host recording a session while it changes the store (documents and screen
# movies added and removed, lists read, folders cleaned, the defaults flushed) is killed with
# SIGKILL at a random moment, KILLS times (default 1000). After each kill the next start is
# checked: the defaults file parses, every listed file exists, nothing unlisted stays in the
# store, and every item whose addition had returned (and was not being removed) is still listed.
# The same sandbox carries over from run to run, so damage would accumulate.
#
#   scripts/kill-soak.sh [build dir] [kills]
set -uo pipefail

BUILD=${1:-build/release}
KILLS=${2:-1000}
SOAK="$BUILD/tools/soak/rivlo-soak"
[ -x "$SOAK" ] || { echo "kill-soak: $SOAK not found; build it first" >&2; exit 2; }

work=$(mktemp -d /tmp/rivlo-kill-XXXXXX)
journal="$work/journal"
start=$(date +%s)
failed=0
for ((i = 1; i <= KILLS; i++)); do
  "$SOAK" churn "$work/device" "$journal" > /dev/null 2>&1 &
  pid=$!
  # A random moment between 0.05 s and 1.5 s after the start (verification and recording
  # begin within the first few hundred milliseconds).
  sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.3f", 0.05 + (r % 1450) / 1000 }')"
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
  if ! out=$(timeout 60 "$SOAK" check "$work/device" "$journal" 2>/dev/null); then
    failed=$((failed + 1))
    echo "kill-soak: after kill $i:" >&2
    echo "$out" | head -5 >&2
  fi
  last="$out"
done
added=$(grep -cE '^(doc|screen) ' "$journal" 2>/dev/null || echo 0)
printf 'kill-soak: %d kills in %ds, %d checks failed; %d items added over all runs; last: %s\n' \
  "$KILLS" $(( $(date +%s) - start )) "$failed" "$added" "$(echo "$last" | tail -1)"
[ $failed -eq 0 ] && rm -rf "$work"
exit $((failed > 0))
