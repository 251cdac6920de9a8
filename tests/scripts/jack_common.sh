# Shared by the tests that need a JACK server: each test starts its own server
# with the dummy driver under a name of its own (so tests never meet each
# other or a user's server), and stops everything it started on exit, also
# when it fails. Every wait is bounded.
#
#   source jack_common.sh; jack_start NAME; ...; (cleanup runs on exit)

JACK_PIDS=()
JACK_TMP="$(mktemp -d /tmp/korvane-jack-test-XXXXXX)"
export HOME="$JACK_TMP/home"
mkdir -p "$HOME"
export JACK_NO_AUDIO_RESERVATION=1
export JACK_NO_START_SERVER=1

jack_cleanup() {
    local pid
    # Clients first, the server last, each by the id we started it with, each
    # given time to leave (a server stopped gently removes its shared memory).
    for (( i=${#JACK_PIDS[@]}-1; i>=0; i-- )); do
        pid="${JACK_PIDS[$i]}"
        kill -TERM "$pid" 2>/dev/null || continue
        for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    # Semaphores a killed client may leave behind carry the server's name.
    if [ -n "${JACK_DEFAULT_SERVER:-}" ]; then
        rm -f /dev/shm/jack_sem.*_"${JACK_DEFAULT_SERVER}"_* 2>/dev/null || true
    fi
    rm -rf "$JACK_TMP"
}
trap jack_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$JACK_TMP"/*.log; do
        [ -f "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Runs a command in the background, remembers its id for the cleanup.
start_bg() {
    local log="$1"; shift
    "$@" <&0 >"$JACK_TMP/$log" 2>&1 &
    JACK_PIDS+=("$!")
}

jack_start() {
    export JACK_DEFAULT_SERVER="$1-$$"
    command -v jackd >/dev/null || fail "jackd is not installed"
    start_bg jackd.log jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 -C 0 -P 2
    timeout 15 jack_wait -w -t 10 >/dev/null 2>&1 || fail "the JACK server $JACK_DEFAULT_SERVER did not come up"
}

# Waits until a port of that full name exists.
wait_for_port() {
    local port="$1" seconds="${2:-15}"
    for _ in $(seq 1 $((seconds * 10))); do
        timeout 5 jack_lsp 2>/dev/null | grep -qx "$port" && return 0
        sleep 0.1
    done
    fail "port $port did not appear within $seconds s"
}

# The standalone app's window settings file (~/.config/Korvane.settings)
# choosing JACK, as the app's audio set-up dialog writes it.
write_standalone_jack_setup() {
    mkdir -p "$HOME/.config"
    cat >"$HOME/.config/Korvane.settings" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>

<PROPERTIES>
  <VALUE name="audioSetup">
    <DEVICESETUP deviceType="JACK" audioOutputDeviceName="system" audioInputDeviceName="system"/>
  </VALUE>
</PROPERTIES>
XML
}
