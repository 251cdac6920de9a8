#!/usr/bin/env bash
# The editor's cost: CPU time of the standalone process over a stretch of
# seconds (default 20) under a virtual display, on a JACK server with the
# dummy driver, idle and with a note held on the on-screen keyboard, with the
# OpenGL background on and off. Prints one line per case; nothing is judged.
#
#   bench/editor_cost.sh path/to/Standalone/Korvane [seconds]
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
seconds="${2:-20}"
here="$(cd "$(dirname "$0")" && pwd)"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 +extension GLX" bash "$0" "$@"
fi

source "$here/../tests/scripts/jack_common.sh"
jack_start korvane-cost
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

run_case() {
    local background="$1" playing="$2"
    write_standalone_jack_setup
    mkdir -p "$HOME/OrbelAudio"
    cat >"$HOME/OrbelAudio/Korvane.oasettings" <<XML
<?xml version="1.0" encoding="UTF-8"?>

<OrbelAudioSettings initLog="false" motdTag="x" patchLocation="__default__" showBgVis="$background" startupMsg="false" updates="false" version="25.9.26"/>
XML
    start_bg "app-$background-$playing.log" "$app"
    local pid="${JACK_PIDS[-1]}"
    wait_for_port Korvane:out_1 30

    local window=""
    for _ in $(seq 1 100); do
        window=$(xdotool search --name '^Korvane$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "no Korvane window"
    sleep 3 # start-up work (fonts, shader, first paints) is not the steady cost

    if [ "$playing" = yes ]; then
        # Hold a white key of the keyboard strip, 25 px above the window's bottom edge.
        eval "$(xdotool getwindowgeometry --shell "$window")"
        xdotool mousemove --window "$window" 560 $((HEIGHT - 25)) mousedown 1
    fi

    local before after
    before=$(cpu_ticks "$pid")
    sleep "$seconds"
    after=$(cpu_ticks "$pid")
    [ "$playing" = yes ] && xdotool mouseup 1

    awk -v b="$background" -v p="$playing" -v d=$((after - before)) -v t="$ticks" -v s="$seconds" \
        'BEGIN { printf "background %-5s note held %-3s  %5.1f %% of one core\n", b, p, 100 * d / t / s }'

    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    unset 'JACK_PIDS[-1]'
}

echo "Editor cost over $seconds s (standalone on JACK's dummy driver, 48 kHz, 512 frames, under Xvfb)"
for background in false true; do
    for playing in no yes; do
        run_case "$background" "$playing"
    done
done
