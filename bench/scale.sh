#!/usr/bin/env bash
# sorvik-scan against jdupes on 1,000,000 small files in 1,000 folders, in the same run,
# the tools taking turns, medians of $RUNS runs (default 3):
#   - page cache warm: wall time and peak resident memory (target: time <= 0.5 x jdupes,
#     memory <= jdupes);
#   - page cache emptied before every run of either tool (posix_fadvise DONTNEED on every
#     file by drop_cache, no root needed; folders and inodes stay cached): wall time
#     (target <= 0.8 x jdupes);
#   - the window's whole path offscreen on the same tree (add, select all, primary, scan by
#     size and SHA-256, save) against jdupes, warm (target <= 0.8 x).
# The tree (about 2 GB, made once by make_tree and kept) is WORK_DIR/sorvik-scale-1m.
# Usage: bench/scale.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=$1
work=${2:-${TMPDIR:-/tmp}}
runs=${RUNS:-3}
scan="$build/app/sorvik-scan"
tree=$work/sorvik-scale-1m

source "$(dirname "$0")/common.sh"
make_tree "$tree" 1000000 17 --median 512 --per-folder 1000

# One run: "seconds kilobytes" of the command's wall time and peak resident memory.
timed() { /usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -1; }

# Medians of both tools, taking turns; before each run, when given, PREPARE runs.
declare -A time_of memory_of
compare() { # PREPARE
    local prepare=$1 name
    local -A times memories
    local -a sample
    for _ in $(seq "$runs"); do
        for name in ours jdupes; do
            [ -z "$prepare" ] || $prepare
            if [ "$name" = ours ]; then
                read -ra sample <<<"$(timed "$scan" --no-cache --compare size,hash "$tree")"
            else
                read -ra sample <<<"$(timed jdupes -r -q "$tree")"
            fi
            times[$name]+="${sample[0]} "
            memories[$name]+="${sample[1]} "
        done
    done
    for name in ours jdupes; do
        time_of[$name]=$(tr ' ' '\n' <<<"${times[$name]}" | grep . | median)
        memory_of[$name]=$(tr ' ' '\n' <<<"${memories[$name]}" | grep . | median)
    done
}
drop() { "$build/bench/drop_cache" "$tree" >/dev/null; }

files=$(find "$tree" -type f -name '*.bin' | wc -l)
folders=$(find "$tree" -mindepth 2 -type d | wc -l)
echo "tree: $files files in $folders folders, $(du -sh "$tree" | cut -f1); load: $(cut -d' ' -f1-3 /proc/loadavg)"
warm_cache "$tree"
compare ""
echo "warm, sorvik-scan --compare size,hash: ${time_of[ours]} s; jdupes -r -q: ${time_of[jdupes]} s;" \
    "ratio $(ratio "${time_of[ours]}" "${time_of[jdupes]}") (target <= 0.5)"
echo "peak memory: sorvik-scan $((${memory_of[ours]%.*} / 1024)) MB, jdupes" \
    "$((${memory_of[jdupes]%.*} / 1024)) MB; ratio" \
    "$(ratio "${memory_of[ours]}" "${memory_of[jdupes]}") (target <= 1)"
compare drop
echo "cold (page cache emptied before each run): sorvik-scan ${time_of[ours]} s; jdupes" \
    "${time_of[jdupes]} s; ratio $(ratio "${time_of[ours]}" "${time_of[jdupes]}") (target <= 0.8)"

warm_cache "$tree"
export QT_QPA_PLATFORM=offscreen
ours="" jdupes=""
for _ in $(seq "$runs"); do
    ours+="$("$build/bench/mainform_path" "$tree" 1 | sed -n 's/^mainform_path: best \([0-9.]*\) s.*/\1/p') "
    jdupes+="$(seconds jdupes -r -q "$tree") "
done
ours=$(tr ' ' '\n' <<<"$ours" | grep . | median)
jdupes=$(tr ' ' '\n' <<<"$jdupes" | grep . | median)
echo "the window's path (add, select all, primary, scan by size and hash, save): ${ours} s;" \
    "jdupes -r -q ${jdupes} s; ratio $(ratio "$ours" "$jdupes") (target <= 0.8)"
