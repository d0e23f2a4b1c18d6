#!/usr/bin/env bash
# Runs the libFuzzer targets under ASan/UBSan for a while (default 60 s in
# all, shared between them): sdx_fuzz over the SATCODX reader, the database
# builder, the image writer and the image decoder; list_fuzz over the Enigma2
# and VDR readers, bouquets and satellites.xml. New inputs go to scratch
# corpora under build/fuzz; the seed corpora in tests/fuzz stay as committed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
share=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))
./scripts/build.sh fuzz sdx_fuzz list_fuzz >/dev/null
mkdir -p build/fuzz/corpus build/fuzz/list-corpus
build/fuzz/tests/fuzz/sdx_fuzz -max_total_time="$share" -max_len=4096 -print_final_stats=1 \
    build/fuzz/corpus tests/fuzz/corpus 2>&1 | tail -n 12
build/fuzz/tests/fuzz/list_fuzz -max_total_time="$share" -max_len=4096 -print_final_stats=1 \
    build/fuzz/list-corpus tests/fuzz/list-corpus 2>&1 | tail -n 12
