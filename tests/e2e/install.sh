#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs as a packager does (a prefix below DESTDIR) and as a player without root does (everything
# under ~/.local), with a fresh home folder, and checks that every file lands below the prefix:
# the programs, the menu entries that start them, the icons, the manual pages and the guide. Then
# each installed program answers --version and --help, and a window says it needs a display.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_DATA_HOME

# Checks an install whose files are found under ROOT and whose programs run from PREFIX.
check_layout() {
    local root=$1 prefix=$2
    for program in brenvale quorrel; do
        [ -x "$root/bin/$program" ] || fail "$program is not installed in $root/bin"
        entry=$(grep -l "^Exec=\"$prefix/bin/$program\"$" "$root"/share/applications/*.desktop) \
            || fail "no menu entry in $root starts $prefix/bin/$program"
        grep -qx "Icon=$program" "$entry" || fail "$program's entry names no icon"
        for size in 16 32 48 256; do
            png="$root/share/icons/hicolor/${size}x${size}/apps/$program.png"
            [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
        done
        zcat "$root/share/man/man1/$program.1.gz" | grep -q "^\.TH ${program^^} 1" || fail "$program has no manual page"
    done
    [ -s "$root/share/doc/brenvale/readme.txt" ] || fail "the player's guide is not installed"
}

echo "== below DESTDIR"
DESTDIR="$work/stage" cmake --install "$build" --prefix "$work/Sims Tools" >/dev/null
check_layout "$work/stage$work/Sims Tools" "$work/Sims Tools"
[ ! -e "$work/Sims Tools" ] || fail "files were written to the prefix itself, outside DESTDIR"
[ -z "$(ls -A "$HOME")" ] || fail "the install wrote into the home folder: $(cd "$HOME" && find . | head)"
outside=$(cd "$work/stage" && find . -type f ! -path ".$work/Sims Tools/*")
[ -z "$outside" ] || fail "files outside the prefix: $outside"

echo "== per user, under ~/.local"
cmake --install "$build" --prefix "$HOME/.local" >/dev/null
check_layout "$HOME/.local" "$HOME/.local"
outside=$(cd "$HOME" && find . -type f ! -path "./.local/*")
[ -z "$outside" ] || fail "files outside ~/.local: $outside"
echo "== as a newcomer starts them, without a display"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for program in brenvale quorrel mendwell mendwell-window; do
    path="$HOME/.local/bin/$program"
    [ -x "$path" ] || continue
    no_display() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$path" "$@" >"$work/out" 2>"$work/err"; }
    no_display --version || fail "$program --version ended with $?"
    [ "$(cat "$work/out")" = "$(printf '%s %s\nLicence: GPL-3.0-or-later' "$program" "$version")" ] \
        || fail "$program --version says: $(cat "$work/out")"
    no_display --help || fail "$program --help ended with $?"
    grep -q "^Usage:\|^  *$program" "$work/out" || fail "$program --help shows no usage: $(cat "$work/out")"
    [ "$program" = mendwell ] && continue # with no command it opens the window below
    status=0
    no_display || status=$?
    [ $status = 2 ] || fail "$program without a display ended with $status, not 2: $(cat "$work/err")"
    [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q "needs a graphical session" "$work/err" \
        || fail "$program without a display says: $(cat "$work/out" "$work/err")"
done
if [ -x "$HOME/.local/bin/mendwell" ]; then
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$HOME/.local/bin/mendwell" >"$work/out" 2>"$work/err" || status=$?
    [ $status = 2 ] && grep -q "needs a graphical session" "$work/err" \
        || fail "mendwell without a command or a display ended with $status: $(cat "$work/err")"
fi
echo "install: 1 passed, 0 failed"
