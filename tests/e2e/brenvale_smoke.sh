#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the real Brenvale, checks where its window stands, and saves a list of a folder with the
# keys and clicks a player uses.
here=$(dirname "$0")
source "$here/lib.sh"
brenvale=$1

start_x
mkdir -p "$work/root/game"
printf x > "$work/root/game/Family1.iff"
printf x > "$work/root/game/house01.iff"
printf x > "$work/root/game/.hidden"
mkdir "$work/root/game/Downloads"

(cd "$work/root/game" && exec "$brenvale") & pids+=($!)
id=$(window Brenvale)
eval "$(xdotool getwindowgeometry --shell "$id")"
[ "$X" = 71 ] || fail "window left edge at $X, not 71"
[ "$WIDTH" = 766 ] || fail "client width $WIDTH, not 766"

reopen_start_folder
save_whole_list "$work/old"
expected=$(printf 'Family1.iff\r\nhouse01.iff\r\n\r\n\r\n' | od -An -tx1)
actual=$(od -An -tx1 "$work/old.TXT")
[ "$actual" = "$expected" ] || fail "saved list differs: $actual"

window Brenvale >/dev/null
key alt+f
key x
for _ in $(seq 1 50); do kill -0 "${pids[-1]}" 2>/dev/null || break; sleep 0.1; done
kill -0 "${pids[-1]}" 2>/dev/null && fail "File > Exit did not end Brenvale"
echo "brenvale smoke: 1 passed, 0 failed"
