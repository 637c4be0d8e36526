#!/usr/bin/env bash
# Builds both packages into build/packages/:
#   tessarbolink-<version>-windows-x64.zip   the portable Windows program
#   tessarbolink_<version>_amd64.deb         the Linux program for /usr
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

mkdir -p build/packages
rm -f build/packages/tessarbolink[-_]*
for preset in linux-package windows-package; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    rm -f "build/$preset"/tessarbolink[-_]*.{deb,zip}
    (cd "build/$preset" && cpack >/dev/null)
done
cp build/linux-package/tessarbolink_*.deb build/windows-package/tessarbolink-*-windows-x64.zip build/packages/
ls -l build/packages
