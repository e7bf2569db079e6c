#!/usr/bin/env bash
# Checks and tests everything; what CI runs (.ci/run):
#   ./test.sh           the formatting of the sources, every test under AddressSanitizer
#                       with UndefinedBehaviorSanitizer, the threading tests under
#                       ThreadSanitizer, and the fuzz targets for a bounded time
#   ./test.sh --quick   the normal build and its tests only, for the edit-test loop
# The full run builds no normal build: the sanitized one runs every test the normal one
# would, with more checks, and a fourth build of everything would take two cores past
# fifteen minutes.
set -euo pipefail
cd "$(dirname "$0")"

quick=false
case "${1:-}" in
"") ;;
--quick) quick=true ;;
*)
    echo "usage: ./test.sh [--quick]" >&2
    exit 2
    ;;
esac

scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -Wno-dev "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {
    ctest --test-dir "$1" --output-on-failure -j "$jobs" "${@:2}"
}

if ! $quick; then
    echo "== formatting"
    scripts/check-format.sh
fi

if $quick; then
    echo "== normal build"
    configure_and_build build/debug -DCMAKE_BUILD_TYPE=Debug
    run_tests build/debug
    exit 0
fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
    -DSORVIK_SANITIZE=address-undefined
run_tests build/asan

echo "== ThreadSanitizer (threading tests)"
cmake -S . -B build/tsan -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" -DSORVIK_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target threading_tests
run_tests build/tsan -L threading

echo "== fuzzing (libFuzzer, AddressSanitizer)"
CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DSORVIK_FUZZ=ON
scripts/run-fuzzers.sh build/fuzz 60
