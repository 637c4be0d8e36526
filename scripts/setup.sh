#!/usr/bin/env bash
# Installs what the build and the tests need on Debian or Ubuntu, only what is
# missing, and generates the Japanese locale that Wine needs.
set -euo pipefail

# libclang-rt-dev: libFuzzer and the sanitizer runtimes of the system's clang
# (libclang-rt-14-dev on Debian 12), for scripts/fuzz.sh.
packages=(
    build-essential cmake ninja-build pkg-config
    clang libclang-rt-dev
    libgtest-dev libgmock-dev googletest
    qt6-base-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth x11-utils locales fonts-ipafont-gothic fonts-noto-cjk imagemagick
)

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

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi
