#!/usr/bin/env bash
# Crash soak: runs every crash kind of the crash test program many times (200 by default) with
# the host's own handlers installed, and checks each run left exactly one crash-work record,
# called the host's handlers once each, ended by the expected signal and did not hang.
#
#   scripts/crash-soak.sh [build dir] [runs]
set -uo pipefail

BUILD=${1:-build/debug}
RUNS=${2:-200}
CHILD="$BUILD/tests/crash/crash_child"
if [ ! -x "$CHILD" ]; then
  echo "crash-soak: $CHILD not found; build the crash_child target first" >&2
  exit 2
fi
export ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:detect_leaks=0:use_sigaltstack=0
export TSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:report_signal_unsafe=0

# mode, signal, expected host lines (| separated), expected work line
KINDS=(
  "segv 11 signal 11|11 "
  "abort 6 signal 6|6 "
  "fpe 8 signal 8|8 "
  "bus 7 signal 7|7 "
  "ill 4 signal 4|4 "
  "recursion 11 signal 11|11 "
  "exception 6 exception,terminate,signal 6|0 disk on fire"
  "exception-int 6 exception,terminate,signal 6|0 int"
  "segv-thread 11 signal 11|11 "
  "exception-thread 6 exception,terminate,signal 6|0 bad state on worker"
)

total=0
failed=0
hung=0
start=$(date +%s)
for kind in "${KINDS[@]}"; do
  mode=${kind%% *}
  rest=${kind#* }
  signal=${rest%% *}
  rest=${rest#* }
  hostLines=${rest%%|*}
  workLine=${rest#*|}
  ok=0
  for ((run = 0; run < RUNS; run++)); do
    dir=$(mktemp -d)
    status=$( (timeout -s KILL 30 "$CHILD" "$mode" "$dir" host settle=0; echo $?) 2>/dev/null)
    total=$((total + 1))
    expectedHost=$(echo "$hostLines" | tr ',' '\n')
    if [ "$status" -eq 137 ] && [ "$signal" != 9 ]; then
      hung=$((hung + 1)); failed=$((failed + 1))
      echo "crash-soak: $mode run $run hung" >&2
    elif [ "$status" -ne $((128 + signal)) ] \
        || [ "$(cat "$dir/work" 2>/dev/null)" != "$workLine" ] \
        || [ "$(cat "$dir/host" 2>/dev/null)" != "$expectedHost" ] \
        || [ "$(wc -l < "$dir/log" 2>/dev/null)" != 1 ]; then
      failed=$((failed + 1))
      echo "crash-soak: $mode run $run: status $status, work '$(cat "$dir/work" 2>/dev/null)'," \
           "host '$(tr '\n' ',' < "$dir/host" 2>/dev/null)'" >&2
    else
      ok=$((ok + 1))
    fi
    rm -rf "$dir"
  done
  printf 'crash-soak: %-17s %d/%d runs left their record\n' "$mode" "$ok" "$RUNS"
done

# A broken pipe with the default disposition is a crash; ignored it is not.
for ((run = 0; run < RUNS; run++)); do
  dir=$(mktemp -d)
  status=$( (timeout -s KILL 30 "$CHILD" pipe "$dir" settle=0; echo $?) 2>/dev/null)
  total=$((total + 1))
  if [ "$status" -ne $((128 + 13)) ] || [ "$(cat "$dir/work" 2>/dev/null)" != "13 " ]; then
    failed=$((failed + 1)); echo "crash-soak: pipe run $run: status $status" >&2
  fi
  rm -rf "$dir"
  dir=$(mktemp -d)
  status=$( (timeout -s KILL 30 "$CHILD" pipe "$dir" ignore-pipe settle=0; echo $?) 2>/dev/null)
  total=$((total + 1))
  if [ "$status" -ne 0 ] || [ -e "$dir/work" ]; then
    failed=$((failed + 1)); echo "crash-soak: ignored pipe run $run: status $status" >&2
  fi
  rm -rf "$dir"
done
echo "crash-soak: pipe (default and ignored) done"

echo "crash-soak: $total runs in $(( $(date +%s) - start )) s, $failed failed, $hung hung"
[ "$failed" -eq 0 ]
