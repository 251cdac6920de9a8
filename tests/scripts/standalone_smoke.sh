#!/usr/bin/env bash
# Starts the standalone app on the current X display (the suite runs under a
# virtual one) without any sound card, checks that a "Korvane" window appears
# and that the app keeps running, and keeps a screenshot for inspection.
set -uo pipefail
app="$1"
shots="$2"
mkdir -p "$shots"

export HOME="$(mktemp -d /tmp/korvane-smoke-home-XXXXXX)"
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$HOME"' EXIT

"$app" > "$shots/standalone.log" 2>&1 &
pid=$!

found=""
for _ in $(seq 1 60); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Korvane"'; then found=1; break; fi
    kill -0 "$pid" 2>/dev/null || { echo "FAIL: the app exited early" >&2; cat "$shots/standalone.log" >&2; exit 1; }
    sleep 0.5
done
[ -n "$found" ] || { echo "FAIL: no Korvane window appeared" >&2; exit 1; }

sleep 3
kill -0 "$pid" 2>/dev/null || { echo "FAIL: the app stopped running" >&2; cat "$shots/standalone.log" >&2; exit 1; }
import -window root "$shots/standalone.png" 2>/dev/null || xwd -root -silent > "$shots/standalone.xwd"
echo "standalone OK: window shown, still running; screenshot in $shots"
