#!/usr/bin/env bash
# The standalone app on a (virtual) display with a JACK server running: it
# starts, opens the JACK device it is set up for, its ports exist and are
# connected to the server's outputs, and it keeps running. A screenshot is kept.
set -euo pipefail
app="$1"
shots="$2"
mkdir -p "$shots"
source "$(dirname "$0")/jack_common.sh"

jack_start korvane-app

# The wrapper's own settings file, as the audio set-up dialog writes it, choosing JACK.
write_standalone_jack_setup

start_bg standalone.log timeout 60 "$app"
app_pid="${JACK_PIDS[-1]}"

wait_for_port Korvane:out_1 20
wait_for_port Korvane:out_2

connections=$(timeout 5 jack_lsp -c Korvane:out_1 2>/dev/null)
echo "$connections" | grep -q "system:playback_1" || fail "Korvane:out_1 is not connected to system:playback_1"

for _ in $(seq 1 50); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Korvane"' && break
    sleep 0.1
done
xwininfo -root -tree 2>/dev/null | grep -q '"Korvane"' || fail "no Korvane window appeared"

sleep 3
kill -0 "$app_pid" 2>/dev/null || fail "the app stopped running"
timeout 5 jack_lsp 2>/dev/null | grep -qx Korvane:out_1 || fail "the app left the JACK server"
import -window root "$shots/standalone-jack.png" 2>/dev/null || xwd -root -silent >"$shots/standalone-jack.xwd"

echo "standalone OK: running on JACK server $JACK_DEFAULT_SERVER with ports Korvane:out_1/2 connected; screenshot in $shots"
