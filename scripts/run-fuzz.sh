#!/usr/bin/env bash
# Builds the fuzz targets (clang, ASan + UBSan, folder build-fuzz), writes their
# seed corpora from the program's own output, and runs each target for
# FUZZ_SECONDS (default 60). The working corpora grow in build-fuzz/corpus/;
# a crashing input is saved under build-fuzz/artifacts/<target>/ and fails the run.
# FUZZ_TARGETS picks targets (default: all).
set -uo pipefail

dir=build-fuzz
seconds="${FUZZ_SECONDS:-60}"
jobs="${JOBS:-2}"
targets="${FUZZ_TARGETS:-patch_text host_state settings_text motd_reply midi_file}"

CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANE_FUZZ=ON -DKORVANE_BUILD_TESTS=OFF >/dev/null || exit 1
cmake --build "$dir" --parallel "$jobs" --target fuzz_targets || exit 1
"$dir/fuzz/korvane_fuzz_seeds" "$dir/seeds" >/dev/null || exit 1

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

mkdir -p "$dir/logs"
summary=()
failed=0

for t in $targets; do
    mkdir -p "$dir/corpus/$t" "$dir/artifacts/$t"
    corpora=("$dir/corpus/$t" "$dir/seeds/$t")
    [ -d "fuzz/corpus/$t" ] && corpora+=("fuzz/corpus/$t")
    [ -d "tests/data/fuzz/$t" ] && corpora+=("tests/data/fuzz/$t") # inputs that once failed
    log="$dir/logs/$t.log"

    # The XML targets take inputs as large as the app reads (patch and
    # settings files up to 256 KiB; host state is that text in an 8-byte
    # wrapper) from the first run on, so that size-driven faults such as
    # deep nesting are in reach of a short run.
    case "$t" in
        patch_text|settings_text) max_len=(-max_len=262144 -len_control=0) ;;
        host_state)               max_len=(-max_len=262160 -len_control=0) ;;
        *)                        max_len=() ;;
    esac

    echo "== fuzz_$t for ${seconds} s (log: $log)"
    "$dir/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${max_len[@]}" \
        -dict="$dir/seeds/$t.dict" -artifact_prefix="$dir/artifacts/$t/" -print_final_stats=1 \
        "${corpora[@]}" >"$log" 2>&1
    status=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    corpus=$(ls "$dir/corpus/$t" | wc -l)

    if [ $status -eq 0 ]; then
        summary+=("fuzz_$t: ${seconds} s, ${runs:-?} inputs, corpus ${corpus} files, nothing found")
    else
        failed=1
        summary+=("fuzz_$t: FAILED (exit $status), see $log and $dir/artifacts/$t/")
        grep -E 'ERROR:|fuzz check failed|SUMMARY:|Test unit written' "$log" | head -5
    fi
done

printf '%s\n' "${summary[@]}"
exit $failed
