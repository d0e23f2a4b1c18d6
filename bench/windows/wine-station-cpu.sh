#!/usr/bin/env bash
# The station's CPU under Wine: `velmora-cli.exe station --once` on COM1 and
# COM2 against two emulated receivers (the Linux emulator behind Wine's COM
# ports, as scripts/test-windows.sh maps them), for builds side by side,
# taking turns ROUNDS times.
#
#   bench/windows/wine-station-cpu.sh ROUNDS BYTES NAME=EXE [NAME=EXE ...]
#
# Run it after scripts/test-windows.sh, which makes the Wine prefix, maps
# COM1 and COM2 and builds the emulator. For each run it prints the station
# process's user+system CPU and wall time (bash's `time` around the wine
# process, start-up included), the CPU the prefix's wineserver spent meanwhile
# (which serves every write to a port), and the receivers' rates.
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=$1 bytes=$2
shift 2
root=$PWD
out=$root/build-windows
run=$out/run
emulator=$root/build/dev/emulator/velmora-emulator
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineserver -p 2>>"$run/wineserver.log" || true  # one may run already
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
server=
for pid in $(pgrep -x wineserver64 || pgrep -x wineserver || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
        server=$pid
    fi
done
server_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$server/stat"
}
head -c "$bytes" /dev/urandom >"$run/bench-cpu.bin"
echo "| round | build | station CPU | wall | cores | wineserver CPU | receivers |"
echo "|---|---|---|---|---|---|---|"
for ((round = 1; round <= rounds; round++)); do
    for build in "$@"; do
        name=${build%%=*} exe=$(realpath "${build#*=}")
        before=$(server_seconds)
        (cd "$run" && timeout 900 "$emulator" --raw-pty --receivers 2 --link "$run/ttyV0" \
            --link "$run/ttyV2" --expect bench-cpu.bin --expect-offset 10000 -- bash -c \
            'TIMEFORMAT="station-time %R %U %S"; time wine "$0" station bench-cpu.bin --port COM1 \
                --port COM2 --once --quiet --log bench-cpu.jsonl </dev/null' "$exe") \
            >"$run/bench-cpu.log" 2>&1 || true
        after=$(server_seconds)
        read -r wall user system < <(sed -n 's/^station-time //p' "$run/bench-cpu.log") ||
            { echo "no time for $name: see $run/bench-cpu.log" >&2; exit 1; }
        rates=$(grep -ao 'verified: .*, [0-9.]* KiB/s' "$run/bench-cpu.log" | sed 's/.*, //' |
            paste -sd ' ' || true)
        verified=$(grep -ac 'velmora-emulator: receiver .*: verified' "$run/bench-cpu.log" || true)
        awk -v r="$round" -v n="$name" -v w="$wall" -v u="$user" -v s="$system" -v b="$before" \
            -v a="$after" -v rates="$rates" -v v="$verified" 'BEGIN {
            printf "| %d | %s | %.2f s | %.2f s | %.3f | %.2f s | %s verified (%s) |\n",
                r, n, u + s, w, (u + s) / w, a - b, v, rates }'
    done
done
