#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The package on a Debian 12 system that holds nothing but the minimal base: installed with
# apt-get --no-install-recommends into a chroot, so every library and plugin the programs load must
# come through the package's Depends. There Mendwell runs a 50/50 to its culprit, and each window
# opens on the host's X server (no X is installed in the chroot, so a missing library shows).
#
#   chroot.sh BUILD DEB
#
# The chroot is made once with debootstrap, in BUILD/debian12-root, and kept there for the next run
# of this build folder; the package and everything it pulled in are removed again after each run.
# The script runs in a mount namespace of its own (package.sh starts it with unshare), so the
# mounts it makes go away when it ends, however it ends, and removing the build folder never
# reaches through them into the host's /dev or /proc.
here=$(dirname "$0")
source "$here/lib.sh"
build=$(cd "$1" && pwd)
deb=$2
root="$build/debian12-root"
mirror=http://deb.debian.org/debian

exec 9>"$root.lock"
flock 9

# Runs a command in the chroot as a player there would, with the host's display.
player=(HOME=/home/player PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=/tmp/runtime-player)
in_root() { chroot "$root" /usr/bin/env -i "${player[@]}" DISPLAY="${DISPLAY:-}" "$@"; }
apt_in_root() { in_root DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@"; }
remove_package() {
    [ -x "$root/usr/bin/apt-get" ] || return 0
    apt_in_root purge brenvale >/dev/null 2>&1 || true
    # What the package pulled in goes too: the next run must find it through the Depends again.
    apt_in_root autoremove --purge >/dev/null 2>&1 || true
    rm -rf "$root/home/player" "$root/tmp/runtime-player" "$root/tmp/"*.deb
}
trap 'remove_package; cleanup' EXIT

if [ ! -x "$root/usr/bin/apt-get" ]; then
    echo "== making a minimal Debian 12 in $root (once per build folder)"
    rm -rf --one-file-system "$root.new" "$root"
    started=$(date +%s)
    debootstrap --variant=minbase bookworm "$root.new" "$mirror" >"$work/debootstrap.log" 2>&1 \
        || { tail -n 30 "$work/debootstrap.log"; rm -rf --one-file-system "$root.new"; fail "debootstrap failed"; }
    cat >"$root.new/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
    # Downloaded packages are kept, so that later runs install without the network.
    echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$root.new/etc/apt/apt.conf.d/10keep-packages"
    mv "$root.new" "$root"
    echo "made in $(($(date +%s) - started)) s"
fi

mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
cp /etc/resolv.conf "$root/etc/resolv.conf"
start_x
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"

echo "== install with --no-install-recommends"
remove_package
# The package lists are read again once a day.
if [ -z "$(find "$root/var/lib/apt/lists" -maxdepth 1 -name '*_Packages' -mtime -1 2>/dev/null)" ]; then
    apt_in_root update >"$work/update.log" 2>&1 || { cat "$work/update.log"; fail "apt-get update failed in the chroot"; }
fi
cp "$deb" "$root/tmp/brenvale.deb"
apt_in_root install --no-install-recommends /tmp/brenvale.deb >"$work/apt.log" 2>&1 \
    || { cat "$work/apt.log"; fail "apt-get could not install the package in the chroot"; }
mkdir -p "$root/home/player" "$root/tmp/runtime-player"
chmod 700 "$root/tmp/runtime-player"

echo "== a 50/50 to the culprit"
mods=/home/player/Mods
mkdir -p "$root$mods"
printf 'base' >"$root$mods/Base.package"
in_root mendwell snapshot "$mods" --label "game works" >"$work/snapshot.out" 2>&1 \
    || { cat "$work/snapshot.out"; fail "mendwell snapshot failed in the chroot"; }
for name in Alpha Bravo Charlie Delta Echo; do printf '%s' "$name" >"$root$mods/$name.package"; done
culprit=Delta.package
in_root mendwell bisect start "$mods" --since 1 >"$work/bisect.out" 2>&1 \
    || { cat "$work/bisect.out"; fail "mendwell bisect start failed in the chroot"; }
verdict=""
for _ in $(seq 1 12); do
    # The pretend game crashes whenever the culprit is in the folder.
    answer=works
    [ -e "$root$mods/$culprit" ] && answer=broken
    in_root mendwell bisect "$answer" "$mods" >"$work/bisect.out" 2>&1 \
        || { cat "$work/bisect.out"; fail "mendwell bisect $answer failed in the chroot"; }
    verdict=$(grep -m 1 '^The culprit' "$work/bisect.out" || true)
    [ -n "$verdict" ] && break
done
[ "$verdict" = "The culprit is \"$culprit\" (1 file). Every other group comes back into the folder; the culprit stays out." ] \
    || { cat "$work/bisect.out"; fail "the 50/50 did not end on $culprit: [$verdict]"; }
[ -f "$root/home/player/.local/share/mendwell/bisect.sqlite" ] || fail "the 50/50 kept no store"
for name in Base Alpha Bravo Charlie Echo; do
    [ -f "$root$mods/$name.package" ] || fail "$name.package did not come back after the 50/50"
done
[ ! -e "$root$mods/$culprit" ] || fail "the culprit was left in the folder"
in_root mendwell restore "$mods" >"$work/restore.out" 2>&1 || { cat "$work/restore.out"; fail "mendwell restore failed"; }
[ "$(cat "$root$mods/$culprit")" = Delta ] || fail "the culprit did not come back with its bytes"

echo "== each window, paired with its menu entry"
for program in brenvale quorrel mendwell-window; do
    case $program in
        brenvale) title=Brenvale arguments=() ;;
        quorrel) title=Quorrel arguments=() ;;
        mendwell-window) title='Mendwell( – .*)?' arguments=("$mods") ;;
    esac
    chroot "$root" /usr/bin/env -i "${player[@]}" DISPLAY="$DISPLAY" "$program" "${arguments[@]}" \
        >"$work/$program.log" 2>&1 &
    pids+=($!)
    id=$(window "$title") || { cat "$work/$program.log"; exit 1; }
    # The window's class is the one its menu entry names, so the desktop pairs them.
    entry=$(grep -l "^Exec=\"/usr/bin/$program\"" "$root"/usr/share/applications/*.desktop) \
        || fail "no menu entry starts $program"
    class=$(sed -n 's/^StartupWMClass=//p' "$entry")
    xdotool search --class "^$class\$" | grep -qx "$id" || fail "the $program window's class is not $class"
    kill "${pids[-1]}"
    wait "${pids[-1]}" 2>/dev/null || true
done
echo "chroot: the package works on a minimal Debian 12"
