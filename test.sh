#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the normal build with warnings as
# errors, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded
# fuzzing run. Printing tests use a real CUPS queue that this script sets up.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
bash scripts/print-queue.sh

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
