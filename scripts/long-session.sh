#!/usr/bin/env bash
# Hour-long session: one recording at two frames per second on the headless device (against a
# collector inside the program) for MINUTES (default 60). Resident memory and open descriptors
# are sampled every 10 seconds; after the first minute neither may grow by more than 1 MiB
# (descriptors: not at all). The movie the collector received must decode with the session's
# length. Not part of make test.
#
#   scripts/long-session.sh [build dir] [minutes]
set -uo pipefail

BUILD=${1:-build/release}
MINUTES=${2:-60}
SOAK="$BUILD/tools/soak/rivlo-soak"
[ -x "$SOAK" ] || { echo "long-session: $SOAK not found; build it first" >&2; exit 2; }
work=$(mktemp -d /tmp/rivlo-long-XXXXXX)
"$SOAK" record "$work/device" "$MINUTES" > "$work/out" 2> "$work/err"
status=$?
awk -v minutes="$MINUTES" '
  /^sample / { t = $2; rss = $4; fds = $6
               if (t >= 60 && !base) { base = 1; rss0 = rss; fds0 = fds; rssmax = rss; fdsmax = fds }
               if (base) { if (rss > rssmax) rssmax = rss; if (fds > fdsmax) fdsmax = fds }
               n++ }
  /^movie / { movie = $2; frames = $4 }
  END {
    growth = rssmax - rss0
    printf "long-session: %d samples over %s min; after the first minute RSS %d KiB -> max %d KiB (growth %d KiB), fds %d -> max %d; movie %.1f s, %d frames\n", n, minutes, rss0, rssmax, growth, fds0, fdsmax, movie, frames
    expected = minutes * 60
    bad = (growth > 1024) || (fdsmax > fds0) || (movie < expected - 3) || (movie > expected + 3) || !base
    if (bad) { print "long-session: PROBLEM"; exit 1 }
    print "long-session: ok"
  }' "$work/out"
check=$?
[ $status -eq 0 ] && [ $check -eq 0 ] && { rm -rf "$work"; exit 0; }
echo "long-session: program status $status; output in $work" >&2
exit 1
