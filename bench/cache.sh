#!/usr/bin/env bash
# The hash cache on a generated tree of 200,000 files (5.9 GB, made once by make_tree and
# kept in WORK_DIR/sorvik-cache-bench-tree), sorvik-scan --compare size,hash, page cache
# warm, all in the same run and against jdupes -r -q:
#   - the first scan with an empty cache against the same scan without the cache
#     (target <= 1.1 x);
#   - the rescan of the unchanged tree against the first scan (target <= 0.2 x) and against
#     jdupes (target <= 0.3 x);
#   - the same three beside two busy processes;
#   - 1 % of the files the scan reads changed behind its back (their first bytes inverted,
#     size and last write time put back): the rescan must read exactly those, byte for
#     byte as counted by sorvik-scan --verbose, and find the groups of a scan without the
#     cache;
#   - two scans at once on an empty cache: both find the groups of a scan without it;
#   - the peak memory without the cache, of the first scan and of the rescan.
# Times are medians of $RUNS runs (default 5), the commands taking turns. The cache lives
# in a temporary folder (XDG_CACHE_HOME), never the user's. Usage:
#   bench/cache.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=$1
work=${2:-${TMPDIR:-/tmp}}
runs=${RUNS:-5}
scan="$build/app/sorvik-scan"
tree=$work/sorvik-cache-bench-tree
files=200000

source "$(dirname "$0")/common.sh"
make_tree "$tree" "$files"
warm_cache "$tree"

caches=$(mktemp -d "$work/sorvik-cache-bench-caches-XXXXXX")
trap 'stop_load; rm -rf "$caches"' EXIT
kept=$caches/kept # the cache of the rescans

compare() { # LABEL
    echo "load before: $(uptime | sed 's/.*load average/load average/')"
    measure "nocache|'$scan' --no-cache --compare size,hash '$tree'" \
        "first|XDG_CACHE_HOME='$caches'/first-\$MEASURE_RUN '$scan' --compare size,hash '$tree'" \
        "rescan|XDG_CACHE_HOME='$kept' '$scan' --compare size,hash '$tree'" \
        "jdupes|jdupes -r -q '$tree'"
    echo "load after: $(uptime | sed 's/.*load average/load average/')"
    printf '%-34s %9s %9s %9s %9s\n' "$1, median of $runs" "no cache" first rescan jdupes
    printf '%-34s %9s %9s %9s %9s\n' "seconds" "${result[nocache]}" "${result[first]}" \
        "${result[rescan]}" "${result[jdupes]}"
    echo "first/no cache $(ratio "${result[first]}" "${result[nocache]}") (target <= 1.1)," \
        "rescan/first $(ratio "${result[rescan]}" "${result[first]}") (target <= 0.2)," \
        "rescan/jdupes $(ratio "${result[rescan]}" "${result[jdupes]}") (target <= 0.3)"
}

verbose() { # CACHE OUTPUT: a scan with --verbose; prints "FILES BYTES RECALLED"
    XDG_CACHE_HOME=$1 "$scan" --verbose --compare size,hash "$tree" 2>&1 >"$2" |
        sed -n 's/^sorvik-scan: \([0-9,]*\) files read, \([0-9,]*\) bytes; \([0-9,]*\) hashes.*/\1 \2 \3/p' |
        tr -d ,
}

echo "tree: $(find "$tree" -type f -name '*.bin' | wc -l) files, $(du -sh "$tree" | cut -f1)"
nocache_out=$caches/nocache.txt
"$scan" --no-cache --compare size,hash "$tree" 2>/dev/null >"$nocache_out"
read -r first_files first_bytes _ < <(verbose "$kept" "$caches/first.txt")
read -r again_files again_bytes again_recalled < <(verbose "$kept" "$caches/again.txt")
size=$(stat -c %s "$kept/Sorvik/hashes.db")
echo "first scan read $first_files files, $first_bytes bytes; the rescan $again_files files," \
    "$again_bytes bytes, with $again_recalled hashes from the cache"
echo "cache file: $((size / 1024)) KiB for the $again_recalled files it holds," \
    "$((size / again_recalled)) bytes per file"
cmp -s "$nocache_out" "$caches/first.txt" && cmp -s "$nocache_out" "$caches/again.txt" &&
    echo "groups of the first scan and the rescan: the same as without the cache" ||
    echo "groups of the first scan and the rescan: NOT THE SAME as without the cache"

nocache_kb=$(peak "$scan" --no-cache --compare size,hash "$tree")
first_kb=$(XDG_CACHE_HOME=$caches/peak peak "$scan" --compare size,hash "$tree")
rescan_kb=$(XDG_CACHE_HOME=$caches/peak peak "$scan" --compare size,hash "$tree")
echo "peak memory: without the cache $((nocache_kb / 1024)) MB, first scan $((first_kb / 1024))" \
    "MB, rescan $((rescan_kb / 1024)) MB"

compare idle
start_load
compare "two busy processes"
stop_load

# 1 % of the files changed: chosen among those of a size another file has (the files the
# scan reads), the same ones in every run of the benchmark.
changed=$((files / 100))
"$scan" --no-cache --compare size "$tree" 2>/dev/null | tr -d '\r' | grep . |
    shuf -n "$changed" --random-source=<(yes) >"$caches/changed.txt"
read -r count bytes < <("$build/bench/change_files" <"$caches/changed.txt")
start=$(date +%s.%N)
read -r read_files read_bytes recalled < <(verbose "$kept" "$caches/changed-rescan.txt")
end=$(date +%s.%N)
"$scan" --no-cache --compare size,hash "$tree" 2>/dev/null >"$caches/changed-nocache.txt"
if [ "$read_files" = "$count" ] && [ "$read_bytes" = "$bytes" ]; then exact=yes; else exact=NO; fi
if cmp -s "$caches/changed-rescan.txt" "$caches/changed-nocache.txt"; then same=yes; else same=NO; fi
echo "1 % changed ($count files, $bytes bytes, size and last write time put back): the rescan" \
    "read $read_files files, $read_bytes bytes, in $(echo "$end - $start" | bc -l | xargs printf '%.3f') s" \
    "with $recalled hashes from the cache; exactly the changed ones: $exact;" \
    "the groups of a scan without the cache: $same"

# Two scans at once on an empty cache.
together=$caches/together
XDG_CACHE_HOME=$together "$scan" --compare size,hash "$tree" >"$caches/together-1.txt" 2>"$caches/together-1.err" &
XDG_CACHE_HOME=$together "$scan" --compare size,hash "$tree" >"$caches/together-2.txt" 2>"$caches/together-2.err"
wait $!
read -r _ _ recalled < <(verbose "$together" "$caches/together-3.txt")
if cmp -s "$caches/together-1.txt" "$caches/changed-nocache.txt" &&
    cmp -s "$caches/together-2.txt" "$caches/changed-nocache.txt" &&
    cmp -s "$caches/together-3.txt" "$caches/changed-nocache.txt"; then same=yes; else same=NO; fi
warnings=$(cat "$caches"/together-*.err | grep -c 'hash cache' || true)
echo "two scans at once on an empty cache: the groups of a scan without it: $same;" \
    "warnings: $warnings; a third scan then took $recalled hashes from the cache"
