#!/usr/bin/env bash
# Installs what is missing on Debian or Ubuntu, only what is missing.
#   scripts/setup.sh --program   what building and running the Linux program
#                                needs (scripts/run.sh)
#   scripts/setup.sh             that, and the tests, the Windows cross build,
#                                Wine and the packages' checks (scripts/test.sh,
#                                scripts/package.sh), with the Japanese locale
#                                that Wine needs
set -euo pipefail

# Building and running the Linux program: the compiler, Qt 6 Widgets with
# its Japanese texts, the Japanese font the window is shown in, and
# rsvg-convert, which renders the icon.
program_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-translations-l10n libgl-dev fonts-ipafont-gothic
    librsvg2-bin
)
# The tests, the Windows program under Wine (icotool packs its icon), the
# packages and their checks (the installer is made by makensis), and the
# fuzz targets (libclang-rt-dev: libFuzzer and the sanitizer runtimes of the
# system's clang, libclang-rt-14-dev on Debian 12); libfuse 3 for the test
# file system that the share tests and benchmarks mount; dbus: the launcher
# entry's test starts a session bus of its own (dbus-daemon).
test_packages=(
    libgtest-dev libgmock-dev googletest qt6-qpa-plugins dbus
    clang libclang-rt-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 icoutils
    wine wine64 xvfb xauth x11-utils locales fonts-noto-cjk imagemagick
    appstream desktop-file-utils lintian nsis
    libfuse3-dev fuse3
)

packages=("${program_packages[@]}")
case "${1:-}" in
    --program) ;;
    "") packages+=("${test_packages[@]}") ;;
    *) echo "usage: scripts/setup.sh [--program]" >&2; exit 2 ;;
esac

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

[ "${1:-}" = --program ] && exit 0
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi
