#!/usr/bin/env bash
# quick_package_test.sh BUILD_DIR SOURCE_DIR COLLECTOR CMAKE MOVIEPROBE
#
# A Qt Quick program outside the project records a masked session through the installed
# package: install into a temporary prefix, build tests/package/quick_host (copied out of the
# source tree) with find_package(Rivlo REQUIRED COMPONENTS quick), run it on Qt's offscreen
# platform against the collector on loopback, and read back what arrived: the session with its
# screen name and taps, and a movie in which the occluded card is red in every frame while the
# window around it keeps its own colour.
set -euo pipefail
build=$1 source=$2 collector=$3 cmake=$4 movieprobe=$5

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"
for file in include/rivlo/qt/QtQuickPlatform.h lib/cmake/Rivlo/RivloQuickTargets.cmake \
            lib/pkgconfig/rivlo-quick.pc; do
    [[ -f $prefix/$file ]] || fail "no $file in the installed package"
done
# rivlo-quick.pc gives what a translation unit including the bridge's header needs.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
echo '#include <rivlo/qt/QtQuickPlatform.h>' |
    c++ -std=c++17 -fPIC -fsyntax-only -x c++ - $(pkg-config --cflags rivlo-quick) \
        > "$work/pc.log" 2>&1 \
    || fail "rivlo/qt/QtQuickPlatform.h does not compile with rivlo-quick.pc's flags: $(tail -20 "$work/pc.log")"
# The shared object exports the public API only.
library=$(find "$prefix/lib" -name 'librivlo-quick.so.1' | head -1)
[[ -n $library ]] || fail "no librivlo-quick.so.1 in the installed package"
foreign=$(nm -D --defined-only "$library" | awk '$2 ~ /[TDBRVW]/ { print $3 }' | c++filt |
          grep -v -e '^rivlo::QtQuickPlatform::' -e '^RIVLO_QUICK_1$' || true)
[[ -z $foreign ]] || fail "librivlo-quick exports more than its public API: $(head -5 <<< "$foreign")"

# The Quick host, built outside the source tree against the prefix only.
mkdir -p "$work/quick-host-src"
cp "$source/tests/package/quick_host/CMakeLists.txt" "$source/tests/package/quick_host/main.cpp" \
    "$work/quick-host-src/"
"$cmake" -S "$work/quick-host-src" -B "$work/quick-host" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release > "$work/quick-configure.log" 2>&1 \
    || fail "the Quick host does not configure against the prefix: $(tail -20 "$work/quick-configure.log")"
"$cmake" --build "$work/quick-host" > "$work/quick-build.log" 2>&1 \
    || fail "the Quick host does not build against the prefix: $(tail -20 "$work/quick-build.log")"

# The collector on loopback; the host's folders in the temporary directory.
key=package-quick-key
data=$work/collector
"$collector" serve --data "$data" --app-key "$key" --url-file "$work/url" \
    > "$work/collector.log" 2>&1 &
pids+=($!)
wait_for test -s "$work/url" || fail "the collector did not start: $(cat "$work/collector.log")"
export RIVLO_SERVICE_URL=$(cat "$work/url")
export HOME=$work/home XDG_CACHE_HOME=$work/home/cache XDG_CONFIG_HOME=$work/home/config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

# The host waits up to two minutes for its recording, taps, and quits; quitting sends.
"$work/quick-host/rivlo-quick-host" "$key" 120 > "$work/quick-host.log" 2>&1 \
    || fail "the Quick host failed: $(tail -20 "$work/quick-host.log")"
grep -qx "recording: yes" "$work/quick-host.log" \
    || fail "the Quick host did not record: $(tail -20 "$work/quick-host.log")"

report() { "$collector" report --data "$data" 2>/dev/null; }
# Read whole before grep looks at it: under pipefail an early `grep -q` exit reads as a miss.
has_session() {
    local text
    text=$(report) || return 1
    grep -qE '"checkout" at [0-9.]+ s: 2 gestures \(2 single tap\)' <<< "$text" &&
        grep -qE 'screen movie .*\.mp4' <<< "$text"
}
wait_for has_session \
    || fail "the session, its screen and its movie did not all arrive: $(report; tail -20 "$work/quick-host.log")"

# The movie: the card (the window's middle) red in every frame, the page above it green.
movie=$(find "$data" -name '*.mp4' -path '*/screen/*' | head -1)
[[ -n $movie ]] || fail "no screen movie in the collector's folder"
"$movieprobe" "$movie" 0.5 0.5 0.5 0.1 > "$work/probe.log" \
    || fail "the movie does not decode: $(cat "$work/probe.log")"
awk '
    $1 == "movie" { next }
    $1 == "frame" {
        frames++
        split($3, card, ","); split($4, page, ",")
        if (!(card[1] >= 200 && card[2] <= 60 && card[3] <= 60)) bad = bad " card " $3 " at " $2 " s;"
        if (!(page[2] >= 100 && page[1] <= 60 && page[3] <= 60)) bad = bad " page " $4 " at " $2 " s;"
    }
    END {
        if (frames == 0) { print "no frames"; exit 1 }
        if (bad != "") { print bad; exit 1 }
    }' "$work/probe.log" > "$work/pixels.log" \
    || fail "the movie is not masked as it should be:$(cat "$work/pixels.log") ($(head -1 "$work/probe.log"))"

echo "package_quick: a Qt Quick host outside the project built with" \
     "find_package(Rivlo COMPONENTS quick) recorded a session:" \
     "$(grep -c '^frame' "$work/probe.log") frames, the occluded card red in each"
