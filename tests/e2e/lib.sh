# SPDX-License-Identifier: GPL-3.0-or-later
# Shared steps of the end-to-end tests: a private X server, and the keys and clicks a player uses.
set -euo pipefail

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; [ -n "${DISPLAY:-}" ] && import -window root "$work/failure.png" 2>/dev/null && cp "$work/failure.png" "${TMPDIR:-/tmp}/e2e-failure.png"; exit 1; }

# -noreset: without it the server starts over when its last client goes, and a program started in
# that moment (the next one of a test) cannot connect.
# The screen is 1280x1024 unless a size is given (a larger one for pictures at 200%).
start_x() {
    exec 3< <(Xvfb -displayfd 4 -noreset -screen 0 "${1:-1280x1024}x24" -nolisten tcp 4>&1 2>/dev/null & echo "pid $!"; wait)
    local line
    read -r line <&3; pids+=("${line#pid }")
    read -r line <&3; export DISPLAY=":$line"
    export QT_QPA_PLATFORM=xcb
}

# Waits for a window whose title is exactly the name (a pattern), and gives it the keyboard: the
# newest of that name, or the oldest when the second argument is "oldest".
window() {
    local id pick=tail
    [ "${2:-}" = oldest ] && pick=head
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | $pick -n 1) && [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "${id:-}" ] || fail "no window named $1"
    xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
    echo "$id"
}

gone() {
    for _ in $(seq 1 100); do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "window $1 is still open"
}

key() { xdotool key --delay 60 "$@"; sleep 0.3; }
type_text() { xdotool type --delay 20 "$1"; sleep 0.2; }
# Clicks at a point given in twips from the client area's top-left corner at (71, 130).
click_twips() { xdotool mousemove $((71 + $1 / 15)) $((130 + $2 / 15)) click 1; sleep 0.3; }

# In Brenvale: opens the folder tree's parent entry and then its only subfolder, which reopens
# the folder Brenvale started in and so raises the folder change.
reopen_start_folder() {
    click_twips 1800 3900   # the empty foot of the folder tree: focus, nothing opened
    key Up Return Down Return
}

# In Brenvale: Get Folder, ">>", List Folder, Save Folder as the path given, OK on the confirmation.
save_whole_list() {
    key alt+g
    click_twips 7248 1848   # ">>"
    key alt+l
    key alt+s
    window "Save As" >/dev/null
    key ctrl+a
    type_text "$1"
    key Return
    window "Request Complete" >/dev/null
    key Return
    gone "Request Complete"
}
