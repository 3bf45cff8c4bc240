#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package that building, running and testing the programs needs; with
# --programs only what building the programs and their package needs (the players' recipe).
# Safe to run again: packages already present are skipped by apt-get.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config dpkg-dev file
    qt6-base-dev libgl-dev libqt6sql6-sqlite libcups2-dev libxxhash-dev libzip-dev
)
case "${1:-}" in
    --programs) ;;
    "")
        packages+=(
            cups cups-client printer-driver-cups-pdf poppler-utils
            xvfb xauth xdotool imagemagick
            clang libclang-rt-14-dev
            fonts-dejavu-core fonts-liberation
            lintian desktop-file-utils appstream devscripts debootstrap
        )
        ;;
    *) echo "usage: $0 [--programs]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
