#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs them for a bounded time (FUZZ_SECONDS, 60 by default,
# shared between the targets).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
quarter=$(( seconds / 4 > 0 ? seconds / 4 : 1 ))
CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz
corpus=build-fuzz/corpus
mkdir -p "$corpus"
printf '\x05old\r\nfirst.dat\r\nsecond.dat\r\n\r\n\r\n' > "$corpus/seed-lists"
ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_listfile -max_total_time="$(( seconds - 3 * quarter > 0 ? seconds - 3 * quarter : 1 ))" -timeout=10 -max_len=65536 \
    -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
echo "fuzz_listfile: 1 passed, 0 failed"

snapshots=build-fuzz/corpus-snapshot
mkdir -p "$snapshots"
# A seed that is a whole snapshot of two files: its first byte (odd) has the checksum added.
printf '\x01MENDSNAP\x01\x00\x00\x00\x06\x11/home/player/Mods\x05works\x02\x00\x00\x09a.package\x01\x05\x0e\x09\x02\x01\x01b\x02\x00\x01\x01\x02' > "$snapshots/seed-head"
ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_snapshot -max_total_time="$quarter" -timeout=10 -max_len=65536 \
    -print_final_stats=1 "$snapshots" 2>&1 | tail -n 12
echo "fuzz_snapshot: 1 passed, 0 failed"

reports=build-fuzz/corpus-errorreport
mkdir -p "$reports"
# A seed shaped as the game writes its reports: a traceback in a report's text, lines ended by encoded CR LF.
printf '<?xml version="1.0" ?><root>\n<report><createtime>2026-05-25 21:17:18</createtime><desyncdata>[x] Error&#13;&#10;Traceback (most recent call last):&#13;&#10;  File "C:\\dev\\pkg\\mod.py", line 4, in run&#13;&#10;</desyncdata></report></root>' > "$reports/seed-report"
ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_errorreport -max_total_time="$quarter" -timeout=10 -max_len=65536 \
    -print_final_stats=1 "$reports" 2>&1 | tail -n 12
echo "fuzz_errorreport: 1 passed, 0 failed"

packages=build-fuzz/corpus-dbpf
mkdir -p "$packages"
# A seed that is a whole package: the header, one resource of 4 bytes, and an index whose type and
# group are stored once.
printf '\x44\x42\x50\x46\x02\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x24\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x64\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x72\x72\x72\x72\x03\x00\x00\x00\x2f\xd2\x82\xe8\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x60\x00\x00\x00\x04\x00\x00\x80\x04\x00\x00\x00\x00\x00\x01\x00' > "$packages/seed-package"
ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_dbpf -max_total_time="$quarter" -timeout=10 -max_len=65536 \
    -print_final_stats=1 "$packages" 2>&1 | tail -n 12
echo "fuzz_dbpf: 1 passed, 0 failed"
