#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Mendwell's window driven as a player drives it, by keys alone: open the game folder, remember it,
# add mods, see them among the changes, move them out and back, then find the culprit with the 50/50,
# answering as the player would (the game breaks exactly when the culprit is in the folder).
# With MENDWELL_SHOTS set to a folder, screenshots of the steps are saved there; MENDWELL_SCREEN
# (e.g. 2560x1440, a screen that is used at 200%) sets the size of the X server's screen.
here=$(dirname "$0")
source "$here/lib.sh"
mendwell=$(realpath "$1")

shot() { [ -z "${MENDWELL_SHOTS:-}" ] || import -window root "$MENDWELL_SHOTS/$1.png"; }

# The window's title carries the round of the 50/50; a message box may be titled "Mendwell" too, so
# the main window is the oldest of that name.
main_window() { window 'Mendwell( – .*)?' oldest; }

# Waits until the main window's title is the one given (the 50/50 has moved its files).
title_is() {
    local id=$1 name=""
    for _ in $(seq 1 150); do
        name=$(xdotool getwindowname "$id")
        [ "$name" = "$2" ] && return 0
        sleep 0.1
    done
    fail "the window's title is \"$name\", not \"$2\""
}

files_in() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }

# Presses a key until the game folder holds what is given: while the window still works on the step
# before, the button is greyed and the key does nothing; once done, the button is greyed for good.
press_until() {
    local keys=$1 want=$2
    for _ in $(seq 1 10); do
        main_window >/dev/null
        key "$keys"
        for _ in $(seq 1 20); do [ "$(files_in "$game")" = "$want" ] && return 0; sleep 0.1; done
    done
    fail "after $keys the game folder holds: $(files_in "$game")"
}

start_x "${MENDWELL_SCREEN:-}"
# MENDWELL_HOME (an empty folder) gives the pictures a home path like a player's.
export HOME="${MENDWELL_HOME:-$work/home}" XDG_DATA_HOME="$work/data" LC_ALL=C.UTF-8
game="$HOME/Documents/Electronic Arts/The Sims 4/Mods"
quarantine="$game (moved out by Mendwell)"
mkdir -p "$game/Old"
printf 'DBPF old' > "$game/Old/old.package"
# The game's thumbnail cache beside Mods, which Mendwell offers to move along.
printf 'DBPF thumbnails' > "$game/../localthumbcache.package"

# "mendwell" without a command opens the window; Other folder (Ctrl+O) picks the game folder.
(cd "$work" && exec "$mendwell") & pids+=($!)
id=$(main_window)
key ctrl+o
window "Choose the game folder" >/dev/null
key ctrl+a
type_text "$game"
key Return
gone "Choose the game folder"

main_window >/dev/null
key ctrl+r
for _ in $(seq 1 100); do
    [ -n "$(ls "$XDG_DATA_HOME/mendwell/snapshots" 2>/dev/null)" ] && break
    sleep 0.1
done
[ -n "$(ls "$XDG_DATA_HOME/mendwell/snapshots" 2>/dev/null)" ] || fail "Ctrl+R saved no snapshot"
sleep 0.5

# New downloads: five mods, one of them (Dresser) breaks the game.
mkdir -p "$game/NewSet/Chairs"
printf 'DBPF a' > "$game/Armchair.package"
printf 'DBPF chair' > "$game/NewSet/Chairs/chair.package"
printf 'DBPF table' > "$game/NewSet/table.package"
printf 'DBPF tool' > "$game/Author_Tool.package"
printf 'PK\003\004tool' > "$game/Author_Tool.ts4script"
printf 'DBPF dresser' > "$game/Dresser.package"
printf 'DBPF easel' > "$game/Easel.package"
before=$(files_in "$game")

# What changed (F5); what the changes view shows is then saved through Export (Ctrl+E), which is
# greyed until the view holds changes.
for _ in $(seq 1 10); do
    main_window >/dev/null
    key F5
    sleep 1
    key ctrl+e
    xdotool search --onlyvisible --name '^Export the changes$' >/dev/null 2>&1 && break
done
window "Export the changes" >/dev/null
key ctrl+a
type_text "$work/changes.csv"
key Return
gone "Export the changes"
[ -f "$work/changes.csv" ] || fail "Export wrote no file"
shown=$(tail -n +2 "$work/changes.csv" | cut -d, -f1,2 | tr -d '\r' | LC_ALL=C sort)
expected=$(printf '%s\n' added,Armchair.package added,Author_Tool.package added,Author_Tool.ts4script \
    added,Dresser.package added,Easel.package added,NewSet/Chairs/chair.package added,NewSet/table.package)
[ "$shown" = "$expected" ] || fail "the changes view shows: $shown"
shot changes

# Move the new files out (Alt+M), then put them back (Alt+U).
for _ in $(seq 1 10); do
    main_window >/dev/null
    key alt+m
    xdotool search --onlyvisible --name "^Move the game's cache too\?\$" >/dev/null 2>&1 && break
    sleep 1
done
window "Move the game's cache too\\?" >/dev/null
key Return
for _ in $(seq 1 50); do [ "$(files_in "$game")" = "Old/old.package" ] && break; sleep 0.1; done
[ "$(files_in "$game")" = "Old/old.package" ] || fail "files left after Move out: $(files_in "$game")"
[ -e "$game/../localthumbcache.package" ] && fail "the cache stayed beside the folder after Yes"
cmp -s "$quarantine"/*/"beside Mods/localthumbcache.package" <(printf 'DBPF thumbnails') || fail "the cache is not in the quarantine"
moved=$(cd "$quarantine"/*/Mods && files_in .)
[ "$moved" = "$(echo "$before" | grep -v '^Old/')" ] || fail "the quarantine holds: $moved"
cmp -s "$quarantine"/*/Mods/Dresser.package <(printf 'DBPF dresser') || fail "Dresser.package changed on its way out"
shot moved-out
press_until alt+u "$before"
cmp -s "$game/../localthumbcache.package" <(printf 'DBPF thumbnails') || fail "the cache did not come back"
[ -e "$quarantine" ] && fail "the quarantine folder stayed after everything came back"

# The 50/50 (Alt+C), answered with Alt+A (works) and Alt+B (still broken).
for _ in $(seq 1 10); do
    main_window >/dev/null
    key alt+c
    xdotool search --onlyvisible --name '^Find the culprit$' >/dev/null 2>&1 && break
    sleep 1
done
window "Find the culprit" >/dev/null
key Return
gone "Find the culprit"
id=$(main_window)
title_is "$id" "Mendwell – round 1 of at most 5"
rounds=0
while [ "$(xdotool getwindowname "$id")" != "Mendwell – culprit found" ]; do
    [ $rounds -lt 4 ] || fail "more than 1 + ceil(log2 5) rounds for 5 groups"
    title=$(xdotool getwindowname "$id")
    if [ $rounds = 1 ]; then
        shot fiftyfifty
        # Stopping undoes every round played: Alt+Y asks first, and No (Esc) leaves the files as they are.
        layout=$(files_in "$game")
        main_window >/dev/null
        key alt+y
        window "Stop the 50/50" >/dev/null
        shot stop-asks
        key Escape
        gone "Stop the 50/50"
        sleep 0.5
        [ "$(files_in "$game")" = "$layout" ] || fail "files moved after No to Stop: $(files_in "$game")"
        [ "$(xdotool getwindowname "$id")" = "$title" ] || fail "the round changed after No to Stop"
    fi
    main_window >/dev/null
    if [ -e "$game/Dresser.package" ]; then key alt+b; else key alt+a; fi
    rounds=$((rounds + 1))
    for _ in $(seq 1 150); do [ "$(xdotool getwindowname "$id")" != "$title" ] && break; sleep 0.1; done
done
sleep 0.5
shot verdict
[ "$(files_in "$game")" = "$(echo "$before" | grep -vx Dresser.package)" ] || fail "files after the 50/50: $(files_in "$game")"
cmp -s "$quarantine"/*/Mods/Dresser.package <(printf 'DBPF dresser') || fail "the culprit is not kept in the quarantine"

quit_window() {
    main_window >/dev/null
    key ctrl+q
    for _ in $(seq 1 50); do kill -0 "${pids[-1]}" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "${pids[-1]}" 2>/dev/null; then fail "Ctrl+Q did not end Mendwell"; fi
}
quit_window

# The verdict lasts: the window opened again on the folder shows it. The command line then puts the
# culprit back beneath the open window, which follows.
"$(dirname "$mendwell")/mendwell-window" "$game" & pids+=($!)
id=$(main_window)
title_is "$id" "Mendwell – culprit found"
sleep 0.5
shot verdict-reopened
"$mendwell" restore "$game" >/dev/null || fail "mendwell restore failed beneath the window"
[ "$(files_in "$game")" = "$before" ] || fail "files after restore: $(files_in "$game")"
sleep 1
shot verdict-put-back
quit_window
echo "mendwell window: culprit found in $rounds rounds; 1 passed, 0 failed"
