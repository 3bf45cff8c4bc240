#!/usr/bin/env bash
# Starts the CUPS scheduler where it is not running and makes a cups-pdf queue named PDF the
# default printer. Jobs are kept in /var/spool/cups so that tests can read back what was printed.
set -euo pipefail

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

conf=/etc/cups/cupsd.conf
if ! grep -q '^PreserveJobFiles Yes' "$conf"; then
    $sudo sed -i '/^PreserveJobFiles/d' "$conf"
    echo 'PreserveJobFiles Yes' | $sudo tee -a "$conf" >/dev/null
    $sudo pkill -x cupsd 2>/dev/null || true
    sleep 1
fi

if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
    $sudo /usr/sbin/cupsd
    for _ in $(seq 1 50); do
        lpstat -r 2>/dev/null | grep -q 'is running' && break
        sleep 0.2
    done
fi

if ! lpstat -p PDF >/dev/null 2>&1; then
    $sudo lpadmin -p PDF -v cups-pdf:/ -E -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd
fi
$sudo cupsenable PDF
$sudo cupsaccept PDF
$sudo lpadmin -d PDF
lpstat -d
