#!/usr/bin/env bash
# Benchmarks, in an optimised build. Prints Markdown tables for docs/performance.md.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release velmora-cli transfer_bench >/dev/null
echo "### Transfer (1 MiB through the emulator on a pty)"
echo
build/release/bench/transfer/transfer_bench build/release/cli/velmora-cli "${1:-1048576}"
