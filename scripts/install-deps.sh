#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need; only what is
# missing, so a prepared machine pays nothing. The sanitizer runtime of the fuzz targets is
# the one of the clang installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev shared-mime-info libqt6svg6 libsqlite3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang clang-format
    libssl-dev fdupes jdupes bc time libglib2.0-bin
    desktop-file-utils appstream libxml2-utils tidy
    xvfb xdotool openbox x11-utils imagemagick
)

updated=false

install_missing() {
    local missing=()
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing: ${missing[*]}"
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    if ! $updated; then
        "${sudo_cmd[@]}" apt-get update -qq
        updated=true
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

# libFuzzer and the sanitizers of clang N come with libclang-rt-N-dev.
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-${clang_major}-dev"
