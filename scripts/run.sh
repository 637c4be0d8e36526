#!/usr/bin/env bash
# Installs what building and running the Linux program needs, builds it,
# installs it for you under ~/.local and starts the installed program (with
# the files given as arguments, if any).  Its settings, logs and MovedFiles
# live in ~/.local/lib/tessarbolink/, so removing build/ never touches them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --program

cmake --preset linux-program >/dev/null
cmake --build --preset linux-program
cmake --install build/linux-program >/dev/null
prefix="$(cmake -N -L build/linux-program | sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p')"
echo "Installed: $prefix/bin/tessarbolink (uninstall: xargs rm -f < build/linux-program/install_manifest.txt)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tessarbolink is a desktop program and needs a display: no DISPLAY or WAYLAND_DISPLAY is set." >&2
    exit 1
fi
exec "$prefix/bin/tessarbolink" "$@"
