#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the release benchmarks and prints their figures beside the peers they are measured against.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The peers check is measured beside; only the benchmarks need them.
if ! command -v jdupes >/dev/null || ! command -v rmlint >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq jdupes rmlint
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build-bench --target bench
