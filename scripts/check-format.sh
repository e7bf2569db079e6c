#!/usr/bin/env bash
# Checks that every C++ source of the tree is formatted as the project's .clang-format says,
# by clang-format 14 (Debian 12's), which the tree is formatted with; another version
# formats some constructs otherwise, so with it the check is skipped, saying so. Lists the
# files that differ and fails when there is one; `clang-format -i FILE` mends a file.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=
for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null &&
        "$candidate" --version | grep -q 'version 14\.'; then
        formatter=$candidate
        break
    fi
done
if [ -z "$formatter" ]; then
    echo "formatting: skipped, no clang-format 14 ($(clang-format --version 2>/dev/null || echo none))"
    exit 0
fi

# The sources git knows of and those it does not ignore yet; in a tree without git, every
# source outside the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')
else
    mapfile -d '' files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
fi

present=()
for file in "${files[@]}"; do
    [ -f "$file" ] && present+=("$file") # not one deleted but not yet committed
done
files=("${present[@]}")

# One call for all: clang-format names each file that differs in its complaints; any other
# failure of it fails the check too.
status=0
output=$("$formatter" --style=file --dry-run --Werror "${files[@]}" 2>&1) || status=$?
mapfile -t differing < <(printf '%s\n' "$output" |
    grep -o '^[^:]*:[0-9]*:[0-9]*: error: code should be clang-formatted' | cut -d: -f1 |
    sort -u || true)

if [ ${#differing[@]} -gt 0 ]; then
    echo "formatting: these files differ from what $formatter makes of them:"
    printf '  %s\n' "${differing[@]}"
    echo "Run: $formatter -i FILE..."
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "formatting: $formatter failed:"
    printf '%s\n' "$output" | tail -n 20
    exit 1
fi
echo "formatting: ${#files[@]} files as .clang-format says"
