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
source "$(dirname "${BASH_SOURCE[0]}")/qt_hosts.sh"

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"
for file in include/rivlo/qt/QtQuickPlatform.h lib/cmake/Rivlo/RivloQuickTargets.cmake \
            lib/pkgconfig/rivlo-quick.pc lib/rivlo-quick-webengine.so; do
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
start_collector "$collector" "$key"

# The host waits up to two minutes for its recording, taps, and quits; quitting sends.
"$work/quick-host/rivlo-quick-host" "$key" 120 > "$work/quick-host.log" 2>&1 \
    || fail "the Quick host failed: $(tail -20 "$work/quick-host.log")"
grep -qx "recording: yes" "$work/quick-host.log" \
    || fail "the Quick host did not record: $(tail -20 "$work/quick-host.log")"

expect_checkout_session "$collector" checkout "$work/quick-host.log"

# A QML program without a web view never loads Qt WebEngine, nor links it: the WebEngineView
# code is a module of its own, loaded when the first one appears.
grep -qx "webengine loaded: no" "$work/quick-host.log" \
    || fail "the Quick host loaded Qt WebEngine: $(tail -20 "$work/quick-host.log")"
objdump -p "$prefix/lib/librivlo-quick.so.1" | grep -E 'NEEDED' | grep -q WebEngine \
    && fail "librivlo-quick links Qt WebEngine"
objdump -p "$work/quick-host/rivlo-quick-host" | grep -E 'NEEDED' | grep -q WebEngine \
    && fail "the Quick host links Qt WebEngine"

echo "package_quick: a Qt Quick host outside the project built with" \
     "find_package(Rivlo COMPONENTS quick) recorded a session:" \
     "$frames frames, the occluded card red in each"
