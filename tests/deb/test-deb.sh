#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a configured and built build folder, checks it with lintian,
# hardening-check and the desktop validators, installs it on this machine, checks its licence
# statement, uses it as an ordinary user whose program folder is read-only, and removes it again.
#
# Usage: test-deb.sh BUILD_FOLDER VERSION
# Exit status 0 passed, 1 failed, 77 skipped (not root, or a kestrani package is installed
# already: this test never touches one it did not install itself).
set -euo pipefail

build=$(realpath "$1")
version=$2
user=kestrani-test
package=kestrani

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Each step says how far into the test it starts, so that a slow one shows.
step() { echo "--- $* (at ${SECONDS} s)"; }

work=$(mktemp -d /tmp/kestrani-deb.XXXXXX)
chmod 755 "$work"
installed=0
created_user=0
lintian_pid=
cleanup() {
    if [[ -n $lintian_pid ]]; then
        kill "$lintian_pid" 2>/dev/null || true
        wait "$lintian_pid" 2>/dev/null || true
    fi
    if [[ $installed -eq 1 ]]; then
        dpkg --purge "$package" >/dev/null || echo "could not remove $package" >&2
    fi
    if [[ $created_user -eq 1 ]]; then
        userdel "$user" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Started through a link, as from /usr/bin, the programs still find their own folder behind it.
# This much needs no root.
step "started through a link"
links=$work/links
mkdir -m 700 "$links"
ln -s "$build/program/kestrani-cli" "$build/program/kestrani" "$links/"
"$links/kestrani-cli" --list-profiles >"$links/profiles.txt"
! grep -q "cannot be read" "$links/profiles.txt" || fail "profiles not found through a link"
(cd "$links" && env QT_QPA_PLATFORM=offscreen KESTRANI_PRINT_TASKS=1 XDG_CONFIG_HOME="$links" \
    XDG_DATA_HOME="$links" XDG_RUNTIME_DIR="$links" ./kestrani >"$links/window.txt")
grep -q '^title	Kestrani V' "$links/window.txt" || fail "the window did not start through a link"

if [[ $(id -u) -ne 0 ]]; then
    echo "SKIP: installing a package needs root"
    exit 77
fi
# Two runs at once (two build folders) would install over each other.
exec 9>/tmp/kestrani-test-deb.lock
flock -w 600 9 || fail "another run of this test holds /tmp/kestrani-test-deb.lock"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$'; then
    echo "SKIP: a $package package is installed already; this test leaves it alone"
    exit 77
fi


# --- build and inspect the package
step "building the package"
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/package/"${package}"_"${version}"_*.deb)
echo "$deb"

step "package fields"
dpkg-deb -f "$deb" Package Version Depends
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly \
    atomicparsley libqt6widgets6 libavcodec59 libopencore-amrnb0; do
    grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done

step "package contents"
dpkg-deb -x "$deb" "$work/root"
for file in usr/lib/kestrani/kestrani usr/lib/kestrani/kestrani-cli \
    usr/lib/kestrani/Stylish.skf usr/lib/kestrani/Help.html \
    usr/lib/kestrani/app/kestrani-amrenc usr/lib/kestrani/app/3GP_AMR_Profile.ini \
    usr/lib/kestrani/app/3GP_AAC_Profile.ini usr/lib/kestrani/app/3GP2_AAC_Profile.ini \
    usr/share/applications/kestrani.desktop usr/share/man/man1/kestrani-cli.1.gz \
    usr/share/icons/hicolor/16x16/apps/kestrani.png usr/share/icons/hicolor/24x24/apps/kestrani.png \
    usr/share/icons/hicolor/32x32/apps/kestrani.png usr/share/icons/hicolor/48x48/apps/kestrani.png \
    usr/share/icons/hicolor/scalable/apps/kestrani.svg etc/xdg/Kestrani/Kestrani.conf \
    usr/share/doc/kestrani/copyright; do
    [[ -e $work/root/$file ]] || fail "the package lacks /$file"
done
for command in kestrani kestrani-cli; do
    [[ $(readlink "$work/root/usr/bin/$command") == "../lib/kestrani/$command" ]] ||
        fail "/usr/bin/$command is not a link into /usr/lib/kestrani"
done
for size in 16 24 32 48; do
    identify -format '%wx%h' "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/kestrani.png" |
        grep -qx "${size}x${size}" || fail "the ${size}x${size} icon has another size"
done
grep -qx "Default=$version" "$work/root/etc/xdg/Kestrani/Kestrani.conf" ||
    fail "the default settings do not carry Version $version"

step "lintian, beside the steps up to the removal"
# It reads only the package file, and takes longer than any other step: its findings are
# looked at before the package is removed.
lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb" \
    >"$work/lintian.txt" 2>&1 &
lintian_pid=$!

step "hardening-check"
# What dpkg-buildflags gives on Debian 12 marks no binary for control-flow protection (its C
# start-up files lack the marks too), so that check is left out; unoptimised builds have no
# fortified calls.
hardening_options=(--nocfprotection)
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ $build_type =~ ^(Release|RelWithDebInfo|MinSizeRel)$ ]] || hardening_options+=(--nofortify)
hardening-check "${hardening_options[@]}" "$work/root/usr/lib/kestrani/kestrani" \
    "$work/root/usr/lib/kestrani/kestrani-cli" "$work/root/usr/lib/kestrani/app/kestrani-amrenc" ||
    fail "hardening-check"

step "desktop entry and metainfo"
desktop-file-validate "$work/root/usr/share/applications/kestrani.desktop" ||
    fail "desktop-file-validate"
metainfo=$(ls "$work"/root/usr/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net --pedantic "$metainfo" | tee "$work/appstream.txt" ||
    fail "appstreamcli validate"
# Clean means not even a pedantic note or an info.
! grep -qE '^[EWIP]: ' "$work/appstream.txt" || fail "appstreamcli has remarks"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" ||
    fail "the metainfo does not name GPL-3.0-or-later"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man1/kestrani-cli.1.gz" \
    2>"$work/man.err" >/dev/null
[[ ! -s $work/man.err ]] || { cat "$work/man.err"; fail "the manual page has warnings"; }

# --- install
step "installing"
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
installed=1
dpkg --verify "$package" || fail "installed files differ from the package"

step "copyright"
# Debian's machine-readable format, whose catch-all stanza names the licence of the whole, with
# the licence paragraph pointing at Debian's copy of the text.
copyright=/usr/share/doc/$package/copyright
head -n 1 "$copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$copyright is not in the machine-readable format"
catch_all=$(awk '/^Files: \*$/ { found = 1 } found && /^License:/ { print $2; exit }' "$copyright")
[[ $catch_all == GPL-3.0-or-later ]] || fail "$copyright names '$catch_all' for all files"
grep -A 1 -x 'License: GPL-3.0-or-later' "$copyright" | grep -q '^ ' ||
    fail "$copyright lacks the licence paragraph"
grep -q '/usr/share/common-licenses/GPL-3"' "$copyright" ||
    fail "$copyright does not point at /usr/share/common-licenses/GPL-3"

# --- use it as an ordinary user in a fresh home
if ! id "$user" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    created_user=1
fi
home=$work/home
mkdir -p "$home/in"
chown -R "$user:" "$home"
as_user() {
    runuser -u "$user" -- env -i -C "$home" HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$home/runtime" "$@"
}
as_user mkdir -m 700 runtime out
as_user ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=320x240:rate=15 \
    -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:v mpeg4 -c:a mp2 in/clip.avi
as_user sh -c 'echo "not a video" > in/broken.mp4'
touch "$work/stamp"

step "kestrani-cli as $user"
as_user kestrani-cli --version | tee "$work/version.txt"
grep -qx "kestrani-cli $version" "$work/version.txt" || fail "kestrani-cli --version"
# The profiles are found only if the program folder is the real one behind /usr/bin's link.
as_user kestrani-cli --list-profiles | tee "$work/profiles.txt"
grep -q "cannot be read" "$work/profiles.txt" && fail "profiles not found beside the program"
[[ $(grep -c '^[0-2]  Cell Phone 3GP' "$work/profiles.txt") -eq 3 ]] ||
    fail "--list-profiles does not list the three output types"

as_user kestrani-cli -t 0 -o out in/clip.avi || fail "converting a clip"
streams=$(as_user ffprobe -v error -show_entries stream=codec_name -of csv=p=0 out/clip.3gp |
    sort | tr '\n' ' ')
[[ $streams == "amr_nb h263 " ]] || fail "out/clip.3gp holds '$streams', not H.263 and AMR-NB"

# A file that is no video fails in its place and leaves its entry in the user's log, since
# the program folder's app/ cannot be written.
if as_user kestrani-cli -o out in/broken.mp4; then fail "a broken file converted"; fi
log=$home/.local/share/Kestrani/Kestrani/log.txt
[[ -s $log ]] || fail "no log in the user's data folder"
grep -q broken.mp4 "$log" || fail "the log does not name the failed file"

step "kestrani as $user"
# The relative name is the folder the program was started in, although the program makes its
# own folder current; the window title's version comes from the system-wide settings.
as_user env KESTRANI_PRINT_TASKS=1 kestrani in/clip.avi | tee "$work/window.txt"
grep -qx "title	Kestrani V$version" "$work/window.txt" || fail "window title"
grep -qE "^task	$home/in/clip.avi	0	2(\.[0-9]+)?$" "$work/window.txt" ||
    fail "the file of the command line is not the one task"
[[ $(grep -c '^task' "$work/window.txt") -eq 1 ]] || fail "not exactly one task"

step "where things were written"
settings=$home/.config/Kestrani/Kestrani.conf
[[ -f $settings ]] || fail "no settings in the user's config folder"
grep -q '^\[Version\]' "$settings" && fail "the program wrote Version into the user's settings"
new_files=$(find /usr/lib/kestrani /etc/xdg/Kestrani -newer "$work/stamp")
[[ -z $new_files ]] || fail "written under the program's folders: $new_files"
dpkg --verify "$package" || fail "installed files changed while the program ran"

step "lintian's findings"
# Errors and warnings fail the test, and so does any hardening tag (those are only infos); the
# other infos are shown for the record. A binary that calls no libc function fortify could
# protect is tagged as unfortified too: hardening-check tells the two apart.
lintian_status=0
wait "$lintian_pid" || lintian_status=$?
lintian_pid=
cat "$work/lintian.txt"
[[ $lintian_status -eq 0 ]] || fail "lintian found errors or warnings"
! grep ' hardening-' "$work/lintian.txt" | grep -qv ' hardening-no-fortify-functions ' ||
    fail "lintian finds binaries built without hardening"

# --- remove
step "removing"
dpkg --purge "$package" >/dev/null
installed=0
[[ ! -e /usr/lib/kestrani && ! -e /etc/xdg/Kestrani && ! -e /usr/bin/kestrani ]] ||
    fail "files left after purging the package"
echo "PASS"
