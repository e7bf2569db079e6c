#!/usr/bin/env bash
# The main window against the command-line tools, in the same run, page cache warm, medians
# of $RUNS runs taking turns:
#   - the program's start to its first idle moment with no paths (target <= 0.3 s),
#     offscreen and on an X server (Xvfb, when installed);
#   - with the 50,000-file tree of scan_tree.sh on its command line, to the list shown,
#     against sorvik-scan --compare size on the same tree (target <= 1.5 x);
#   - the user's whole path offscreen (the tree added, all selected, made primary, a scan by
#     size and SHA-256 behind the progress dialog, the results saved) against jdupes -r -q
#     (target <= 1.2 x);
#   - a million empty files added through the window (the add's worker behind the progress
#     dialog) against the producer alone (target <= 1.2 x), and the longest event-loop gap
#     meanwhile (target <= 50 ms), idle and beside two busy processes;
#   - the program's end after its window closed with 200,000 entries (target <= 0.3 s).
# Usage: bench/mainform.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=$1
work=${2:-${TMPDIR:-/tmp}}
runs=${RUNS:-5}
tree=$work/sorvik-bench-tree
scan=$build/app/sorvik-scan
start_program=$build/bench/mainform_start
path_program=$build/bench/mainform_path
add_program=$build/bench/mainform_add
exit_program=$build/bench/mainform_exit
million=$work/sorvik-bench-million

source "$(dirname "$0")/common.sh"
make_tree "$tree" 50000
warm_cache "$tree"

pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT

# The program's own figure: from its launch to the list shown.
started() { # PATH...
    local output
    output=$("$start_program" "$(date +%s%N)" "$@" 2>/dev/null)
    echo "${output%% *}"
}

# A settings file of the benchmark's own beside the program: none, so every start is a first.
rm -f "$(dirname "$start_program")/Settings.ini"

startup() { # LABEL
    local samples=""
    for _ in $(seq "$runs"); do
        samples+="$(started) "
    done
    echo "start-up to the first idle moment, no paths ($1): $(tr ' ' '\n' <<<"$samples" | grep . | median) s (target <= 0.3 s)"
}

export QT_QPA_PLATFORM=offscreen
startup offscreen
if command -v Xvfb >/dev/null; then
    for n in $(shuf -i 100-999 -n 100); do
        [ -e "/tmp/.X$n-lock" ] || grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix || break
    done
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do DISPLAY=:$n xprop -root >/dev/null 2>&1 && break; sleep 0.05; done
    DISPLAY=:$n QT_QPA_PLATFORM=xcb startup "Xvfb"
fi

ours="" scanner=""
for _ in $(seq "$runs"); do
    ours+="$(started "$tree") "
    scanner+="$(seconds "$scan" --compare size "$tree") "
done
ours=$(tr ' ' '\n' <<<"$ours" | grep . | median)
scanner=$(tr ' ' '\n' <<<"$scanner" | grep . | median)
echo "50,000-file tree on the command line, to the list shown: ${ours} s;" \
    "sorvik-scan --compare size ${scanner} s; ratio $(ratio "$ours" "$scanner") (target <= 1.5)"

ours="" jdupes=""
for _ in $(seq "$runs"); do
    ours+="$("$path_program" "$tree" 1 | sed -n 's/^mainform_path: best \([0-9.]*\) s.*/\1/p') "
    jdupes+="$(seconds jdupes -r -q "$tree") "
done
ours=$(tr ' ' '\n' <<<"$ours" | grep . | median)
jdupes=$(tr ' ' '\n' <<<"$jdupes" | grep . | median)
"$path_program" "$tree" 1 | grep 'run 1'
echo "the user's path on the tree (add, select all, primary, scan by size and hash, save):" \
    "${ours} s; jdupes -r -q ${jdupes} s; ratio $(ratio "$ours" "$jdupes") (target <= 1.2)"

# A million files: the tree is made by mainform_add on its first run and kept.
"$add_program" "$million" "$runs" | grep -E 'run 1|best' |
    sed 's/$/ (targets: ratio <= 1.2, gap <= 50 ms)/'
start_load
"$add_program" "$million" "$runs" | grep best | sed 's/^/beside two busy processes: /;s/$/ (targets: ratio <= 1.2, gap <= 50 ms)/'
stop_load

# The end of the program: 200 folders of the million-file tree on its command line.
folders=()
for i in $(seq 0 199); do folders+=("$million/d$i"); done
ended=""
for _ in $(seq "$runs"); do
    output=$("$exit_program" "${folders[@]}" 2>/dev/null)
    now=$(date +%s%N)
    ended+="$(echo "($now - ${output%% *}) / 1000000000" | bc -l) "
done
echo "the program's end after its window closed with ${output##* } entries:" \
    "$(tr ' ' '\n' <<<"$ended" | grep . | median) s (target <= 0.3 s)"
