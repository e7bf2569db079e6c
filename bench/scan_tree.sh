#!/usr/bin/env bash
# sorvik-scan against jdupes and fdupes on one generated tree of about 50,000 files
# (1.6 GB), page cache warm, all measured in the same run. Usage:
#   bench/scan_tree.sh BUILD_DIR [TREE_DIR]
# The tree is made once by make_tree and kept for later runs.
set -euo pipefail
build=$1
tree=${2:-${TMPDIR:-/tmp}/sorvik-bench-tree}
runs=3

if [ ! -f "$tree/.complete" ]; then
    rm -rf "$tree"
    "$build/bench/make_tree" "$tree" 50000
    touch "$tree/.complete"
fi
# Warm the page cache so that every tool reads from memory.
find "$tree" -type f -exec cat {} + > /dev/null

# Best wall time of $runs runs, in seconds.
best_of() {
    local best=""
    for _ in $(seq "$runs"); do
        local start end elapsed
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        elapsed=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$elapsed < $best" | bc -l)" = 1 ]; then
            best=$elapsed
        fi
    done
    printf '%.3f' "$best"
}

ours=$(best_of "$build/app/sorvik-scan" --compare size,hash "$tree")
jdupes=$(best_of jdupes -r -q "$tree")
fdupes=$(best_of fdupes -r -q "$tree")
groups_ours=$("$build/app/sorvik-scan" --compare size,hash "$tree" 2>&1 >/dev/null)
echo "tree: $(find "$tree" -type f -name '*.bin' | wc -l) files, $(du -sh "$tree" | cut -f1)"
echo "sorvik-scan: $groups_ours"
echo "scan_tree: sorvik-scan ${ours} s, jdupes ${jdupes} s, fdupes ${fdupes} s, ratio sorvik/jdupes $(printf '%.2f' "$(echo "$ours / $jdupes" | bc -l)")"
