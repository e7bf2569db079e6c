#!/usr/bin/env bash
# sorvik-scan against jdupes and fdupes, all measured in the same run, page cache warm:
#   - a generated tree of 50,000 files (1.5 GB), idle and with two busy processes beside
#     every tool, and with sorvik-scan's standard error on a terminal (status and progress
#     drawn, under script);
#   - a real tree nobody here wrote, /usr/include and /usr/share/doc, idle and loaded, with
#     its groups compared with those of fdupes;
#   - byte-for-byte comparison against the hash, on 40,000 distinct files of one size (4 GB)
#     and on the 50,000-file tree;
#   - peak resident memory on 200,000 small files.
# Times are medians of $RUNS runs, the tools taking turns. Every scan reads every file it
# compares, as the others do: the hash cache is off here and measured by cache.sh. Usage:
#   bench/scan_tree.sh BUILD_DIR [WORK_DIR]
# The generated trees are made once by make_tree and kept in WORK_DIR for later runs.
set -euo pipefail
build=$1
work=${2:-${TMPDIR:-/tmp}}
runs=${RUNS:-5}
scan="$build/app/sorvik-scan"
tree=$work/sorvik-bench-tree
distinct=$work/sorvik-bench-distinct40k
small=$work/sorvik-bench-small
real=(/usr/include /usr/share/doc)

source "$(dirname "$0")/common.sh"
make_tree "$tree" 50000
make_tree "$distinct" 40000 11 --distinct-size 100000
make_tree "$small" 200000 7 --median 512
# Warm the page cache so that every tool reads from memory.
warm_cache "$tree" "$distinct" "$small" "${real[@]}"

trap stop_load EXIT

# Medians of the named commands, run in turns: "name|command" ...
comparison() { # LABEL PATHS...
    local label=$1
    shift
    measure "ours|'$scan' --no-cache --compare size,hash $*" "jdupes|jdupes -r -q $*" "fdupes|fdupes -r -q $*"
    printf '%-44s %8s %8s %8s %10s\n' "$label" "${result[ours]}" "${result[jdupes]}" \
        "${result[fdupes]}" "$(ratio "${result[ours]}" "${result[jdupes]}")"
}

echo "tree: $(find "$tree" -type f -name '*.bin' | wc -l) files, $(du -sh "$tree" | cut -f1);" \
    "real tree: $(find "${real[@]}" -type f | wc -l) files, $(du -shc "${real[@]}" | tail -1 | cut -f1)"
echo "sorvik-scan on the tree: $("$scan" --no-cache --compare size,hash "$tree" 2>&1 >/dev/null)"
printf '%-44s %8s %8s %8s %10s\n' "seconds, median of $runs" sorvik jdupes fdupes "sorvik/jd"
comparison "50,000 files, idle" "$tree"
start_load
comparison "50,000 files, two busy processes" "$tree"
stop_load
measure "ours|script -qec \"'$scan' --no-cache --compare size,hash '$tree' >/dev/null\" /dev/null" \
    "jdupes|jdupes -r -q '$tree'"
printf '%-44s %8s %8s %8s %10s\n' "50,000 files, progress on a terminal, idle" "${result[ours]}" \
    "${result[jdupes]}" "-" "$(ratio "${result[ours]}" "${result[jdupes]}")"
comparison "/usr/include + /usr/share/doc, idle" "${real[@]}"
start_load
comparison "/usr/include + /usr/share/doc, busy" "${real[@]}"
stop_load

# The same groups as fdupes on the real tree.
groups_of() { # FILE: one line per group, its paths sorted, the groups sorted
    tr -d '\r' <"$1" | awk 'BEGIN { g = 0 } /^$/ { g++; next } { print g "\t" $0 }' |
        LC_ALL=C sort -t "$(printf '\t')" -k1,1n -k2 |
        awk -F '\t' '{ if ($1 != p && NR > 1) { print s; s = "" } p = $1; s = s $2 "\x1f" }
                     END { if (s != "") print s }' | LC_ALL=C sort
}
ours_out=$(mktemp) fdupes_out=$(mktemp)
"$scan" --no-cache --compare size,hash "${real[@]}" 2>/dev/null >"$ours_out"
fdupes -r -q "${real[@]}" >"$fdupes_out"
ours_groups=$(groups_of "$ours_out" | wc -l)
fdupes_groups=$(groups_of "$fdupes_out" | wc -l)
if cmp -s <(groups_of "$ours_out") <(groups_of "$fdupes_out"); then same=yes; else same=NO; fi
rm -f "$ours_out" "$fdupes_out"
echo "real tree groups: sorvik-scan $ours_groups, fdupes $fdupes_groups, the same groups: $same"

measure "hash|'$scan' --no-cache --compare size,hash '$distinct'" \
    "binaries|'$scan' --no-cache --compare size,binaries '$distinct'"
echo "40,000 distinct files of 100,000 bytes: size,hash ${result[hash]} s," \
    "size,binaries ${result[binaries]} s, ratio $(ratio "${result[binaries]}" "${result[hash]}")"
measure "hash|'$scan' --no-cache --compare size,hash '$tree'" "binaries|'$scan' --no-cache --compare size,binaries '$tree'"
echo "50,000-file tree: size,hash ${result[hash]} s, size,binaries ${result[binaries]} s," \
    "ratio $(ratio "${result[binaries]}" "${result[hash]}")"

files=$(find "$small" -type f -name '*.bin' | wc -l)
ours_kb=$(peak "$scan" --no-cache --compare size,hash "$small")
jdupes_kb=$(peak jdupes -r -q "$small")
fdupes_kb=$(peak fdupes -r -q "$small")
echo "peak memory on $files small files: sorvik-scan $((ours_kb / 1024)) MB" \
    "($((ours_kb * 1024 / files)) bytes per file), jdupes $((jdupes_kb / 1024)) MB," \
    "fdupes $((fdupes_kb / 1024)) MB"
