#!/usr/bin/env bash
# The standalone app used as a person would use it, on the suite's (virtual)
# display with its sound going to a JACK dummy server and recorded there:
#   1. a white key of the on-screen keyboard clicked and held sounds at its pitch;
#   2. a sawtooth chosen on the oscillator screen by clicks changes the sound
#      (far more energy above the fundamental than the start-up sine);
#   3. the patch saved under a typed name on the save screen is written to the
#      patch folder and listed on the load screen; after the randomize button,
#      loading it from the list brings the sawtooth back.
# Every step keeps a screenshot in the screenshots folder.
#
#   standalone_e2e.sh APP SCREENSHOT_DIR
set -euo pipefail
# Run on its own, it brings its own virtual display.
if [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "FAIL: no X display and no xvfb-run" >&2; exit 1; }
    exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@"
fi
app="$1"
shots="$2/end-to-end"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$shots"
rm -f "$shots"/*
source "$here/jack_common.sh"

for tool in xdotool jack_rec import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup-deps.sh installs it)"
done
python=/usr/bin/python3
[ -x "$python" ] || fail "python3 is not installed"

step="set-up"
jack_start korvane-e2e

# The wrapper's own settings file choosing JACK, as the audio set-up dialog writes it.
write_standalone_jack_setup

# The app's own settings, as it saves them: no start-up message and no
# message of the day (nothing covers the panel, nothing goes to the network),
# and no animated background (drawn in software on a virtual display, it
# would take the cores the audio needs).
patch_dir="$HOME/OrbelAudio/Korvane"
mkdir -p "$patch_dir"
cat >"$HOME/OrbelAudio/Korvane.oasettings" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>

<OrbelAudioSettings initLog="true" motdTag="x" patchLocation="__default__" showBgVis="false" startupMsg="false" updates="false" version="25.9.26"/>
XML
# A "Factory" folder already there keeps the factory bank from being copied
# in, so the load list holds the built-in patch and the one saved here only.
mkdir -p "$patch_dir/Factory"

start_bg standalone.log timeout 140 "$app"
app_pid="${JACK_PIDS[-1]}"

wait_for_port Korvane:out_1 20

# The window is mapped small first and then given the editor's size: wait
# for a Korvane window as big as the editor.
window=""
for _ in $(seq 1 150); do
    for w in $(xdotool search --onlyvisible --name '^Korvane$' 2>/dev/null || true); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        if [ "${WIDTH:-0}" -ge 1119 ] && [ "${HEIGHT:-0}" -ge 700 ]; then window=$w; break; fi
    done
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "$step: no Korvane window of the editor's size (1119 x 700) appeared"
sleep 1
# The editor is 1119 x 700 at the bottom of the window, below the title bar
# with the wrapper's Options button, inside a border of equal width all round.
eval "$(xdotool getwindowgeometry --shell "$window")"
border=$(( (WIDTH - 1119) / 2 ))
ed_x=$(( X + border ))
ed_y=$(( Y + HEIGHT - 700 - border ))
echo "window $window at $X,$Y size ${WIDTH}x${HEIGHT}: editor at $ed_x,$ed_y"

shot() { import -window root "$shots/$1.png" 2>/dev/null || fail "$step: screenshot $1 failed"; }

# Clicks at a point given in editor coordinates.
click() {
    xdotool mousemove --sync $(( ed_x + $1 )) $(( ed_y + $2 )) click 1
    sleep 0.4
}

# The colour of the screen's pixel at a point in editor coordinates.
pixel() {
    import -window root -crop 1x1+$(( ed_x + $1 ))+$(( ed_y + $2 )) -depth 8 txt:- 2>/dev/null | grep -o '#[0-9A-Fa-f]\{6\}' | head -n 1
}

# Clicks at (X, Y) and waits until the pixel at (PX, PY) changes colour (an
# overlay screen opened or closed there), at most 5 s: click_until_changed WHAT X Y PX PY
click_until_changed() {
    local what="$1" before now
    before=$(pixel "$4" "$5")
    xdotool mousemove --sync $(( ed_x + $2 )) $(( ed_y + $3 )) click 1
    for _ in $(seq 1 50); do
        now=$(pixel "$4" "$5")
        [ -n "$now" ] && [ "$now" != "$before" ] && { sleep 0.2; return 0; }
        sleep 0.1
    done
    fail "$step: clicking $what changed nothing on screen (pixel at $4,$5 stayed $before)"
}

alive() { kill -0 "$app_pid" 2>/dev/null || fail "$step: the app stopped running"; }

# The keyboard lies along the editor's bottom edge (y 650..700). It shows
# keys 16 px wide, scrolled so that its last key ends at the right edge: the
# key at editor x starts at keyboard position x + 80 (MIDI note 9 at x 0).
# The bottom 15 px are white keys only.
white_key_note() {
    local index=$(( ($1 + 80) / 16 ))
    local steps=(0 2 4 5 7 9 11)
    echo $(( 12 * (index / 7) + ${steps[index % 7]} ))
}
key_x=568
key_y=693
note=$(white_key_note $key_x)
expected_hz=$("$python" -c "print(440.0 * 2 ** (($note - 69) / 12))")
echo "key at editor x $key_x is MIDI note $note, expected $expected_hz Hz"

# Records the app's left output while the key is held for a second, into
# $JACK_TMP/NAME.wav (a copy is kept beside the screenshots).
play_and_record() {
    local wav="$JACK_TMP/$1.wav"
    rm -f "$wav"
    alive
    start_bg "rec-$1.log" timeout 20 jack_rec -f "$wav" -d 3 -b 16 Korvane:out_1
    local rec_pid="${JACK_PIDS[-1]}"
    # The recorder is ready once its port is connected to the app's output.
    for _ in $(seq 1 50); do
        timeout 5 jack_lsp -c Korvane:out_1 2>/dev/null | grep -q jackrec && break
        sleep 0.1
    done
    timeout 5 jack_lsp -c Korvane:out_1 2>/dev/null | grep -q jackrec || fail "$step: the recorder did not connect to Korvane:out_1"
    sleep 0.3
    xdotool mousemove --sync $(( ed_x + key_x )) $(( ed_y + key_y )) mousedown 1
    sleep 1
    xdotool mouseup 1
    for _ in $(seq 1 100); do kill -0 "$rec_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$rec_pid" 2>/dev/null && fail "$step: the recorder did not finish"
    [ -s "$wav" ] || fail "$step: nothing was recorded"
    cp "$wav" "$shots/$1.wav"
}

analyse() { "$python" "$here/note_analysis.py" "$@"; }

# 1. The start-up patch: a sine at the clicked key's pitch.
step="1 (a clicked key sounds at its pitch)"
sleep 1
shot 01-started
play_and_record 01-sine-note
sine_wav="$JACK_TMP/01-sine-note.wav"
analyse "$sine_wav" --label "start-up sine" --freq "$expected_hz" --tol 0.03 --max-upper 0.05 \
    || fail "$step: the note of the clicked key was not found at its pitch"

# 2. Oscillator 1's waveform chosen on its screen: the "Saw" category, then its first entry.
step="2 (a sawtooth chosen on the oscillator screen)"
# A point on the header of the oscillator screen (64, 64, 991, 572), clear of its buttons.
osc_header_x=$(( 64 + 400 )); osc_header_y=$(( 64 + 8 ))
click_until_changed "osc1MenuBtn (19, 91, 200, 32)" 119 107 $osc_header_x $osc_header_y
shot 02-oscillator-screen
click $(( 64 + 399 )) $(( 64 + 99 ))    # the "Saw" category (349, 75, 100, 48) on the screen at (64, 64)
shot 03-saw-category
# The list's first entry (109, 150, 772, 32); choosing closes the screen.
click_until_changed "the first sawtooth in the list" $(( 64 + 495 )) $(( 64 + 166 )) $osc_header_x $osc_header_y
shot 04-saw-chosen
play_and_record 02-saw-note
saw_wav="$JACK_TMP/02-saw-note.wav"
analyse "$saw_wav" --label "sawtooth" --freq "$expected_hz" --tol 0.03 --min-upper 0.3 \
    || fail "$step: the chosen waveform did not change the sound into a sawtooth's"

# 3. The patch saved under a typed name, listed, and loaded back after randomizing.
step="3 (a patch saved on the save screen and loaded back)"
name="E2E Saw"
# A point on the header of the save and load screens (324, 64, 471, 572).
file_header_x=$(( 324 + 200 )); file_header_y=$(( 64 + 8 ))
click_until_changed "savePatchBtn (909, 10, 50, 32)" 934 26 $file_header_x $file_header_y
shot 05-save-screen
click $(( 324 + 210 )) $(( 64 + 150 ))  # the name field (10, 130, 400, 40) on the screen at (324, 64)
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 30 "$name"
sleep 0.3
shot 06-name-typed
click $(( 324 + 235 )) $(( 64 + 267 ))  # the Save button (185, 251, 100, 32)
for _ in $(seq 1 50); do [ -f "$patch_dir/$name.kvn" ] && break; sleep 0.1; done
shot 07-saved
[ -f "$patch_dir/$name.kvn" ] || fail "$step: no file $patch_dir/$name.kvn after clicking Save (folder holds: $(ls "$patch_dir"))"
cp "$patch_dir/$name.kvn" "$shots/"
grep -q 'sawtooth_og' "$patch_dir/$name.kvn" || fail "$step: the saved file does not hold the chosen sawtooth"

click 984 26             # randomizePatchBtn (959, 10, 50, 32)
shot 08-randomized
click_until_changed "loadPatchBtn (859, 10, 50, 32)" 884 26 $file_header_x $file_header_y
shot 09-load-screen
# The list holds "__Init[OA]__" first, then the saved file; entries are 32 px
# high from y 66 of the screen at (324, 64).
click_until_changed "the saved patch in the load list" $(( 324 + 235 )) $(( 64 + 66 + 32 + 16 )) $file_header_x $file_header_y
shot 10-loaded
play_and_record 03-loaded-note
loaded_wav="$JACK_TMP/03-loaded-note.wav"
analyse "$loaded_wav" --label "loaded patch" --like "$saw_wav" --like-tol 0.3 \
    || fail "$step: the patch loaded from the list does not sound like the saved sawtooth"

alive
echo "end to end OK: key note $note at ${expected_hz} Hz, sawtooth chosen, patch \"$name\" saved and loaded back; screenshots and recordings in $shots"
