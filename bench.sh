#!/usr/bin/env bash
# Builds in Release and runs every benchmark; each prints its own figures.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release -DSORVIK_TESTS=OFF \
    -DSORVIK_BENCH=ON >/dev/null
cmake --build build/release -j "$(nproc)"
# No benchmark touches the user's hash cache.
XDG_CACHE_HOME=$(mktemp -d "${TMPDIR:-/tmp}/sorvik-bench-cache-XXXXXX")
export XDG_CACHE_HOME
trap 'rm -rf "$XDG_CACHE_HOME"' EXIT
for bench in build/release/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    "$bench" "$@"
done
echo "== scan_tree"
bench/scan_tree.sh build/release
echo "== cache"
bench/cache.sh build/release
echo "== scan_dialog"
bench/scan_dialog.sh build/release
echo "== mainform"
bench/mainform.sh build/release
echo "== scale"
bench/scale.sh build/release
