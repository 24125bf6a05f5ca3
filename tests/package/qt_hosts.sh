# Sourced by the Qt package tests after common.sh: the collector a host records into, and the
# checks of what arrived (the session of a checkout page with two taps and the occluded card).

# start_collector COLLECTOR KEY: the collector on loopback (its data in $data), the host's
# folders in the temporary directory, Qt on its offscreen platform.
start_collector() {
    local collector=$1 key=$2
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
}

# expect_checkout_session COLLECTOR SCREEN HOST_LOG (with $data and $movieprobe set): the session
# arrives with the screen SCREEN tapped twice and a screen movie, whose frames show the card (the
# window's middle) red and the page above it green, every one. Sets $frames.
expect_checkout_session() {
    local collector=$1 screen=$2 log=$3
    report() { "$collector" report --data "$data" 2>/dev/null; }
    # Read whole before grep looks at it: under pipefail an early `grep -q` exit reads as a miss.
    has_session() {
        local text
        text=$(report) || return 1
        grep -qE "\"$screen\" at [0-9.]+ s: 2 gestures \\(2 single tap\\)" <<< "$text" &&
            grep -qE 'screen movie .*\.mp4' <<< "$text"
    }
    wait_for has_session \
        || fail "the session, its screen and its movie did not all arrive: $(report; tail -20 "$log")"

    local movie
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
    frames=$(grep -c '^frame' "$work/probe.log")
}
