#!/usr/bin/env bash
# The program as a desktop and a user meet it: the desktop entry, the AppStream metainfo,
# the icon and the help page pass their validators, agree with each other, and land where
# `cmake --install` and the programs expect them.
#   test_packaging.sh SOURCE_DIR BUILD_DIR VERSION
set -uo pipefail

source_dir=$1
build_dir=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
check() {
    local name=$1
    shift
    if output=$("$@" 2>&1); then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        [ -n "$output" ] && printf '%s\n' "$output" | sed 's/^/    /'
    fi
}

# Passes only when the command succeeds and says nothing: a validator's warnings and
# hints count as failures.
silent() {
    local output
    output=$("$@" 2>&1) || { printf '%s\n' "$output"; return 1; }
    [ -z "$output" ] || { printf '%s\n' "$output"; return 1; }
}

desktop=$source_dir/packaging/sorvik.desktop
icon=$source_dir/packaging/sorvik.svg
metainfo=$build_dir/packaging/org.sorvik.Sorvik.metainfo.xml
help=$source_dir/Help/index.html

check "desktop entry is valid" silent desktop-file-validate "$desktop"
check "metainfo is valid" appstreamcli validate --no-net "$metainfo"
check "icon is well-formed SVG" xmllint --noout "$icon"
check "help page is valid HTML" silent tidy -q -e "$help"

consistent() {
    grep -qx 'Exec=sorvik %F' "$desktop" || { echo "Exec is not 'sorvik %F'"; return 1; }
    grep -qx "Icon=$(basename "$icon" .svg)" "$desktop" || { echo "Icon names no icon file"; return 1; }
    grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
        { echo "the metainfo launches another desktop file"; return 1; }
    grep -q "<id>$(basename "$metainfo" .metainfo.xml)</id>" "$metainfo" ||
        { echo "the metainfo file is not named after its id"; return 1; }
    grep -q "<release version=\"$version\"" "$metainfo" ||
        { echo "the metainfo's release is not version $version"; return 1; }
}
check "desktop entry, icon and metainfo agree" consistent

# Offline: nothing the browser would fetch, and every link within the page lands.
self_contained() {
    if grep -EinH '(src|href)="(https?:)?//|url\(|@import|<link|<script' "$help"; then
        echo "the help page loads something from outside"
        return 1
    fi
    local anchor missing=0
    for anchor in $(grep -o 'href="#[^"]*"' "$help" | sed 's/href="#\(.*\)"/\1/' | sort -u); do
        grep -q "id=\"$anchor\"" "$help" || { echo "no id=\"$anchor\""; missing=1; }
    done
    return $missing
}
check "help page is self-contained" self_contained

beside() {
    local program_dir
    program_dir=$(dirname "$(find "$build_dir/app" -maxdepth 1 -name sorvik-scan -type f | head -1)")
    cmp "$help" "$program_dir/Help/index.html"
}
check "help page lies beside the programs in the build" beside

prefix=$work/prefix
check "cmake --install succeeds" cmake --install "$build_dir" --prefix "$prefix"
installed() {
    local file
    for file in bin/sorvik-scan share/applications/sorvik.desktop \
        share/metainfo/org.sorvik.Sorvik.metainfo.xml \
        share/icons/hicolor/scalable/apps/sorvik.svg share/sorvik/Help/index.html; do
        [ -e "$prefix/$file" ] || { echo "missing $file"; return 1; }
    done
    if [ -x "$build_dir/app/sorvik" ] && [ ! -x "$prefix/bin/sorvik" ]; then
        echo "missing bin/sorvik"
        return 1
    fi
    cmp "$help" "$prefix/share/sorvik/Help/index.html" &&
        silent desktop-file-validate "$prefix/share/applications/sorvik.desktop" &&
        [ "$("$prefix/bin/sorvik-scan" --version)" = "sorvik-scan $version" ]
}
check "installed tree has every file in its place" installed

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
