#!/usr/bin/env bash
# The LV2 UI in a host we did not write: jalv.gtk3 on the suite's X display
# with a JACK server (dummy driver), notes playing. The bundle must declare
# its X11 UI, jalv must show a window holding the 1119 x 700 editor that draws
# something (a screenshot is kept), and jalv must end normally when told to.
set -euo pipefail
lv2_folder="$(cd "$1" && pwd)"     # folder holding Korvane.lv2 (lilv wants it absolute)
uri="$2"
shots="$3"
mkdir -p "$shots"
source "$(dirname "$0")/jack_common.sh"

[ -n "${DISPLAY:-}" ] || fail "no X display (the suite runs under xvfb-run)"
for tool in jalv.gtk3 xdotool xwininfo import convert; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done

# The bundle declares the X11 UI and what it needs from its host.
bundle="$lv2_folder/Korvane.lv2"
grep -q "<$uri:UI>" "$bundle/manifest.ttl" && grep -A1 "<$uri:UI>" "$bundle/manifest.ttl" | grep -q "ui:X11UI" \
    || fail "manifest.ttl does not declare $uri:UI as a ui:X11UI"
grep -q "ui:parent" "$bundle/ui.ttl" && grep -q "ui:idleInterface" "$bundle/ui.ttl" \
    || fail "ui.ttl does not list the parent window and idle interface the UI needs"

# The plug-in's settings as after a first run: no message box, no message of the day.
mkdir -p "$HOME/OrbelAudio"
echo '<OrbelAudioSettings startupMsg="false" updates="false"/>' >"$HOME/OrbelAudio/Korvane.oasettings"

jack_start korvane-jalv-ui
export LV2_PATH="$lv2_folder"
start_bg jalv-ui.log timeout 60 jalv.gtk3 --no-menu -x --jack-name=korvane-ui "$uri" </dev/null
jalv_pid="${JACK_PIDS[-1]}"
wait_for_port korvane-ui:in 20

# Note 69 for 1.9 s of every 2 s, so the displays move.
start_bg midiseq.log timeout 60 jack_midiseq seq 96000 0 69 91200
wait_for_port seq:out
timeout 5 jack_connect seq:out korvane-ui:in || fail "cannot connect the sequencer to jalv"

window=""
for _ in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --name '^Korvane$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "jalv showed no window named Korvane within 10 s"
sleep 2   # let the editor draw a few frames

geometry=$(xwininfo -id "$window")
width=$(echo "$geometry" | awk '/Width:/ { print $2 }')
height=$(echo "$geometry" | awk '/Height:/ { print $2 }')
[ "$width" -ge 1119 ] && [ "$height" -ge 700 ] || fail "jalv's window is ${width} x ${height}, smaller than the 1119 x 700 editor"

# The editor is a window of its own embedded in jalv's, exactly the design size.
xwininfo -tree -id "$window" | grep -Eq '\(has no name\): \(\)  1119x700\+' \
    || fail "no embedded 1119 x 700 editor window inside jalv's window: $(xwininfo -tree -id "$window")"

# Another test's window may lie over jalv's for a moment on the shared
# display: raised and taken again, up to five times.
shot="$shots/lv2-ui-in-jalv.png"
drawn=no
for _ in 1 2 3 4 5; do
    xdotool windowraise "$window" 2>/dev/null || true
    sleep 0.3
    x=$(xwininfo -id "$window" | awk '/Absolute upper-left X:/ { print $4 }')
    y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y:/ { print $4 }')
    import -window root -crop "${width}x${height}+${x}+${y}" "$shot" 2>/dev/null || fail "the screenshot could not be taken"
    colours=$(convert "$shot" -format '%k' info:)
    spread=$(convert "$shot" -colorspace gray -format '%[fx:standard_deviation]' info:)
    awk -v c="$colours" -v s="$spread" 'BEGIN { exit !(c > 50 && s > 0.02) }' && { drawn=yes; break; }
    sleep 0.5
done
[ "$drawn" = yes ] || fail "the window looks blank: $colours colours, grey deviation $spread"

# jalv ends on SIGTERM like on its window's close: exit status 0, no crash.
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv stopped before it was told to"
kill -TERM "$jalv_pid"
status=0
for _ in $(seq 1 100); do kill -0 "$jalv_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$jalv_pid" 2>/dev/null && fail "jalv still runs 10 s after SIGTERM"
wait "$jalv_pid" || status=$?
[ "$status" -eq 0 ] || fail "jalv ended with exit status $status after SIGTERM"
! grep -Eiq 'segmentation|core dumped|assertion|leaked objects' "$JACK_TMP/jalv-ui.log" || fail "jalv's output reports a fault"

echo "jalv.gtk3 OK: the Korvane UI (${width} x ${height} window, $colours colours) opened and closed; screenshot $shot"
