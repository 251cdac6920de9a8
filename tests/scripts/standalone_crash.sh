#!/usr/bin/env bash
# The standalone app's crash report, on the real program. Started with its
# hidden switch --crash-on-purpose, the app writes through a null pointer a
# second after it starts. The crash must end it with the signal's own exit
# status (139, SIGSEGV), leave a report that holds the run's log, and the next
# start must tell of it once. Runs on the current X display (the suite runs
# under a virtual one), with a temporary home folder.
set -uo pipefail
app="$1"
shots="$2"
mkdir -p "$shots"

export HOME="$(mktemp -d /tmp/korvane-crash-home-XXXXXX)"
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$HOME"' EXIT
reports="$HOME/OrbelAudio/Korvane/bugReports"
marker="$reports/.unseen_crash_report"

fail() { echo "FAIL: $*" >&2; exit 1; }

window_shown() { xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""; }

# Waits up to 30 s for a window of that title while the app runs.
wait_for_window() {
    for _ in $(seq 1 60); do
        window_shown "$1" && return 0
        kill -0 "$pid" 2>/dev/null || fail "the app exited early: $(cat "$shots/crash-run-$2.log")"
        sleep 0.5
    done
    fail "no \"$1\" window appeared (run $2)"
}

stop_app() {
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=""
}

# 1. The crash. No core file from a crash made on purpose.
ulimit -c 0
"$app" --crash-on-purpose > "$shots/crash-run-1.log" 2>&1 &
pid=$!
for _ in $(seq 1 120); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "the app still runs a minute after it should have crashed (hung in its crash handler?)"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 139 ] || fail "the app ended with exit status $status, expected 139 (SIGSEGV)"

shopt -s nullglob
found=("$reports"/crash_report_*.kvnrep)
[ "${#found[@]}" -eq 1 ] || fail "expected one crash report in $reports, found ${#found[@]}"
report="${found[0]}"
[[ "$(basename "$report")" =~ ^crash_report_[0-9]{1,2}_[A-Z][a-z]{2}_[0-9]{4}_[0-9]{1,2}-[0-9]{2}-[0-9]{2}\.kvnrep$ ]] \
    || fail "report name: $(basename "$report")"

# The run's log (header, the line logged before the crash), then the crash's entries.
grep -q $'^Korvane Crash Report: \r$' "$report" || fail "no log header in the report"
grep -q $'^Is Standalone:1\r$' "$report" || fail "the header does not say standalone"
grep -q $'^Crash on purpose\r$' "$report" || fail "the log of the run is missing from the report"
grep -q $'^Crash Report:\r$' "$report" || fail "no crash entry"
grep -q $'^Signal: 11 (SIGSEGV), code ' "$report" || fail "no signal entry"
grep -q "r-xp .*$(basename "$app")" "$report" || fail "the code mappings do not name the app"
awk '!/\r$/ { bad = 1 } END { exit bad }' "$report" || fail "a line of the report does not end in CR LF"
[ "$(cat "$marker")" = "$report" ] || fail "the marker does not name the report"
cp "$report" "$shots/crash_report.kvnrep"

# 2. The next start tells of it.
"$app" > "$shots/crash-run-2.log" 2>&1 &
pid=$!
wait_for_window "CRASH REPORT" 2
[ -e "$marker" ] && fail "the marker is still there after the notice"
import -window root "$shots/crash-notice.png" 2>/dev/null || true
stop_app

# 3. Only once.
"$app" > "$shots/crash-run-3.log" 2>&1 &
pid=$!
wait_for_window "Korvane" 3
sleep 3
window_shown "CRASH REPORT" && fail "the notice came again on the start after"
stop_app
[ -f "$report" ] || fail "the report went away"

echo "standalone crash OK: exit status 139, report $(basename "$report") with the run's log, told once on the next start"
