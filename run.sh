#!/usr/bin/env bash
# Installs what is missing, builds Sorvik in Release and starts it with the given paths:
#   ./run.sh [PATH]...
# Relative paths are taken from the folder you run it in.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
build=$root/build/release

"$root/scripts/install-deps.sh"
# The same configuration as bench.sh, so that the two share one build.
cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release -DSORVIK_TESTS=OFF \
    >/dev/null
cmake --build "$build" -j "$(nproc)" --target sorvik_programs

exec "$build/app/sorvik" "$@"
