#!/usr/bin/env bash
# The whole test suite: unit, integration and dialog tests under the dev
# preset, again under AddressSanitizer/UBSan, and the threading tests under
# ThreadSanitizer, then a minute of fuzzing the channel-list conversion. The
# shop record's tests against a real PostgreSQL server run under dev and tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
# The shop record's tests start a PostgreSQL server of their own and reach it
# through psqlODBC.
./scripts/setup.sh postgresql odbc-postgresql

export QT_QPA_PLATFORM=offscreen

for preset in dev asan tsan; do
    echo "== $preset: build"
    ./scripts/build.sh "$preset" >/dev/null
    echo "== $preset: test"
    ctest --preset "$preset" -j2
done

echo "== fuzz: SATCODX, Enigma2 and VDR readers, builder, writer and decoder, 60 s"
./scripts/fuzz.sh 60
