# Sourced by the package tests: a temporary folder removed at exit with the programs they
# started, a failure that says why, and a bounded wait.
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits until "$@" succeeds, up to three minutes (the suite may run beside others).
wait_for() {
    local deadline=$((SECONDS + 180))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}
