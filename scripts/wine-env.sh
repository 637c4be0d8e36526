#!/usr/bin/env bash
# Runs a command with a fresh Wine prefix, the Japanese locale and an Xvfb
# display, then cleans up.  Usage: scripts/wine-env.sh COMMAND [ARGS...]
set -euo pipefail

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "wine-env.sh: the ja_JP.UTF-8 locale is missing; run scripts/setup.sh first" >&2
    exit 1
fi

export WINEPREFIX="$(mktemp -d /tmp/tessarbolink-wine.XXXXXX)"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

display_number=$(( 90 + RANDOM % 400 ))
Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display_number"

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1 || true
# Unmanaged windows: without a window manager every closed window costs seconds.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
# The dialogs' font is not part of Wine: show it in the proportional IPA
# gothic face, whose widths come closest to it.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1 || true
wineserver -w || true

# Keep the server and Wine's own background processes (services, the
# desktop) running for the whole command, started here with their output
# going nowhere.  Otherwise the first program of each test starts them
# afresh, they inherit the test's output pipe, and ctest waits seconds per
# test for them to quit.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

"$@"
