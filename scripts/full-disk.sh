#!/usr/bin/env bash
# A full disk: the device's sandbox (store and defaults file) on a 6 MiB tmpfs (needs root).
# Items are stored, the disk is filled up while the session records and stores more, then the
# space is freed. Checks: exactly one log line says the storage is full, the defaults file
# always parses, everything stored before is intact, and storing resumes when space returns.
#
#   scripts/full-disk.sh [build dir]
set -uo pipefail

BUILD=${1:-build/release}
SOAK="$BUILD/tools/soak/rivlo-soak"
[ -x "$SOAK" ] || { echo "full-disk: $SOAK not found; build it first" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "full-disk: needs root to mount a size-limited tmpfs; skipped" >&2
  exit 2
fi
work=$(mktemp -d /tmp/rivlo-full-XXXXXX)
mkdir -p "$work/device" "$work/collector"
mount -t tmpfs -o size=6m tmpfs "$work/device" || { echo "full-disk: mount failed" >&2; exit 2; }
trap 'umount "$work/device" 2>/dev/null' EXIT
"$SOAK" fill "$work/device" "$work/collector" > "$work/out" 2> "$work/err"
status=$?
cat "$work/out" | grep -v '^full-log' 
fullLines=$(grep -c "^full-log: Rivlo: The device's storage is full" "$work/out")
fail=0
[ $status -eq 0 ] || { echo "full-disk: PROBLEM: the program ended with status $status"; fail=1; }
[ "$fullLines" -eq 1 ] || { echo "full-disk: PROBLEM: $fullLines lines say the storage is full"; fail=1; }
grep -q '^defaults parses' "$work/out" || { echo "full-disk: PROBLEM: defaults file torn"; fail=1; }
grep -q '^stored before: 10 of 10 intact' "$work/out" || { echo "full-disk: PROBLEM: stored items lost"; fail=1; }
grep -q '^after space returned: 6 of 6 new items stored, logged' "$work/out" ||
  { echo "full-disk: PROBLEM: storing did not resume"; fail=1; }
echo "full-disk: lines logged while full:"; grep '^full-log' "$work/out" | sed 's/^full-log: /  /' | sort | uniq -c | sort -rn | head -10
[ $fail -eq 0 ] && { echo "full-disk: ok"; umount "$work/device"; rm -rf "$work"; trap - EXIT; }
exit $fail
