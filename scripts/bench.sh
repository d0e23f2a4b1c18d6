#!/usr/bin/env bash
# The benchmarks, in an optimised build (figures for docs/performance.md):
# the transfer through the emulator, the channel-list conversion, the station.
#   scripts/bench.sh [transfer bytes]        (default 1 MiB)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release velmora-cli transfer_bench station_bench sdx_bench >/dev/null
echo "### Transfer (${1:-1048576} bytes through the emulator on a pty)"
echo
build/release/bench/transfer/transfer_bench build/release/cli/velmora-cli "${1:-1048576}"
echo
echo "### Channel-list conversion (the real list, and a generated list that fills the table)"
echo
build/release/bench/sdx/sdx_bench
echo
echo "### Flashing station (1, 4 and 8 receivers at once, ${1:-1048576} bytes each)"
echo
build/release/bench/station/station_bench build/release/cli/velmora-cli "${1:-1048576}" 1 4 8
