#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private CUPS scheduler for the printing tests, so that they never touch the machine's own print
# set-up (its /etc/cups, its running scheduler, its queues).
#
#   print-queue.sh start DIR   starts a scheduler whose configuration, spool, logs and socket all
#                              live in DIR, with a queue named PDF as its default printer, which
#                              prints into the file DIR/printed/last-job
#   print-queue.sh stop DIR    stops that scheduler (nothing happens when none runs there)
#
# Clients reach it with CUPS_SERVER=DIR/cups.sock. Job files are kept (PreserveJobFiles), so a
# test can read back from DIR/spool exactly what a program sent to the printer. The queue has the
# cups-pdf printer's description, for its page sizes, but not its backend: cups-pdf takes its
# output folder from the machine's configuration (the user's ~/PDF), while a file: device writes
# below DIR, so a test run leaves nothing outside its build folder.
set -euo pipefail

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1
[ "$action" = stop ] && [ ! -d "$2" ] && exit 0
mkdir -p "$2"
dir=$(cd "$2" && pwd)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

stop() {
    local pidfile="$dir/cupsd.pid" pid
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    # Only the scheduler this script started from this folder is stopped.
    if [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "/usr/sbin/cupsd -c $dir/cupsd.conf "; then
        $sudo kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do
            [ -d "/proc/$pid" ] || break
            sleep 0.1
        done
        [ -d "/proc/$pid" ] && $sudo kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
}

start() {
    stop
    if [ ${#dir} -gt 95 ]; then
        echo "the path $dir/cups.sock is too long for a socket; use a build folder with a shorter path" >&2
        exit 1
    fi
    rm -rf "$dir/spool" "$dir/cache" "$dir/state" "$dir/tmp" "$dir/ppd" "$dir/printed" "$dir/printers.conf"*
    mkdir -p "$dir/spool" "$dir/cache" "$dir/state" "$dir/tmp" "$dir/ppd" "$dir/printed"
    chmod 755 "$dir" "$dir/spool"
    chmod 1777 "$dir/printed"
    chmod 1777 "$dir/tmp"

    cat >"$dir/cups-files.conf" <<EOF
ServerRoot $dir
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
TempDir $dir/tmp
AccessLog $dir/access_log
ErrorLog $dir/error_log
PageLog $dir/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
FileDevice Yes
EOF
    cat >"$dir/cupsd.conf" <<EOF
Listen $dir/cups.sock
PreserveJobFiles Yes
PreserveJobHistory Yes
Browsing No
WebInterface No
LogLevel warn
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF

    export CUPS_SERVER="$dir/cups.sock"
    $sudo /usr/sbin/cupsd -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" -f </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/cupsd.pid"
    for _ in $(seq 1 100); do
        lpstat -r 2>/dev/null | grep -q 'is running' && break
        sleep 0.1
    done
    if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
        echo "the private print server did not start; its log:" >&2
        cat "$dir/error_log" >&2 2>/dev/null || true
        stop
        exit 1
    fi
    lpadmin -p PDF -v "file://$dir/printed/last-job" -E -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd
    lpadmin -d PDF
    lpstat -d
}

case "$action" in
    start) start ;;
    stop) stop ;;
    *) usage ;;
esac
