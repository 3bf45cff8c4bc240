#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The road of one check across both real programs: Brenvale saves an old and a new list of a game
# folder, Quorrel compares them and prints, and the printed page names exactly the added files.
here=$(dirname "$0")
source "$here/lib.sh"
brenvale=$1
quorrel=$2
printed_lines=$3

start_x
game="$work/root/game"
mkdir -p "$game" "$work/lists"
for name in Family1.iff house01.iff "Object, with comma.iff"; do printf x > "$game/$name"; done

(cd "$game" && exec "$brenvale") & pids+=($!)
window Brenvale >/dev/null
reopen_start_folder
save_whole_list "$work/lists/old"

# New downloads arrive; the folder is opened again and listed anew.
for name in "New Sim.iff" "house02.iff" "FOUND"; do printf x > "$game/$name"; done
reopen_start_folder
save_whole_list "$work/lists/new"
kill "${pids[-1]}"

(cd / && exec "$quorrel") & pids+=($!)
window Quorrel >/dev/null
type_text "$work/lists/old"
key Tab
type_text "$work/lists/new"
key alt+s

# The private print server of the build tree (CUPS_SERVER) keeps each job as it was sent.
spool=${BRENVALE_PRINT_SPOOL:?the private print server of the tests is not named}
before=$(ls "$spool" | grep -c -- '-001$' || true)
key ctrl+p
for _ in $(seq 1 100); do
    now=$(ls "$spool" | grep -c -- '-001$' || true)
    [ "$now" -gt "$before" ] && break
    sleep 0.2
done
[ "$now" -gt "$before" ] || fail "nothing reached the print queue"
job=$(ls "$spool"/d*-001 | sort | tail -n 1)
QT_QPA_PLATFORM=offscreen "$printed_lines" "$job" >"$work/printed.txt" || fail "the printout cannot be read back"

# Every line as on paper, spaces included; the date's separator is the locale's. The new names
# come in the order of the new list, which Brenvale sorted, so they are compared as a set.
mapfile -t lines <"$work/printed.txt"
date_line="Date Created:-  $(date +%m)?$(date +%d)?$(date +%y)"
# shellcheck disable=SC2053 # the date line is a pattern
[ "${#lines[@]}" -ge 7 ] && [ -z "${lines[0]}${lines[1]}${lines[2]}" ] && [[ ${lines[3]} == $date_line ]] \
    && [ "${lines[4]}" = "New Files in this folder" ] && [ "${lines[5]}" = "Folder Name:-  $work/lists/new" ] \
    && [ -z "${lines[6]}" ] || fail "printed heading differs: [$(head -n 7 "$work/printed.txt")]"
printed=$(tail -n +8 "$work/printed.txt" | LC_ALL=C sort)
expected=$(printf '        %s\n' "FOUND" "New Sim.iff" "house02.iff" | LC_ALL=C sort)
[ "$printed" = "$expected" ] || fail "printed names differ: [$printed]"
echo "check road: 1 passed, 0 failed"
