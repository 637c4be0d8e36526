#!/usr/bin/env bash
# Builds the packages into build/packages/:
#   tessarbolink-<version>-windows-x64.zip         the portable Windows program
#   tessarbolink-<version>-windows-x64-setup.exe   its installer (NSIS), per user
#   tessarbolink_<version>_amd64.deb               the Linux program for /usr
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

version="$(sed -n 's/^project(Tessarbolink VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
mkdir -p build/packages
rm -f build/packages/tessarbolink[-_]*
for preset in linux-package windows-package; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    rm -f "build/$preset"/tessarbolink[-_]*.{deb,zip}
    (cd "build/$preset" && cpack >/dev/null)
done
cp build/linux-package/tessarbolink_*.deb build/windows-package/tessarbolink-*-windows-x64.zip build/packages/

# The installer holds what the zip holds: the stripped program, its guide and
# the licence.
files=build/windows-package/setup-files
rm -rf "$files"
cmake --install build/windows-package --prefix "$files" --strip >/dev/null
makensis -V2 -WX -DVERSION="$version" -DPROGRAM_DIR="$PWD/$files" \
    -DICON="$PWD/build/windows-package/icons/tessarbolink.ico" \
    -DOUTPUT="$PWD/build/packages/tessarbolink-$version-windows-x64-setup.exe" \
    packaging/windows/tessarbolink.nsi
ls -l build/packages
