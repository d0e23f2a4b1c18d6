#!/usr/bin/env bash
# Runs the libFuzzer target over the SATCODX reader, the database builder, the
# image writer and the image decoder under ASan/UBSan for a while (default
# 60 s). New inputs go to a scratch corpus under build/fuzz; the seed corpus
# in tests/fuzz/corpus stays as committed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
./scripts/build.sh fuzz sdx_fuzz >/dev/null
mkdir -p build/fuzz/corpus
build/fuzz/tests/fuzz/sdx_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    build/fuzz/corpus tests/fuzz/corpus 2>&1 | tail -n 12
