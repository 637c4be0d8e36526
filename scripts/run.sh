#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target tessarbolink
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tessarbolink is a desktop program and needs a display: no DISPLAY or WAYLAND_DISPLAY is set." >&2
    exit 1
fi
exec build/linux-release/tessarbolink
