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

source "$(dirname "$0")/common.sh"
make_tree "$tree" 50000
warm_cache "$tree"

# Best wall time of $runs runs of jdupes, in seconds.
best_jdupes() {
    local samples=""
    for _ in $(seq "$runs"); do
        samples+="$(seconds jdupes -r -q "$tree") "
    done
    tr ' ' '\n' <<<"$samples" | grep . | sort -g | head -1 | xargs printf '%.3f'
}

compare() {
    local label=$1 output ours gap jdupes
    output=$(QT_QPA_PLATFORM=offscreen "$build/bench/scan_dialog" "$tree" "$runs")
    ours=$(echo "$output" | sed -n 's/^scan_dialog: best \([0-9.]*\) s.*/\1/p')
    gap=$(echo "$output" | sed -n 's/.*longest event-loop gap \([0-9.]*\) ms$/\1/p' | tail -1)
    jdupes=$(best_jdupes)
    echo "$output" | grep -v '^scan_dialog: best'
    echo "scan_dialog ($label): Scan through the dialog ${ours} s, jdupes ${jdupes} s," \
        "ratio $(ratio "$ours" "$jdupes"), longest event-loop gap ${gap} ms"
}

compare idle
trap stop_load EXIT
start_load
compare "two busy processes"
