#!/usr/bin/env bash
# The LV2 bundle in a host we did not write: jalv under a JACK server with the
# dummy driver. jack_midiseq plays note 69 over and over, jack_rec records the
# plug-in's outputs, and the recording must hold the notes: a real level
# (measured with sox) at the right pitch (440 Hz, measured by the test host's
# analysis).
set -euo pipefail
lv2_folder="$(cd "$1" && pwd)"     # folder holding Korvane.lv2 (lilv wants it absolute)
uri="$2"
host="$(cd "$(dirname "$3")" && pwd)/$(basename "$3")"   # korvane_plugin_host, for the pitch measurement
source "$(dirname "$0")/jack_common.sh"

command -v jalv >/dev/null || fail "jalv is not installed"
jack_start korvane-jalv

# jalv reads commands from stdin and quits at its end: give it a pipe that
# stays open until the cleanup ends jalv.
mkfifo "$JACK_TMP/jalv.in"
exec 3<>"$JACK_TMP/jalv.in"
export LV2_PATH="$lv2_folder"
start_bg jalv.log timeout 60 jalv -x -n korvane "$uri" <"$JACK_TMP/jalv.in"
wait_for_port korvane:in
wait_for_port korvane:audio_out_1
wait_for_port korvane:audio_out_2

# Note 69 for 1.9 s of every 2 s.
start_bg midiseq.log timeout 60 jack_midiseq seq 96000 0 69 91200
wait_for_port seq:out
timeout 5 jack_connect seq:out korvane:in || fail "cannot connect the sequencer to jalv"

rec="$JACK_TMP/recording.wav"
timeout 20 jack_rec -f "$rec" -d 3 -b 24 korvane:audio_out_1 korvane:audio_out_2 >"$JACK_TMP/rec.log" 2>&1 \
    || fail "jack_rec failed"
[ -s "$rec" ] || fail "no recording was written"

# Level, by sox.
stats=$(sox "$rec" -n stat 2>&1) || fail "sox cannot read the recording"
rms=$(echo "$stats" | awk -F: '/RMS +amplitude/ { gsub(/ /, "", $2); print $2 }')
peak=$(echo "$stats" | awk -F: '/Maximum amplitude/ { gsub(/ /, "", $2); print $2 }')
awk -v r="$rms" 'BEGIN { exit !(r > 0.01) }' || fail "the recording is (nearly) silent: RMS $rms"
awk -v p="$peak" 'BEGIN { exit !(p < 0.99) }' || fail "the recording clips: peak $peak"

# Pitch, from the test host's analysis (median period of the rising crossings).
analysis=$("$host" analyse "$rec") || fail "the analysis failed"
freq=$(echo "$analysis" | sed -n 's/.*frequency_hz=\([0-9.]*\).*/\1/p')
awk -v f="$freq" 'BEGIN { exit !(f > 438 && f < 442) }' || fail "the notes play at $freq Hz, expected 440 ($analysis)"

echo "jalv OK: $uri under JACK server $JACK_DEFAULT_SERVER; recording RMS $rms, peak $peak, $freq Hz"
