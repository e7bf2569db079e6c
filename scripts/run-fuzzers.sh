#!/usr/bin/env bash
# Runs every fuzz target in a build folder, sharing a time budget in seconds.
set -euo pipefail
dir=$1
budget=$2
targets=("$dir"/tests/fuzz/fuzz_*)
each=$((budget / ${#targets[@]}))
passed=0
for target in "${targets[@]}"; do
    name=$(basename "$target")
    corpus="$dir/corpus/$name"
    mkdir -p "$corpus"
    echo "-- $name for ${each}s"
    seeds="tests/fuzz/seeds/$name"
    # Findings (crashes, slow units) go to the build folder, never into the source tree.
    "$target" -max_total_time="$each" -max_len=4096 -print_final_stats=0 \
        -artifact_prefix="$dir/$name-" "$corpus" "$seeds" \
        2>"$dir/$name.log" || { tail -n 60 "$dir/$name.log"; exit 1; }
    passed=$((passed + 1))
done
echo "fuzz: $passed passed, 0 failed"
