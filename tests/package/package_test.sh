#!/usr/bin/env bash
# package_test.sh BUILD_DIR SOURCE_DIR COLLECTOR CMAKE
#
# Installs the library into a temporary prefix and uses it from there as an outside program
# would: a C host through pkg-config and examples/host through find_package(Rivlo), each run
# against the collector on loopback until its tag arrives. Checks the installed files and that
# librivlo exports only its own symbols.
set -euo pipefail
build=$1 source=$2 collector=$3 cmake=$4

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"

# What the prefix holds.
lib=$prefix/lib/librivlo.so.1
[[ -f $(readlink -f "$lib") ]] || fail "no lib/librivlo.so.1"
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
[[ $soname == librivlo.so.1 ]] || fail "SONAME is '$soname'"
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
expected="./rivlo/Log.h ./rivlo/Platform.h ./rivlo/Rivlo.h ./rivlo/Version.h ./rivlo/rivlo.h "
if [[ -f $prefix/include/rivlo/qt/QtPlatform.h ]]; then
    expected="./rivlo/Log.h ./rivlo/Platform.h ./rivlo/Rivlo.h ./rivlo/Version.h ./rivlo/qt/QtPlatform.h ./rivlo/rivlo.h "
fi
[[ $headers == "$expected" ]] || fail "installed headers are: $headers"
for file in lib/cmake/Rivlo/RivloConfig.cmake lib/cmake/Rivlo/RivloConfigVersion.cmake \
            lib/cmake/Rivlo/RivloTargets.cmake lib/pkgconfig/rivlo.pc; do
    [[ -f $prefix/$file ]] || fail "no $file"
done

# Exports: the C API (rivlo_*), C++ names in namespace rivlo (_ZN5rivlo / _ZNK5rivlo) and the
# version node; nothing from the standard library, FFmpeg, curl, Cairo or internal classes.
nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' > "$work/exports"
foreign=$(grep -v -E '^(rivlo_[a-z_]+|_ZNK?5rivlo.*|RIVLO_1)$' "$work/exports" || true)
[[ -z $foreign ]] || fail "librivlo exports symbols that are not its own: $(head -20 <<< "$foreign")"
for name in rivlo_install_linux_platform rivlo_install_headless_platform rivlo_start \
            rivlo_stop_and_upload rivlo_restart_session rivlo_is_recording \
            rivlo_mark_user_as_favorite rivlo_tag_screen_name rivlo_tag_users_name rivlo_add_tag \
            rivlo_set_precise_location rivlo_set_log_handler rivlo_run_main_loop rivlo_version; do
    grep -qx "$name" "$work/exports" || fail "librivlo does not export $name"
done
# Each platform's install call comes from the platform itself; the shared object must have them.
# (Demangled once into a file: grep -q closing a pipe early would fail c++filt under pipefail.)
c++filt < "$work/exports" > "$work/exports.demangled"
for name in 'rivlo::installLinuxPlatform(rivlo::ApplicationIdentity const&)' \
            'rivlo::installHeadlessPlatform()' 'rivlo::runMainLoop(double)'; do
    grep -qxF "$name" "$work/exports.demangled" || fail "librivlo does not export $name"
done
internal=$(grep -v -E '^(rivlo_|RIVLO_1$|rivlo::(Rivlo::|installLinuxPlatform|installHeadlessPlatform|runMainLoop|setLogHandler|qt::|QtPlatform))' "$work/exports.demangled" || true)
[[ -z $internal ]] || fail "librivlo exports internal names: $(head -20 <<< "$internal")"

# The collector on loopback; the hosts' folders in the temporary directory.
key=package-key
"$collector" serve --data "$work/collector" --app-key "$key" --url-file "$work/url" \
    > "$work/collector.log" 2>&1 &
pids+=($!)
wait_for test -s "$work/url" || fail "the collector did not start: $(cat "$work/collector.log")"
export RIVLO_SERVICE_URL=$(cat "$work/url")
export HOME=$work/home XDG_CACHE_HOME=$work/home/cache XDG_CONFIG_HOME=$work/home/config
mkdir -p "$HOME"

# The report is read whole before grep looks at it (under pipefail an early `grep -q` exit
# would make a found tag read as missing).
has_tag() { grep -qF "\"$1\"" <<< "$("$collector" report --data "$work/collector" 2>/dev/null)"; }

# A C program through pkg-config.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
mkdir -p "$work/c"
cp "$source/tests/package/c_host.c" "$work/c/"
(cd "$work/c" && cc -std=c11 -Wall -Werror -o c_host c_host.c $(pkg-config --cflags --libs rivlo) -lm) \
    || fail "the C host does not build through pkg-config"
LD_LIBRARY_PATH=$prefix/lib "$work/c/c_host" "$key" package-c-tag > "$work/c/out.log" \
    2> "$work/c/err.log" &
pids+=($!)
wait_for has_tag package-c-tag || fail "the C host's tag did not arrive: $(tail -20 "$work/c/err.log")"
grep -qx "bad calls ignored: 6" "$work/c/out.log" \
    || fail "the C host's bad calls were not all logged: $(cat "$work/c/out.log")"

# The C++ example host through find_package(Rivlo), built outside the source tree.
"$cmake" -S "$source/examples/host" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release > "$work/cxx-configure.log" 2>&1 \
    || fail "examples/host does not configure against the prefix: $(tail -20 "$work/cxx-configure.log")"
"$cmake" --build "$work/cxx" > "$work/cxx-build.log" 2>&1 \
    || fail "examples/host does not build against the prefix: $(tail -20 "$work/cxx-build.log")"
"$work/cxx/rivlo-host-example" "$key" 1 package-cxx-tag > "$work/cxx/out.log" 2>&1 &
pids+=($!)
wait_for has_tag package-cxx-tag || fail "the C++ host's tag did not arrive: $(tail -20 "$work/cxx/out.log")"

echo "package: installed, exports clean, C (pkg-config) and C++ (find_package) hosts recorded"
