#!/usr/bin/env bash
# The Scan command through the real progress dialog (offscreen) against jdupes -r -q on
# the tree of scan_tree.sh, Size and Hash, page cache warm, in the same run: idle, then
# with two busy processes beside both. Also the longest gap of the main thread's event
# loop during the scan. Usage:
#   bench/scan_dialog.sh BUILD_DIR [TREE_DIR]
set -euo pipefail
build=$1
tree=${2:-${TMPDIR:-/tmp}/sorvik-bench-tree}
runs=3

if [ ! -f "$tree/.complete" ]; then
    rm -rf "$tree"
    "$build/bench/make_tree" "$tree" 50000
    touch "$tree/.complete"
fi
find "$tree" -type f -exec cat {} + > /dev/null

# Best wall time of $runs runs of jdupes, in seconds.
best_jdupes() {
    local best=""
    for _ in $(seq "$runs"); do
        local start end elapsed
        start=$(date +%s.%N)
        jdupes -r -q "$tree" > /dev/null 2>&1
        end=$(date +%s.%N)
        elapsed=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$elapsed < $best" | bc -l)" = 1 ]; then
            best=$elapsed
        fi
    done
    printf '%.3f' "$best"
}

compare() {
    local label=$1 output ours gap jdupes
    output=$(QT_QPA_PLATFORM=offscreen "$build/bench/scan_dialog" "$tree" "$runs")
    ours=$(echo "$output" | sed -n 's/^scan_dialog: best \([0-9.]*\) s.*/\1/p')
    gap=$(echo "$output" | sed -n 's/.*longest event-loop gap \([0-9.]*\) ms$/\1/p' | tail -1)
    jdupes=$(best_jdupes)
    echo "$output" | grep -v '^scan_dialog: best'
    echo "scan_dialog ($label): Scan through the dialog ${ours} s, jdupes ${jdupes} s," \
        "ratio $(printf '%.2f' "$(echo "$ours / $jdupes" | bc -l)"), longest event-loop gap ${gap} ms"
}

compare idle
busy=()
trap 'for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT
for _ in 1 2; do
    yes > /dev/null &
    busy+=($!)
done
compare "two busy processes"
