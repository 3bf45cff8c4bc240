#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts one program's window: Brenvale by default,
# "./run.sh quorrel" or "./run.sh mendwell" the others. Only that program is built, not the tests.
set -euo pipefail
cd "$(dirname "$0")"
program=brenvale
targets=(brenvale)
case "${1:-}" in
    "" | brenvale) ;;
    quorrel) program=quorrel targets=(quorrel) ;;
    mendwell) program=mendwell-window targets=(mendwell mendwell-window) ;;
    *) echo "usage: $0 [brenvale|quorrel|mendwell]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target "${targets[@]}"
exec "build/bin/$program"
