#!/usr/bin/env bash
# Installs into a fresh prefix and desktop data folder, as a player would, and checks that both
# programs stand side by side and the menu entries and icons point at them.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

BRENVALE_DESKTOP_DATA_DIR="$work/share" cmake --install "$build" --prefix "$work/Sims Tools" >/dev/null
for program in brenvale quorrel; do
    [ -x "$work/Sims Tools/$program" ] || fail "$program is not installed in the prefix"
    entry="$work/share/applications/$program.desktop"
    [ -f "$entry" ] || fail "no menu entry for $program"
    grep -qx "Exec=\"$work/Sims Tools/$program\"" "$entry" || fail "$program's entry does not start the installed program"
    grep -qx "Icon=$program" "$entry" || fail "$program's entry names no icon"
    for size in 16 32 48 256; do
        png="$work/share/icons/hicolor/${size}x${size}/apps/$program.png"
        [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
    done
done
echo "install: 1 passed, 0 failed"
