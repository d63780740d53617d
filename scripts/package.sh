#!/usr/bin/env bash
# Builds the two release artifacts into dist/:
#   dist/hxflash_<version>_amd64.deb     the Debian package (cpack --preset release):
#                                        the default tree's module, hxflash and
#                                        hxphone, stripped, with the man pages
#   dist/hxflash-<version>-windows.zip   x64/hxflash.exe, x64/ModelTemplate.dll,
#                                        x86/ModelTemplate.dll of the mingw-x64 and
#                                        mingw-x86 trees (Release), stripped
# Each tree is configured if it is not yet and brought up to date in the
# targets the artifacts hold only: after the test run (scripts/test.sh) nothing
# is built again. The version is project()'s in CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

# configure PRESET TREE: configures the tree once; later builds reconfigure
# it themselves when its CMakeLists change.
configure() {
  [[ -f $2/CMakeCache.txt ]] || cmake --preset "$1"
}

rm -rf dist
mkdir dist

echo "=== the Debian package ==="
configure release build/default
cmake --build --preset release
cpack --preset release
rm -rf dist/_CPack_Packages

echo "=== the Windows zip ==="
configure mingw-x64 build/mingw-x64
configure mingw-x86 build/mingw-x86
cmake --build --preset mingw-x64 --target hxflash ModelTemplate
cmake --build --preset mingw-x86 --target ModelTemplate
cmake -DSOURCE_DIR="$PWD" -DX64_BUILD=build/mingw-x64 -DX86_BUILD=build/mingw-x86 -DOUTPUT_DIR=dist \
  -P cmake/windows_zip.cmake

ls -l dist
