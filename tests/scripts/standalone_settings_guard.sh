#!/usr/bin/env bash
# The standalone app with a window settings file (~/.config/Korvane.settings)
# nested 40 000 levels deep: it starts, shows its window and keeps running, the
# file is kept byte for byte under another name, and the user is told why.
set -uo pipefail
app="$1"

export HOME="$(mktemp -d /tmp/korvane-settings-guard-home-XXXXXX)"
log="$HOME/app.log"
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$HOME"' EXIT

mkdir -p "$HOME/.config"
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>'
    for _ in $(seq 1 40000); do printf '<a>'; done
    printf '</PROPERTIES>\n'
} > "$HOME/.config/Korvane.settings"
cp "$HOME/.config/Korvane.settings" "$HOME/original"

"$app" > "$log" 2>&1 &
pid=$!

found=""
for _ in $(seq 1 60); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Korvane"'; then found=1; break; fi
    kill -0 "$pid" 2>/dev/null || { echo "FAIL: the app ended at start" >&2; cat "$log" >&2; exit 1; }
    sleep 0.5
done
[ -n "$found" ] || { echo "FAIL: no Korvane window appeared" >&2; exit 1; }
sleep 1
kill -0 "$pid" 2>/dev/null || { echo "FAIL: the app stopped running" >&2; cat "$log" >&2; exit 1; }

cmp -s "$HOME/original" "$HOME/.config/Korvane.settings.unreadable" \
    || { echo "FAIL: the unreadable file was not kept as Korvane.settings.unreadable" >&2; ls -la "$HOME/.config" >&2; exit 1; }
grep -q "nested more than 32 levels deep" "$log" \
    || { echo "FAIL: the app did not say why" >&2; cat "$log" >&2; exit 1; }
echo "standalone settings guard OK: the app runs, the file is kept aside"
