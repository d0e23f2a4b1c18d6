#!/usr/bin/env bash
# The main job, end to end, with no receiver attached: build the tool, start
# the emulated receiver's boot loader on a pseudo-terminal, and upgrade it
# with a generated program image through velmora-cli. The emulator checks
# length, checksum and every byte, and prints its verdict.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh dev velmora-cli velmora-emulator >/dev/null

bin=build/dev
work=build/demo
mkdir -p "$work"

# A 64 KiB program image with a recognisable start and reproducible content.
python3 - "$work/program.bin" <<'PY'
import random, sys
rnd = random.Random(2026)
body = b"VELMORA DEMO PROGRAM IMAGE\0" + bytes(rnd.randrange(256) for _ in range(65536 - 27))
open(sys.argv[1], "wb").write(body)
PY

echo "== Code upgrade: $work/program.bin (65536 bytes) to flash offset 0x00010000"
"$bin/emulator/velmora-emulator" --expect "$work/program.bin" --expect-offset 10000 -- \
    "$bin/cli/velmora-cli" send "$work/program.bin" --port '{port}' --type Code

# A channel list of our own (res/sample-channels.sdx, written by
# scripts/make-sample-list.py), converted into the receiver's database image
# and sent as a Database upgrade to the database's flash offset.
list=res/sample-channels.sdx
mkdir -p "$work/expected" "$work/send"
echo
echo "== Channel list $list: what the receiver gets, what is left out and why"
"$bin/cli/velmora-cli" convert "$list" --work-dir "$work/expected" --quiet
echo
echo "== Database upgrade: $list converted and sent to flash offset 0x1B0000"
"$bin/emulator/velmora-emulator" --expect "$work/expected/db1.bin" --expect-offset 1b0000 -- \
    "$bin/cli/velmora-cli" send "$list" --type Database --work-dir "$work/send" --port '{port}'
echo
echo "== What the receiver got:"
"$bin/cli/velmora-cli" inspect "$work/send/db1.bin" | sed -n '1,8p;/^TV channels/,$p'

# A version-105 list as TVs and editors export it today: UTF-8 names, 133-byte
# records, a NUL and space padding at the end (written by
# scripts/make-sample-list.py --version 105). The names reach the receiver in
# its code page 1252; a character that code page lacks becomes '?'.
v105="$work/sample-v105.sdx"
python3 scripts/make-sample-list.py --version 105 "$v105"
mkdir -p "$work/v105"
echo
echo "== Version-105 channel list $v105: UTF-8 names, 133-byte records"
"$bin/cli/velmora-cli" convert "$v105" --work-dir "$work/v105" --quiet
echo
echo "== Its satellite and channel names as the receiver gets them:"
"$bin/cli/velmora-cli" inspect "$work/v105/db1.bin" | sed -n '/^Satellites/,/^$/p;/^TV channels/,$p'

# An Enigma2 settings list as settings makers publish it (lamedb, the
# satellites.xml that names its positions, a bouquet), written by
# scripts/make-enigma2-list.py. Only the services of one satellite go in.
e2="$work/enigma2"
python3 scripts/make-enigma2-list.py "$e2" >/dev/null
mkdir -p "$work/e2"
echo
echo "== Enigma2 list $e2/lamedb: the services of 19.2E"
"$bin/cli/velmora-cli" convert "$e2/lamedb" --satellite 19.2E --work-dir "$work/e2" --quiet
echo
echo "== What the receiver gets from it:"
"$bin/cli/velmora-cli" inspect "$work/e2/db1.bin" | sed -n '/^Satellites/,/^$/p;/^TV channels/,$p'
