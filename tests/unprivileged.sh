#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one test case as an unprivileged user: root reads every folder, so a folder that cannot be
# opened is only real for somebody else. Run as another user already, the case runs as it is.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
if ! command -v setpriv >/dev/null; then
    echo "setpriv is missing: the unprivileged case is not run"
    exit 0
fi
run_as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
if ! "${run_as_nobody[@]}" test -x "$1"; then
    echo "the test program cannot be reached by an unprivileged user here: the case is not run"
    exit 0
fi
exec "${run_as_nobody[@]}" env HOME=/tmp XDG_RUNTIME_DIR= "$@"
