#!/usr/bin/env bash
# Runs every fuzz target for FUZZ_SECONDS each (default 60) from its checked-in seed corpus in
# fuzz/corpus/<target>/. New interesting inputs go to build/fuzz/corpus/<target>/ (not checked
# in); an input that crashes, leaks, trips a sanitizer or a target's check is written to
# fuzz/regressions/<target>/ (commit it: ctest replays every file there) and fails the run.
# Prints the executions per target and writes them to build/fuzz/fuzz-stats.txt.
#
#   scripts/fuzz.sh [target ...]          FUZZ_SECONDS=N to change the time per target
set -uo pipefail

cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-60}
BUILD=build/fuzz

cmake --preset fuzz >/dev/null || exit 2
cmake --build --preset fuzz -j "${JOBS:-2}" || exit 2

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

stats="$BUILD/fuzz-stats.txt"
: > "$stats"
failed=0
for t in "${targets[@]}"; do
  exe="$BUILD/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "fuzz: no program for $t" >&2; failed=1; continue; }
  work="$BUILD/corpus/$t"
  mkdir -p "$work" "fuzz/regressions/$t"
  log="$BUILD/fuzz-$t.log"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2560 -max_len=16384 \
      -print_final_stats=1 -artifact_prefix="fuzz/regressions/$t/" \
      "$work" "fuzz/corpus/$t" > "$log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  [ -n "$runs" ] || runs=$(grep -oE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' | tail -1)
  runs=${runs:-0}
  if [ $status -ne 0 ]; then
    failed=1
    printf 'fuzz: %-20s FAILED after %s executions (log %s):\n' "$t" "$runs" "$log" | tee -a "$stats"
    grep -E 'ERROR: |fuzz check failed|SUMMARY|artifact_prefix|Test unit written' "$log" | head -8 >&2
  else
    printf 'fuzz: %-20s %10s executions in %ss, no failure\n' "$t" "$runs" "$SECONDS_EACH" | tee -a "$stats"
  fi
done
exit $failed
