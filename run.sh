#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts Brenvale; "./run.sh quorrel" starts Quorrel instead.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target brenvale quorrel
program=brenvale
case "${1:-}" in
    "" | brenvale) ;;
    quorrel) program=quorrel ;;
    *) echo "usage: $0 [brenvale|quorrel]" >&2; exit 2 ;;
esac
exec "build/bin/$program"
