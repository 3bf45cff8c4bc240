#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, then builds and runs every test: the normal build with warnings as
# errors, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded
# fuzzing run. Printing tests print on a private CUPS server that CTest starts in each build tree
# (scripts/print-queue.sh); the machine's own print set-up is left alone.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh

# CTest stops each private print server after its tests; this also stops it when a run is broken off.
stop_print_servers() {
    for tree in build build-asan; do
        bash scripts/print-queue.sh stop "$tree/print-server" || true
    done
}
trap stop_print_servers EXIT
trap 'exit 130' INT TERM

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRENVALE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRENVALE_WERROR=ON -DBRENVALE_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
# Leaks inside the system's font and print libraries are not ours to mend.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j "$jobs"

if [ -x scripts/fuzz.sh ]; then
    echo "== fuzz"
    bash scripts/fuzz.sh
fi
