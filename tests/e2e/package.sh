#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package as a player gets it: built with cpack from the build folder, twice, to the same
# bytes; checked by lintian (pedantic), hardening-check, desktop-file-validate and appstreamcli;
# installed with apt-get, and then used by a player with a fresh home folder: Brenvale saves an old
# and a new list under their bare names (they land in the lists folder of the documents folder,
# since /usr/bin is not the player's to write), Quorrel finds them by those names, compares them and
# prints, and Mendwell reads the same folder. Then the same package goes into a minimal Debian 12
# without recommends (chroot.sh). The package is removed again however the test ends.
here=$(dirname "$0")
source "$here/lib.sh"
build=$(cd "$1" && pwd)
top=$(cd "$here/../.." && pwd)

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing a package needs root"
    exit 77
fi

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@"; }
installed() { dpkg-query -W -f='${Status}' brenvale 2>/dev/null | grep -q 'install ok installed'; }
remove_package() { installed && apt_get purge brenvale >/dev/null 2>&1; return 0; }
stop_print_server() { [ -n "${cups:-}" ] && bash "$(dirname "$0")/../../scripts/print-queue.sh" stop "$cups"; return 0; }
trap 'remove_package; stop_print_server; cleanup' EXIT

echo "== package, twice"
for pack in first second; do
    (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/$pack" >"$work/cpack.log") \
        || { cat "$work/cpack.log"; fail "cpack could not make the package"; }
done
deb=$(ls "$work"/first/brenvale_*.deb)
cmp "$deb" "$work/second/$(basename "$deb")" || fail "two packs of one build differ"
lintian --pedantic --fail-on error,warning,pedantic "$deb" >"$work/lintian.log" 2>&1 \
    || { cat "$work/lintian.log"; fail "lintian found faults"; }
dpkg-deb -x "$deb" "$work/unpacked"
version=$(dpkg-deb -f "$deb" Version)
version=${version%-*}
dpkg-deb -f "$deb" Depends | grep -qw libqt6sql6-sqlite || fail "the package does not depend on Qt's SQLite driver"
for program in "$work"/unpacked/usr/bin/*; do
    # Control-flow protection needs the C library's start files marked too, and Debian 12's are not:
    # no program of Debian 12 has it, so that line alone is not required.
    hardening-check --nocfprotection "$program" >"$work/hardening.log" 2>&1 \
        || { cat "$work/hardening.log"; fail "$program is not hardened"; }
    "$program" --version | grep -qx "$(basename "$program") $version" || fail "$(basename "$program") --version does not say $version"
done
for entry in "$work"/unpacked/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "$(basename "$entry") is not a valid menu entry"
    categories=$(sed -n 's/^Categories=//p' "$entry")
    main=$(tr ';' '\n' <<<"$categories" \
        | grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility' || true)
    [ "$main" = 1 ] || fail "$(basename "$entry") has $main main categories: $categories"
    # One id, in lower case, names the entry, its metadata and (through StartupWMClass) its window.
    id=$(basename "$entry" .desktop)
    [ "$id" = "${id,,}" ] || fail "the id $id is not in lower case"
    grep -q "<id>$id</id>" "$work/unpacked/usr/share/metainfo/$id.metainfo.xml" || fail "no metadata of the id $id"
    grep -q '^StartupWMClass=' "$entry" || fail "$id names no window class"
done
grep -qx 'Exec="/usr/bin/mendwell-window" %f' "$work"/unpacked/usr/share/applications/*.mendwell.desktop \
    || fail "Mendwell's menu entry does not take a folder"
for metainfo in "$work"/unpacked/usr/share/metainfo/*.metainfo.xml; do
    appstreamcli validate --pedantic --no-net "$metainfo" >"$work/appstream.log" 2>&1 \
        || { cat "$work/appstream.log"; fail "$(basename "$metainfo") is not valid AppStream metadata"; }
    grep -Eq '^(I|W|E|P):' "$work/appstream.log" && { cat "$work/appstream.log"; fail "appstreamcli remarks on $(basename "$metainfo")"; }
    grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || fail "$(basename "$metainfo") names no licence"
done
grep -q '<release version="'"$version"'"' "$work"/unpacked/usr/share/metainfo/*.mendwell.metainfo.xml \
    || fail "Mendwell's metadata lists no release $version"
for page in brenvale quorrel mendwell; do
    text=$(zcat "$work/unpacked/usr/share/man/man1/$page.1.gz")
    grep -q "^\.TH ${page^^} 1 .* \"${page^} $version\"" <<<"$text" || fail "the manual page of $page is not of version $version"
    for section in FILES ENVIRONMENT "EXIT STATUS"; do
        grep -qx "\.SH $section" <<<"$text" || fail "the manual page of $page has no $section"
    done
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$work/unpacked/usr/share/doc/brenvale/copyright" || fail "the copyright file is not machine-readable"
# The project's addresses are spelt in one place only, the top CMakeLists.txt.
domain=$(sed -n 's|.*<url type="homepage">https://\([^/]*\)/</url>.*|\1|p' "$work"/unpacked/usr/share/metainfo/*.brenvale.metainfo.xml)
[ -n "$domain" ] || fail "Brenvale's metadata names no homepage"
others=$(git -C "$top" grep -l -F -e "$domain" -e "${domain%.*}" -- ':!CMakeLists.txt' || true)
[ -z "$others" ] || fail "the project's address is spelt outside the top CMakeLists.txt: $others"
with_mendwell=no
[ -x "$work/unpacked/usr/bin/mendwell" ] && with_mendwell=yes
programs=(brenvale quorrel)
[ $with_mendwell = yes ] && programs+=(mendwell)

echo "== install"
remove_package
(cd "$(dirname "$deb")" && apt_get install "./$(basename "$deb")" >"$work/apt.log" 2>&1) \
    || { cat "$work/apt.log"; fail "apt-get could not install the package"; }
for program in "${programs[@]}"; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not in /usr/bin"
    launcher=$program
    [ "$program" = mendwell ] && launcher=mendwell-window
    entry=$(grep -lE "^Exec=\"/usr/bin/$launcher\"( %f)?$" /usr/share/applications/*.desktop) \
        || fail "no menu entry starts $launcher"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    for size in 16 32 48 256; do
        png=/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
        [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
    done
done
grep -q "^THE CHECK FROM START TO END" /usr/share/doc/brenvale/readme.txt || fail "the player's guide is missing"
if [ $with_mendwell = yes ]; then
    zcat /usr/share/man/man1/mendwell.1.gz | grep -q '^\.TH MENDWELL 1' || fail "mendwell has no manual page"
fi

echo "== a player's check with the installed programs"
# A fresh player: no documents folder yet, and a print server of the test's own, whose job files stay
# behind to be read.
export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_DOCUMENTS_DIR
lists="$HOME/Documents/Sims Folder Lists"
cups="$work/cups"
# The print server's filters run as the user lp, who must reach its folder.
chmod 755 "$work"
bash "$top/scripts/print-queue.sh" start "$cups" >/dev/null || fail "no print server could be started"
export CUPS_SERVER="$cups/cups.sock"

start_x
# Brenvale reopens the folder it started in as the only subfolder of its parent.
game="$work/root/game"
mkdir -p "$game"
for name in Family1.iff house01.iff "Object, with comma.iff"; do printf x >"$game/$name"; done

(cd "$game" && exec brenvale) & pids+=($!)
window Brenvale >/dev/null
reopen_start_folder
save_whole_list old
[ -f "$lists/old.TXT" ] || fail "Save As did not open in $lists"
expected=$(printf 'Family1.iff\r\nhouse01.iff\r\nObject, with comma.iff\r\n\r\n\r\n' | od -An -tx1)
[ "$(od -An -tx1 "$lists/old.TXT")" = "$expected" ] || fail "old.TXT differs: $(od -c "$lists/old.TXT")"

for name in "New Sim.iff" house02.iff FOUND; do printf x >"$game/$name"; done
reopen_start_folder
save_whole_list new
[ -f "$lists/new.TXT" ] || fail "the new list is not in $lists"
kill "${pids[-1]}"

(cd / && exec quorrel) & pids+=($!)
window Quorrel >/dev/null
[ "$(readlink "/proc/${pids[-1]}/cwd")" = "$lists" ] || fail "Quorrel did not start in $lists"
type_text old
key Tab
type_text new
key alt+s
key ctrl+p
for _ in $(seq 1 100); do
    job=$(ls "$cups"/spool/d*-001 2>/dev/null | head -n 1 || true)
    [ -n "$job" ] && break
    sleep 0.2
done
[ -n "$job" ] || fail "nothing reached the print queue"
# The queue's own output stays in the test's folder too, never in a home folder.
for _ in $(seq 1 100); do
    [ -s "$cups/printed/last-job" ] && break
    sleep 0.2
done
[ -s "$cups/printed/last-job" ] || { ls -la "$cups" "$cups/printed"; grep -v Private "$cups/error_log"; fail "the print queue's output did not land in $cups/printed"; }
pdftotext -layout "$job" "$work/printed.txt"
printed=$(sed -n '/Folder Name:-/,$p' "$work/printed.txt" | tail -n +2 | tr -d '\f' \
    | sed 's/ﬀ/ff/g; s/ﬁ/fi/g; s/ﬂ/fl/g; s/^ *//; s/ *$//' | grep -v '^$' | LC_ALL=C sort)
[ "$printed" = "$(printf '%s\n' FOUND "New Sim.iff" house02.iff | LC_ALL=C sort)" ] \
    || fail "Quorrel printed other names: [$printed]"
grep -q "Folder Name:-  *new$" "$work/printed.txt" || fail "the heading does not name the new list"
kill "${pids[-1]}"

if [ $with_mendwell = yes ]; then
    mendwell --help >/dev/null || fail "mendwell --help failed"
    status=0
    mendwell diff "$lists/old.TXT" "$game" --format tsv >"$work/diff.tsv" 2>"$work/diff.err" || status=$?
    [ $status = 1 ] || { cat "$work/diff.err"; fail "mendwell diff ended with $status, not 1 (differences)"; }
    for name in FOUND "New Sim.iff" house02.iff; do
        grep -qxF "added	$name" "$work/diff.tsv" || fail "mendwell diff does not report $name as added"
    done
    # The added files go out of the game folder and come back with their bytes.
    cp -a "$game" "$work/game-before"
    mendwell quarantine "$game" --since "$lists/old.TXT" >"$work/quarantine.out" 2>&1 \
        || { cat "$work/quarantine.out"; fail "mendwell quarantine failed"; }
    for name in FOUND "New Sim.iff" house02.iff; do
        [ ! -e "$game/$name" ] || fail "mendwell quarantine left $name in the game folder"
    done
    mendwell status "$game" | grep -q "3 files out" || fail "mendwell status does not count 3 files out"
    mendwell restore "$game" >/dev/null || fail "mendwell restore failed"
    diff -r "$work/game-before" "$game" || fail "the game folder is not as it was after mendwell restore"
    [ ! -e "$game (moved out by Mendwell)" ] || fail "an empty quarantine folder was left"
    (cd / && exec mendwell) & pids+=($!)
    window Mendwell >/dev/null
    kill "${pids[-1]}"
fi

echo "== remove"
apt_get purge brenvale >/dev/null 2>&1 || fail "the package could not be removed"
for program in "${programs[@]}"; do
    [ ! -e "/usr/bin/$program" ] || fail "$program is still installed after removal"
done
[ -f "$lists/new.TXT" ] || fail "removing the package took the player's lists"

echo "== on a minimal Debian 12"
stop_print_server
unshare --mount --propagation private bash "$here/chroot.sh" "$build" "$deb" || fail "the package failed in the chroot"
echo "package: 1 passed, 0 failed (programs: ${programs[*]})"
