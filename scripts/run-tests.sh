#!/usr/bin/env bash
# Runs the whole test suite. Tests that build windows need an X display, so the
# suite runs under a virtual one when none is set.
set -euo pipefail
# Tests run in parallel, as many as the machine has cores unless TEST_JOBS (or
# ctest's own CTEST_PARALLEL_LEVEL) says otherwise.
build_dir="${1:-build}"
jobs="${TEST_JOBS:-${CTEST_PARALLEL_LEVEL:-$(nproc)}}"
cd "$build_dir"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 900 -j "$jobs"
fi
exec ctest --output-on-failure --timeout 900 -j "$jobs"
