#!/usr/bin/env bash
# package_test.sh BUILD_DIR SOURCE_DIR COLLECTOR CMAKE
#
# Installs the library into a temporary prefix and uses it from there as an outside program
# would: two C hosts through pkg-config (the calls of earlier releases; this release's options,
# init, own event loop and close) and examples/host through find_package(Rivlo COMPONENTS
# headless), each run against the collector on loopback until its tag arrives. Checks the
# installed files, that librivlo and librivlo-headless export only their own symbols under the
# right version nodes, and that another project can add the source tree with add_subdirectory.
set -euo pipefail
build=$1 source=$2 collector=$3 cmake=$4

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"

# What the prefix holds: the core library and the headless device, each with its SONAME, its
# CMake export and its pkg-config file, and the public headers.
lib=$prefix/lib/librivlo.so.1
headless=$prefix/lib/librivlo-headless.so.1
for library in "$lib" "$headless"; do
    [[ -f $(readlink -f "$library") ]] || fail "no lib/$(basename "$library")"
    soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
    [[ $soname == $(basename "$library") ]] || fail "SONAME of $(basename "$library") is '$soname'"
done
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
expected="./rivlo/Error.h ./rivlo/Log.h ./rivlo/Options.h ./rivlo/Platform.h ./rivlo/Rivlo.h ./rivlo/Version.h "
if [[ -f $prefix/include/rivlo/qt/QtPlatform.h ]]; then
    expected+="./rivlo/qt/QtPlatform.h "
fi
if [[ -f $prefix/include/rivlo/qt/QtQuickPlatform.h ]]; then
    expected+="./rivlo/qt/QtQuickPlatform.h "
fi
expected+="./rivlo/rivlo.h "
[[ $headers == "$expected" ]] || fail "installed headers are: $headers"
for file in lib/cmake/Rivlo/RivloConfig.cmake lib/cmake/Rivlo/RivloConfigVersion.cmake \
            lib/cmake/Rivlo/RivloTargets.cmake lib/cmake/Rivlo/RivloHeadlessTargets.cmake \
            lib/pkgconfig/rivlo.pc lib/pkgconfig/rivlo-headless.pc lib/rivlo-ffmpeg.so; do
    [[ -f $prefix/$file ]] || fail "no $file"
done
# The core links neither Cairo, Qt nor FFmpeg (its movie module, rivlo-ffmpeg.so, does, and is
# loaded with the first movie); the headless device is a library of its own that links the core.
needed=$(objdump -p "$lib" | awk '$1 == "NEEDED" {print $2}')
grep -qE '^(libcairo|libQt|libav|libsw|libyuv)' <<< "$needed" \
    && fail "librivlo links what it must not: $needed"
objdump -p "$headless" | grep -qE 'NEEDED +librivlo\.so\.1$' || fail "librivlo-headless does not link librivlo"

# Exports: the C API (rivlo_*) and the C++ facade under RIVLO_1; the internal C++ names the
# bridge libraries of this build use under RIVLO_PRIVATE_<version>; nothing from the standard
# library, FFmpeg, curl or the other dependencies.
version=$(awk -F'"' '/define RIVLO_VERSION_STRING/ {print $2}' "$prefix/include/rivlo/Version.h")
nm -D --defined-only "$lib" | awk '{print $NF}' > "$work/exports.versioned"
sed 's/@.*//' "$work/exports.versioned" > "$work/exports"
foreign=$(grep -v -E '^(rivlo_[a-z_]+|_ZN(K|St)?5rivlo.*|_ZZN5rivlo.*|_Z(TI|TS|TV|TT|GV|Th|Tv)[A-Za-z0-9_]*5rivlo.*|RIVLO_1|RIVLO_PRIVATE_[0-9.]+)$' "$work/exports" || true)
[[ -z $foreign ]] || fail "librivlo exports symbols that are not its own: $(head -20 <<< "$foreign")"
grep -qx "RIVLO_PRIVATE_$version" "$work/exports" || fail "no private node RIVLO_PRIVATE_$version"
for name in rivlo_install_linux_platform rivlo_install_headless_platform rivlo_start \
            rivlo_stop_and_upload rivlo_restart_session rivlo_is_recording \
            rivlo_mark_user_as_favorite rivlo_tag_screen_name rivlo_tag_users_name rivlo_add_tag \
            rivlo_set_precise_location rivlo_set_log_handler rivlo_run_main_loop rivlo_version \
            rivlo_options_new rivlo_options_free rivlo_init rivlo_flush rivlo_close \
            rivlo_is_initialized rivlo_strerror rivlo_set_main_thread_scheduler \
            rivlo_perform_main_thread_work; do
    grep -qx "$name@@RIVLO_1" "$work/exports.versioned" || fail "librivlo does not export $name under RIVLO_1"
done
# Each platform's install call and the facade's lifecycle are public names.
# (Demangled once into a file: grep -q closing a pipe early would fail c++filt under pipefail.)
c++filt < "$work/exports.versioned" > "$work/exports.demangled"
for name in 'rivlo::installLinuxPlatform(rivlo::ApplicationIdentity const&)' \
            'rivlo::installHeadlessPlatform()' 'rivlo::runMainLoop(double)' \
            'rivlo::Rivlo::init(rivlo::Options const&)' 'rivlo::Rivlo::isInitialized()' \
            'rivlo::Options::Options()' 'rivlo::performMainThreadWork(int*)'; do
    grep -qxF "$name@@RIVLO_1" "$work/exports.demangled" || fail "librivlo does not export $name under RIVLO_1"
done
# Nothing but the public API is under RIVLO_1.
internal=$(grep '@@RIVLO_1$' "$work/exports.demangled" | grep -v -E '^(rivlo_|rivlo::(Rivlo::|Options::(Options|~Options|operator=|set)|installLinuxPlatform|installHeadlessPlatform|runMainLoop|setLogHandler|setMainThreadScheduler|performMainThreadWork|QtPlatform::))' || true)
[[ -z $internal ]] || fail "librivlo exports internal names under RIVLO_1: $(head -20 <<< "$internal")"
# The headless device's library exports its entry point only.
headless_exports=$(nm -D --defined-only "$headless" | awk '{print $NF}' | sed 's/@.*//' | sort | tr '\n' ' ')
[[ $headless_exports == "RIVLO_HEADLESS_PRIVATE_$version rivlo_headless_install_device " ]] \
    || fail "librivlo-headless exports: $headless_exports"

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

# This release's lifecycle from C through pkg-config and librivlo alone: options, the headless
# device loaded by librivlo itself, the host's own poll loop, close with a limit. It exits by
# itself once close has uploaded the session.
(cd "$work/c" && cp "$source/tests/package/c_init_host.c" . &&
    cc -std=c11 -Wall -Werror -o c_init_host c_init_host.c $(pkg-config --cflags --libs rivlo)) \
    || fail "the C lifecycle host does not build through pkg-config"
LD_LIBRARY_PATH=$prefix/lib "$work/c/c_init_host" "$key" package-c-init-tag \
    > "$work/c/init-out.log" 2> "$work/c/init-err.log" \
    || fail "the C lifecycle host failed ($?): $(cat "$work/c/init-out.log"; tail -20 "$work/c/init-err.log")"
grep -qx "close: no error" "$work/c/init-out.log" || fail "close did not succeed: $(cat "$work/c/init-out.log")"
grep -q "^recording: yes" "$work/c/init-out.log" || fail "the C lifecycle host did not record: $(cat "$work/c/init-out.log")"
has_tag package-c-init-tag || fail "the C lifecycle host's tag did not arrive before close returned"
grep -q "Rivlo: addTag: the library is closed" "$work/c/init-err.log" \
    || fail "a call after close was not logged: $(tail -5 "$work/c/init-err.log")"

# The C++ example host through find_package(Rivlo COMPONENTS headless), built outside the source
# tree, with Rivlo::headless as its dependency.
"$cmake" -S "$source/examples/host" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release > "$work/cxx-configure.log" 2>&1 \
    || fail "examples/host does not configure against the prefix: $(tail -20 "$work/cxx-configure.log")"
"$cmake" --build "$work/cxx" > "$work/cxx-build.log" 2>&1 \
    || fail "examples/host does not build against the prefix: $(tail -20 "$work/cxx-build.log")"
"$work/cxx/rivlo-host-example" "$key" 1 package-cxx-tag > "$work/cxx/out.log" 2>&1 &
pids+=($!)
wait_for has_tag package-cxx-tag || fail "the C++ host's tag did not arrive: $(tail -20 "$work/cxx/out.log")"
grep -q "headless device is not installed" "$work/cxx/out.log" \
    && fail "the C++ host found no headless device: $(tail -20 "$work/cxx/out.log")"

# A project that adds the source tree with add_subdirectory and builds only the library gets
# Rivlo::rivlo without the suites' dependencies.
mkdir -p "$work/sub"
cat > "$work/sub/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(uses-rivlo LANGUAGES C CXX)
add_subdirectory("$source" rivlo)
foreach(target Rivlo::rivlo Rivlo::headless)
    if(NOT TARGET \${target})
        message(FATAL_ERROR "no \${target}")
    endif()
endforeach()
foreach(target rivlo-collector rivlo-demo test_foundation bench_screen)
    if(TARGET \${target})
        message(FATAL_ERROR "\${target} is defined in a library-only build")
    endif()
endforeach()
add_executable(app app.c)
target_link_libraries(app PRIVATE Rivlo::rivlo)
CMAKE
cp "$source/tests/package/c_host.c" "$work/sub/app.c"
"$cmake" -S "$work/sub" -B "$work/sub/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    > "$work/sub-configure.log" 2>&1 \
    || fail "a project using add_subdirectory does not configure: $(tail -20 "$work/sub-configure.log")"
looked_for=$(grep -E '^(GTest_DIR|benchmark_DIR|SQLite3_INCLUDE_DIR|HTTPLIB_INCLUDE_DIR)[:=]' \
    "$work/sub/build/CMakeCache.txt" || true)
[[ -z $looked_for ]] || fail "a library-only build looked for the suites' dependencies: $looked_for"

echo "package: installed, exports clean, C (pkg-config; earlier calls and the lifecycle) and C++" \
     "(find_package, Rivlo::headless) hosts recorded, add_subdirectory configures"
