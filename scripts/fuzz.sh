#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for a while, starting from its
# seed corpus in tests/fuzz/corpus/<target>/.  Fails on any crash, failed
# check or sanitizer report; the input that caused it is kept in
# build/fuzz/findings/ and shown.  Usage: scripts/fuzz.sh [SECONDS_EACH] (20)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

findings="build/fuzz/findings"
mkdir -p "$findings"
for name in naming_format settings_file; do
    # New inputs go to a scratch folder (the first one given), never into the
    # repository's seeds.
    scratch="$(mktemp -d)"
    log="build/fuzz/$name.log"
    echo "Fuzzing $name for ${seconds} s"
    if ! build/fuzz/tests/fuzz/${name}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$findings/${name}-" "$scratch" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz: $name failed; the input is in $findings/ (replay: build/fuzz/tests/fuzz/${name}_fuzz FILE)" >&2
        rm -rf "$scratch"
        exit 1
    fi
    grep -E '^stat::number_of_executed_units|^Done' "$log" || true
    rm -rf "$scratch"
done
