#!/bin/sh
# Runs a command with an X server of its own (Xvfb on a free display number, gone when the
# command ends), for Qt Quick's hardware scene graphs on Mesa's software OpenGL (llvmpipe, GLX)
# and Vulkan (lavapipe) drivers. Usage: run-with-xvfb.sh COMMAND [ARGS...]
set -eu
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "run-with-xvfb: Xvfb is not installed (scripts/setup.sh installs xvfb)" >&2
    exit 1
fi
dir=$(mktemp -d)
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
server=$!
cleanup() {
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT
# Xvfb writes its display number once it accepts connections.
if ! read -r number <"$dir/display"; then
    echo "run-with-xvfb: Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
fi
status=0
DISPLAY=":$number" "$@" || status=$?
exit "$status"
