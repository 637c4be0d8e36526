#!/usr/bin/env bash
# Checks what scripts/package.sh made in build/packages/: each package holds
# exactly what it must; the Linux install lists every file it makes in its
# manifest; the .deb is clean under lintian and its metadata under
# appstreamcli; the .deb, installed on this machine, gives every user a
# program that opens its window, keeps its settings in that user's data
# folder and files into the user's documents folder (the package is removed
# again afterwards); and the Windows installer installs, runs and uninstalls
# under Wine (scripts/check-windows-setup.sh).  Needs root (or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

version="$(sed -n 's/^project(Tessarbolink VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
zip="build/packages/tessarbolink-$version-windows-x64.zip"
setup="build/packages/tessarbolink-$version-windows-x64-setup.exe"
deb="build/packages/tessarbolink_${version}_$(dpkg --print-architecture).deb"
work="$(mktemp -d /tmp/tessarbolink-packages.XXXXXX)"
chmod 755 "$work"
deb_installed=no

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
fail() { echo "check-packages: $*" >&2; exit 1; }
cleanup() {
    if [ "$deb_installed" = yes ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tessarbolink >/dev/null 2>&1 || true
    fi
    as_root rm -rf "$work"
}
trap cleanup EXIT
# Compares a listing with what it must be.
same() {
    if ! diff -u <(printf '%s\n' "$2" | sort) <(printf '%s\n' "$3" | sort); then fail "$1 differs (- expected, + found)"; fi
}

icons="$(for n in 16 22 24 32 48 64 128 256; do echo "share/icons/hicolor/${n}x$n/apps/tessarbolink.png"; done)"
installed="bin/tessarbolink -> ../lib/tessarbolink/tessarbolink
lib/tessarbolink/tessarbolink
share/applications/tessarbolink.desktop
share/doc/tessarbolink/LICENSE
share/doc/tessarbolink/README.md
share/man/man1/tessarbolink.1.gz
share/metainfo/app.tessarbolink.tessarbolink.metainfo.xml
share/icons/hicolor/scalable/apps/tessarbolink.svg
$icons"

# --- The portable Windows zip: the stripped, static program, its guide and licence.
top="tessarbolink-$version-windows-x64"
same "$zip" "$top/LICENSE.txt
$top/README.md
$top/Tessarbolink.exe" "$(cmake -E tar tf "$zip")"
(cd "$work" && cmake -E tar xf "$OLDPWD/$zip")
x86_64-w64-mingw32-nm "$work/$top/Tessarbolink.exe" 2>&1 | grep -q "no symbols" || fail "Tessarbolink.exe is not stripped"
dlls="$(x86_64-w64-mingw32-objdump -p "$work/$top/Tessarbolink.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')"
same "the DLLs Tessarbolink.exe needs (system DLLs only)" "advapi32.dll
comctl32.dll
kernel32.dll
msvcrt.dll
ole32.dll
shell32.dll
user32.dll" "$dlls"

# The application icon (128) carries 32 and 16 pixel images of 16 colours,
# which the dialogs show, and 48 and 256 pixel ones of 32 bits for Explorer's
# large views (256 is written as 0).  Width, height and colours in octal, bits.
sizes="$(x86_64-w64-mingw32-windres -i "$work/$top/Tessarbolink.exe" -O rc |
    sed -n '/^128 14 /,/^END/s/^ *"\\\([0-7]*\)\\\([0-7]*\)\\\([0-7]*\)\\[0-7]*", *[0-9]*, *\([0-9]*\),.*/\1 \2 \3 \4/p')"
same "the images of the program's icon" "000 000 000 32
020 020 020 4
040 040 020 4
060 060 000 32" "$sizes"

# --- A per-user install: every file it makes, the link in bin/ too, is in the manifest.
DESTDIR="$work/destdir" cmake --install build/linux-package --prefix /opt/tessarbolink-check >/dev/null
manifest="$(sed 's|^/opt/tessarbolink-check/||' build/linux-package/install_manifest.txt)"
made="$(cd "$work/destdir/opt/tessarbolink-check" && find . -type f -o -type l | sed 's|^\./||')"
same "the install manifest" "$made" "$manifest"
same "the per-user install" "$installed" "$(cd "$work/destdir/opt/tessarbolink-check" &&
    find . -type f -printf '%P\n' -o -type l -printf '%P -> %l\n')"
grep -qx 'Exec="/opt/tessarbolink-check/bin/tessarbolink" %F' \
    "$work/destdir/opt/tessarbolink-check/share/applications/tessarbolink.desktop" ||
    fail "the desktop entry outside /usr does not name the program by its full path"

# --- The .deb: the same layout under /usr with Debian's copyright file and
# changelog, and its dependencies: what the program needs, nothing that
# brings Qt's QML and Quick stacks (as qt6-wayland would).
same "$deb" "$(printf '%s\n' "$installed" share/doc/tessarbolink/copyright share/doc/tessarbolink/changelog.gz |
    sed 's|^|usr/|')" "$(dpkg-deb -c "$deb" | grep -v '^d' | sed 's|^.* \./||')"
depends="$(dpkg-deb -f "$deb" Depends)"
for needed in libqt6widgets6 "fonts-ipafont-gothic | fonts-noto-cjk"; do
    [[ "$depends" == *"$needed"* ]] || fail "the .deb does not depend on $needed: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = qt6-translations-l10n ] ||
    fail "the .deb recommends more than Qt's Japanese texts: $(dpkg-deb -f "$deb" Recommends)"
# No error and no warning; information tags are fine.
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
    grep -v '^running with root privileges' "$work/lintian.log" >&2
    fail "lintian finds fault with $deb"
fi
dpkg-deb -x "$deb" "$work/deb"
grep -qx 'Exec=tessarbolink %F' "$work/deb/usr/share/applications/tessarbolink.desktop" ||
    fail "the desktop entry under /usr does not start tessarbolink from the PATH with its files"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$work/deb/usr/share/applications/tessarbolink.desktop"
    desktop-file-validate "$work/destdir/opt/tessarbolink-check/share/applications/tessarbolink.desktop"
fi
# Not even a pedantic remark.
metainfo="$work/deb/usr/share/metainfo/app.tessarbolink.tessarbolink.metainfo.xml"
if ! appstreamcli validate --pedantic --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    grep -q '^[EWIP]:' "$work/appstream.log"; then
    cat "$work/appstream.log" >&2
    fail "appstreamcli validate --pedantic finds fault with the metainfo"
fi

# --- Installed on this machine and started by an ordinary user (nobody, with
# a home of its own) offscreen.  The settings are written only when the window
# closes; the program closes it when asked to end (SIGTERM), once it has
# caught that signal.
if dpkg-query -W -f='${Status}' tessarbolink 2>/dev/null | grep -q "install ok installed"; then
    fail "a tessarbolink package is installed on this machine already; remove it first"
fi
deb_installed=yes
if ! as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$deb" \
    >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    fail "apt-get install ./$deb failed"
fi
home="$work/home"
mkdir "$home"
as_root chown 65534:65534 "$home"
as_root sh -c 'echo $$ >"$1"; shift; exec "$@"' sh "$work/pid" \
    setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 tessarbolink 2>"$work/stderr" &
job=$!
caught=no
for _ in $(seq 300); do
    pid="$(cat "$work/pid" 2>/dev/null || true)"
    mask="$(sed -n 's/^SigCgt:\s*//p' "/proc/${pid:-0}/status" 2>/dev/null || true)"
    if [ -n "$mask" ] && (( (0x$mask >> 14) & 1 )); then caught=yes; break; fi  # SIGTERM is signal 15
    sleep 0.1
done
[ "$caught" = yes ] || { cat "$work/stderr" >&2; fail "the installed program did not start"; }
as_root kill -TERM "$pid"
for _ in $(seq 300); do kill -0 "$job" 2>/dev/null || break; sleep 0.1; done
kill -0 "$job" 2>/dev/null && fail "the installed program did not end when asked to"
wait "$job" || { status=$?; cat "$work/stderr" >&2; fail "the installed program ended with status $status"; }
settings="$home/.local/share/tessarbolink/Morvandel.sav"
as_root test -f "$settings" || fail "no settings in the user's data folder ($settings)"
as_root grep -q "^m_sWhere=$home/Documents/MovedFiles/"$'\r'"\$" "$settings" ||
    fail "the default destination is not in the user's documents folder"
same "the installed program's folder" "tessarbolink" "$(ls /usr/lib/tessarbolink)"
man -w tessarbolink >/dev/null || fail "man finds no page for tessarbolink"

# --- The Windows installer, under Wine.
scripts/wine-env.sh scripts/check-windows-setup.sh "$setup" "$version"
echo "check-packages: $zip, $setup and $deb are complete; the installed programs work for an ordinary user"
