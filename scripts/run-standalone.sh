#!/usr/bin/env bash
# Starts the standalone app. Without an X display (a server or CI machine) it
# runs under a virtual one, so the app still starts and can be inspected.
set -euo pipefail
app="$1"
if [ -z "${DISPLAY:-}" ]; then
    echo "No X display found: starting Korvane under a virtual display (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$app"
fi
exec "$app"
