#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native
# Linux build, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset linux >/dev/null
cmake --build --preset linux
QT_QPA_PLATFORM=offscreen ctest --preset linux -j2

cmake --preset windows >/dev/null
cmake --build --preset windows
scripts/wine-env.sh ctest --preset windows
