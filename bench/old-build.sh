#!/usr/bin/env bash
# Builds velmora-cli of an earlier commit from `git archive` into a folder of
# its own, for the benchmarks that measure builds side by side:
#
#   bench/old-build.sh COMMIT DIR              Linux, release preset: prints DIR/build/release/cli/velmora-cli
#   bench/old-build.sh COMMIT DIR --windows    MinGW, windows preset: prints DIR/build-windows/cli/velmora-cli.exe
#
# The commit's own presets are used; nothing of this worktree is touched.
set -euo pipefail
commit=$1 dir=$2 kind=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$dir"
if [ ! -f "$dir/CMakeLists.txt" ]; then
    git -C "$root" archive "$commit" | tar -x -C "$dir"
fi
cd "$dir"
if [ "$kind" = --windows ]; then
    [ -f build-windows/build.ninja ] || cmake --preset windows >/dev/null
    cmake --build build-windows -j2 --target velmora-cli >/dev/null
    echo "$dir/build-windows/cli/velmora-cli.exe"
else
    [ -f build/release/build.ninja ] || cmake --preset release -DVELMORA_BUILD_GUI=OFF >/dev/null
    cmake --build build/release -j2 --target velmora-cli >/dev/null
    echo "$dir/build/release/cli/velmora-cli"
fi
