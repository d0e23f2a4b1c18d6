#!/usr/bin/env bash
# The MinGW-w64 cross build in build-windows/, by the CMake preset "windows"
# (cmake/toolchain-mingw64.cmake; -O2, as GCC 12 reports false -Wrestrict
# inside libstdc++ at -O3). Static .exe files that need no DLLs beside them.
#   scripts/build-windows.sh [targets...]        (all targets when none given)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build-windows/build.ninja ]; then
    cmake --preset windows >/dev/null
fi
if [ "$#" -gt 0 ]; then
    cmake --build --preset windows --target "$@"
else
    cmake --build --preset windows
fi
