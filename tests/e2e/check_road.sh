#!/usr/bin/env bash
# The road of one check across both real programs: Brenvale saves an old and a new list of a game
# folder, Quorrel compares them and prints, and the printed page names exactly the added files.
here=$(dirname "$0")
source "$here/lib.sh"
brenvale=$1
quorrel=$2

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

spool=/var/spool/cups
before=$(ls "$spool" | grep -c -- '-001$' || true)
key ctrl+p
for _ in $(seq 1 100); do
    now=$(ls "$spool" | grep -c -- '-001$' || true)
    [ "$now" -gt "$before" ] && break
    sleep 0.2
done
[ "$now" -gt "$before" ] || fail "nothing reached the print queue"
job=$(ls -t "$spool"/d*-001 | head -n 1)
pdftotext -layout "$job" "$work/printed.txt"
# pdftotext gives "ff" and "fi" back as ligatures.
printed=$(sed -n '/Folder Name:-/,$p' "$work/printed.txt" | tail -n +2 | tr -d '\f' | sed 's/ﬀ/ff/g; s/ﬁ/fi/g; s/ﬂ/fl/g; s/^ *//; s/ *$//' | grep -v '^$' | LC_ALL=C sort)
expected=$(printf '%s\n' "FOUND" "New Sim.iff" "house02.iff" | LC_ALL=C sort)
[ "$printed" = "$expected" ] || fail "printed names differ: [$printed]"
grep -q "Folder Name:-  *$work/lists/new" "$work/printed.txt" || fail "heading does not name the new list"
echo "check road: 1 passed, 0 failed"
