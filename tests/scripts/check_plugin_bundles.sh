#!/usr/bin/env bash
# Checks the LV2 and VST3 bundles that the build produced: the LV2 bundle
# describes the plug-in (80 parameters, a MIDI input, stereo audio out) and a
# host library can load its description by URI.
set -euo pipefail
artefacts="$1"   # .../Korvane_artefacts/<config>
uri="$2"

lv2="$artefacts/LV2/Korvane.lv2"
vst3="$artefacts/VST3/Korvane.vst3"
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$lv2/manifest.ttl" ] || fail "no manifest.ttl in $lv2"
[ -f "$lv2/dsp.ttl" ] || fail "no dsp.ttl in $lv2"
[ -f "$lv2/libKorvane.so" ] || fail "no plug-in library in $lv2"

grep -q "<$uri>" "$lv2/manifest.ttl" || fail "manifest does not name $uri"
params=$(grep -c "a lv2:Parameter" "$lv2/dsp.ttl" || true)
[ "$params" -eq 80 ] || fail "dsp.ttl declares $params parameters, expected 80"
grep -q "midi:MidiEvent" "$lv2/dsp.ttl" || fail "dsp.ttl declares no MIDI input"
grep -q "lv2:InstrumentPlugin" "$lv2/dsp.ttl" || fail "dsp.ttl does not declare an instrument"
for id in dummy cutoff masterVol lfo2_retrigLfo; do
    grep -q "$id" "$lv2/dsp.ttl" || fail "dsp.ttl lacks parameter $id"
done

# lv2info reads the bundle the way hosts do (through lilv).
info=$(LV2_PATH="$(cd "$artefacts/LV2" && pwd):/usr/lib/lv2" lv2info "$uri") || fail "lv2info could not load $uri"
echo "$info" | grep -q "Name:.*Korvane" || fail "lv2info shows no name Korvane"
echo "$info" | grep -qi "Class:.*Instrument" || fail "lv2info shows no instrument class"
audioOut=$(echo "$info" | grep -c "http://lv2plug.in/ns/lv2core#AudioPort" || true)
[ "$audioOut" -ge 2 ] || fail "lv2info shows $audioOut audio ports, expected 2"

[ -f "$vst3/Contents/x86_64-linux/Korvane.so" ] || fail "no VST3 library in $vst3"

echo "plug-in bundles OK: LV2 $uri with $params parameters, VST3 at $vst3"
