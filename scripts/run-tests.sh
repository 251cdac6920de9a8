#!/usr/bin/env bash
# Runs the whole test suite. Tests that build windows need an X display, so the
# suite runs under a virtual one when none is set.
set -euo pipefail
build_dir="${1:-build}"
cd "$build_dir"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 900 -j 2
fi
exec ctest --output-on-failure --timeout 900 -j 2
