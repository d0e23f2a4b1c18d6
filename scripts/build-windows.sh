#!/usr/bin/env bash
# Configures (once) and builds the MinGW-w64 cross build in build-windows/:
#   scripts/build-windows.sh [targets...]        (all targets when none given)
# Static .exe files that need no DLLs beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-windows
if [ ! -f "$out/build.ninja" ]; then
    # -O2: GCC 12 reports false -Wrestrict inside libstdc++ at -O3.
    cmake -S . -B "$out" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DVELMORA_WERROR=ON >/dev/null
fi
if [ "$#" -gt 0 ]; then
    cmake --build "$out" -j2 --target "$@"
else
    cmake --build "$out" -j2
fi
