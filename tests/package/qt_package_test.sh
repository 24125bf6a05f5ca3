#!/usr/bin/env bash
# qt_package_test.sh BUILD_DIR SOURCE_DIR COLLECTOR CMAKE MOVIEPROBE
#
# A Qt Widgets program outside the project records a masked session through the installed
# package: install into a temporary prefix, build tests/package/qt_host (copied out of the source
# tree) with find_package(Rivlo REQUIRED COMPONENTS qt), run it on Qt's offscreen platform
# against the collector on loopback, and read back what arrived: the session with its screen
# name and taps, and a movie in which the occluded card is red in every frame while the page
# around it keeps its own colour. The program never loads Qt WebEngine, and the libraries do not
# link it; a second program with a web view has the bridge load its web view module from the
# installed folder.
set -euo pipefail
build=$1 source=$2 collector=$3 cmake=$4 movieprobe=$5

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/qt_hosts.sh"

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"
for file in include/rivlo/qt/QtPlatform.h lib/cmake/Rivlo/RivloQtTargets.cmake \
            lib/pkgconfig/rivlo-qt.pc lib/librivlo-qt.so.1 lib/rivlo-qt-webengine.so; do
    [[ -f $prefix/$file ]] || fail "no $file in the installed package"
done
# rivlo-qt.pc gives what a translation unit including the bridge's header needs.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
echo '#include <rivlo/qt/QtPlatform.h>' |
    c++ -std=c++17 -fPIC -fsyntax-only -x c++ - $(pkg-config --cflags rivlo-qt) \
        > "$work/pc.log" 2>&1 \
    || fail "rivlo/qt/QtPlatform.h does not compile with rivlo-qt.pc's flags: $(tail -20 "$work/pc.log")"

# The Qt host, built outside the source tree against the prefix only.
mkdir -p "$work/qt-host-src"
cp "$source/tests/package/qt_host/CMakeLists.txt" "$source/tests/package/qt_host/main.cpp" \
    "$source/tests/package/qt_host/web.cpp" "$work/qt-host-src/"
"$cmake" -S "$work/qt-host-src" -B "$work/qt-host" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release > "$work/qt-configure.log" 2>&1 \
    || fail "the Qt host does not configure against the prefix: $(tail -20 "$work/qt-configure.log")"
"$cmake" --build "$work/qt-host" > "$work/qt-build.log" 2>&1 \
    || fail "the Qt host does not build against the prefix: $(tail -20 "$work/qt-build.log")"

# The collector on loopback; the host's folders in the temporary directory.
key=package-qt-key
start_collector "$collector" "$key"

# The host waits up to two minutes for its recording, taps, and quits; quitting sends.
"$work/qt-host/rivlo-qt-host" "$key" 120 > "$work/qt-host.log" 2>&1 \
    || fail "the Qt host failed: $(tail -20 "$work/qt-host.log")"
grep -qx "recording: yes" "$work/qt-host.log" \
    || fail "the Qt host did not record: $(tail -20 "$work/qt-host.log")"
grep -qx "close: 0" "$work/qt-host.log" \
    || fail "the Qt host could not close the library: $(tail -20 "$work/qt-host.log")"
# A Widgets program without a web view never loads Qt WebEngine, nor links it.
grep -qx "webengine loaded: no" "$work/qt-host.log" \
    || fail "the Qt host loaded Qt WebEngine: $(tail -20 "$work/qt-host.log")"
for library in librivlo.so.1 librivlo-qt.so.1; do
    objdump -p "$prefix/lib/$library" | grep -E 'NEEDED' | grep -q WebEngine \
        && fail "$library links Qt WebEngine"
done
objdump -p "$prefix/lib/librivlo.so.1" | grep -E 'NEEDED +libQt6' \
    && fail "librivlo links Qt"

# A program with a web view: the bridge loads its web view module from the installed folder.
QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" QTWEBENGINE_DISABLE_SANDBOX=1 \
    "$work/qt-host/rivlo-qt-web-host" 60 > "$work/qt-web-host.log" 2>&1 \
    || fail "the web view module was not loaded: $(tail -20 "$work/qt-web-host.log")"
grep -qx "module: $(realpath "$prefix/lib")/rivlo-qt-webengine.so" "$work/qt-web-host.log" \
    || fail "the web view module came from elsewhere: $(tail -20 "$work/qt-web-host.log")"
grep -qx "close: 0" "$work/qt-web-host.log" \
    || fail "the web host could not close the library: $(tail -20 "$work/qt-web-host.log")"

expect_checkout_session "$collector" CheckoutPage "$work/qt-host.log"

echo "package_qt: a Qt host outside the project built with find_package(Rivlo COMPONENTS qt)" \
     "recorded a session: $(grep -c '^frame' "$work/probe.log") frames, the occluded card red in each"
