#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-builds velmora.exe (the dialog),
# velmora-cli.exe and the unit tests with MinGW-w64 into build-windows/, runs
# the tests under Wine, upgrades the Linux emulated receiver through
# velmora-cli.exe on Wine's COM1 (and two at once on COM1 and COM2), with a
# job into a PostgreSQL shop record through Wine's ODBC, then
# drives the dialog on a virtual display (Xvfb): its window, a Code upgrade
# by Enter, the channel-list refusal, and the picture
# docs/screenshot-windows.png. Running it again reuses
# build-windows/ and its Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh g++-mingw-w64-x86-64 wine wine64 socat fonts-wine xvfb postgresql odbc-postgresql

root=$PWD
out=$root/build-windows
run=$out/run
mkdir -p "$run"

echo "== windows: build"
./scripts/build-windows.sh >/dev/null
./scripts/build.sh dev velmora-emulator >/dev/null
emulator=$root/build/dev/emulator/velmora-emulator
cli=$out/cli/velmora-cli.exe
gui=$out/app/velmora.exe
probe_exe=$out/tests/windows/velmora-probe.exe

# Wine: a prefix of our own, headless, without the Mono and Gecko installers.
export WINEPREFIX=$out/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== windows: creating the Wine prefix (once)"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

# Maps Wine's COM ports, "COMn=PATH ..." (PATH a link that the emulator or
# socat makes). Wine maps the ports when its server starts, so a change
# restarts it; an unchanged list costs nothing.
map_wine_ports() {
    local ports=$1 entry
    if [ "$(cat "$WINEPREFIX/velmora-ports" 2>/dev/null)" != "$ports" ]; then
        for entry in $ports; do
            wine reg add 'HKLM\Software\Wine\Ports' /v "${entry%%=*}" /d "${entry#*=}" /f >/dev/null
        done
        wineserver -k 2>/dev/null || true
        wineserver -w
        echo "$ports" >"$WINEPREFIX/velmora-ports"
    fi
}

# Wine's COM ports: COM1 is the emulator's stable link to its pty, and COM2
# the second receiver's when the emulator plays two (--receivers 2 with
# --link for each, see emulated_pair); COM5 and COM6 are two ptys joined by
# socat, a null-modem pair for the port tests; COM11, beyond the dialog's
# COM1 to COM8, a second emulator link.
map_wine_ports "COM1=$run/ttyV0 COM2=$run/ttyV2 COM5=$run/ttyPairA COM6=$run/ttyPairB COM11=$run/ttyV1"

# The dialog: Wine's own desktop window (a "virtual desktop") on the X
# display, so that Wine draws the frames and captions itself; and for the
# template's font, Gulim, which Debian does not have, NanumGothic
# (fonts-nanum), a Korean font of the same kind. Debian's Wine does not find
# the fonts of its own (fonts-wine) by itself; the caption buttons need Marlett.
gui_settings="desktop=1024x768 font=NanumGothic marlett"
if [ "$(cat "$WINEPREFIX/velmora-gui" 2>/dev/null)" != "$gui_settings" ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
    for face in Gulim $'\xea\xb5\xb4\xeb\xa6\xbc'; do
        LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" \
            /d NanumGothic /f >/dev/null
    done
    wineserver -w
    echo "$gui_settings" >"$WINEPREFIX/velmora-gui"
fi

socat_pid=
xvfb_pid=
pg_dir=
cleanup() {
    if [ -n "$pg_dir" ]; then
        tests/shop/scratch-postgres.sh stop "$pg_dir" 2>/dev/null || true
        rm -rf "$pg_dir"
    fi
    if [ -n "$socat_pid" ]; then
        kill "$socat_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# One Wine server for the whole run (its messages go to a log), so that every
# program starts quickly.
wineserver -p 2>>"$run/wineserver.log"
wine cmd /c exit 0 >/dev/null 2>&1

rm -f "$run/ttyPairA" "$run/ttyPairB"
socat pty,rawer,link="$run/ttyPairA" pty,rawer,link="$run/ttyPairB" 2>>"$run/socat.log" &
socat_pid=$!
for _ in $(seq 50); do
    [ -e "$run/ttyPairA" ] && [ -e "$run/ttyPairB" ] && break
    sleep 0.1
done

echo "== windows: unit tests under Wine"
VELMORA_TEST_COM_PAIR=COM5,COM6 ctest --test-dir "$out" -j2 --output-on-failure

# Transfers: velmora-cli.exe under Wine against the Linux emulator. Each case
# names the exit status the command line must end with; the emulator verifies
# length, checksum and (with --expect) every byte, and exits 0 only then.
. ./scripts/wine-tally.sh
last_seconds=
# A COM port on Windows comes without software flow control, but Wine builds
# the port's settings from the Unix tty, whose kernel defaults have XON/XOFF
# on, and the port layer keeps flow control as the device has it. So the
# emulator sets its pty raw for every program under Wine; the control bytes
# still come as noise.
wine_line=--raw-pty
transfer() {
    local name=$1 want_cli=$2 want_emulator=$3
    shift 3
    local emulator_args=() cli_args=()
    while [ "$1" != "--" ]; do
        emulator_args+=("$1")
        shift
    done
    shift
    cli_args=("$@")
    local log=$run/$name.log
    local status_file=$run/$name.status
    rm -f "$status_file"
    local start=$SECONDS
    local emulator_status=0
    (cd "$run" && timeout 300 "$emulator" "$wine_line" --link "$run/ttyV0" "${emulator_args[@]}" -- \
        sh -c 'wine "$0" "$@" </dev/null; echo $? >"'"$status_file"'"' \
        "$cli" send "${cli_args[@]}" --port COM1 --quiet) >"$log" 2>&1 || emulator_status=$?
    local cli_status
    cli_status=$(cat "$status_file" 2>/dev/null || echo none)
    local verdict
    verdict=$(grep -a 'velmora-emulator: \(verified\|NOT verified\)' "$log" | tail -1 || true)
    if [ "$cli_status" = "$want_cli" ] && [ "$emulator_status" = "$want_emulator" ]; then
        case_ok "$name ($((SECONDS - start)) s): ${verdict#velmora-emulator: }"
    else
        local why="velmora-cli.exe exited $cli_status (want $want_cli),"
        case_fail "$name: $why the emulator $emulator_status (want $want_emulator)" "$log"
    fi
    last_seconds=$(sed -n 's/.*verified: \([0-9]*\) bytes.*, \([0-9.]*\) KiB\/s.*/\1 \2/p' "$log")
}

echo "== windows: transfers through the emulated receiver"
head -c 65536 /dev/urandom >"$run/program.bin"
transfer code 0 0 --expect program.bin --expect-offset 10000 -- program.bin --type Code
code_figures=$last_seconds

head -c 4000 /dev/urandom >"$run/small.bin"
transfer noise 0 0 --noise 700 --expect small.bin --expect-offset 10000 -- small.bin --type Code

# The cable is pulled after 3 blocks: the tool notices and gives up (status 6).
transfer device-lost 6 1 --hangup-after 3 -- small.bin --type Code

# The project's own sample list; the shared real-world list when it is there.
list=$(realpath --relative-to="$run" "$root/res/sample-channels.sdx")
shared="$root/../shared/data/astra-19.2e-v103.sdx"
if [ -f "$shared" ]; then
    list=$(realpath --relative-to="$run" "$shared")
fi
if [ -f "$run/$list" ]; then
    rm -f "$run/db1.bin" "$run/received.bin"
    transfer database 0 0 --expect-offset 1b0000 --save received.bin -- "$list" --type Database
    if [ -f "$run/db1.bin" ] && cmp -s "$run/db1.bin" "$run/received.bin"; then
        echo "     the receiver got db1.bin, the image converted under Wine"
    else
        case_fail "database: what the receiver got differs from db1.bin"
    fi

    # The packed receiver model: the image goes through xb2.exe (the tests'
    # stand-in, found on Wine's PATH), started hidden by the Win32 process layer.
    rm -f "$run/db.bin" "$run/received.bin"
    packer_dir=$out/tests/windows/packer
    WINEPATH="Z:${packer_dir//\//\\}" transfer packed 0 0 --expect-offset 1b0000 \
        --save received.bin -- "$list" --type Database --model LX3300AB
    if [ -f "$run/db.bin" ] && cmp -s "$run/db.bin" "$run/received.bin"; then
        echo "     the receiver got db.bin, the packer's output behind the offset"
    else
        case_fail "packed: what the receiver got differs from db.bin"
    fi
else
    case_fail "database: no channel list at $list"
    case_fail "packed: no channel list at $list"
fi

# NAME FILE -- EMULATOR_OPTIONS...: two emulated receivers on COM1 and COM2
# at once, both upgraded by one velmora-cli.exe station; both must verify.
emulated_pair() {
    local name=$1 file=$2
    shift 3
    local log=$run/$name.log start=$SECONDS status=0
    (cd "$run" && timeout 300 "$emulator" "$wine_line" --receivers 2 --link "$run/ttyV0" \
        --link "$run/ttyV2" "$@" -- sh -c 'wine "$0" station "$1" --port COM1 --port COM2 \
            --once --quiet --log "$2" </dev/null' "$cli" "$file" "$name.jsonl") \
        >"$log" 2>&1 || status=$?
    if [ "$status" = 0 ] && grep -aq 'velmora-emulator: 2 of 2 transfers verified' "$log"; then
        case_ok "$name ($((SECONDS - start)) s): velmora-cli.exe station, COM1 and COM2 verified"
    else
        case_fail "$name: the emulator exited $status (want 0, both receivers verified)" "$log"
    fi
}
emulated_pair two-receivers small.bin -- --expect small.bin --expect-offset 10000

# The shop record through Windows's ODBC: Wine's odbc32 hands the calls on to
# the host's unixODBC, which loads psqlODBC, against a PostgreSQL server of
# the test's own on a Unix socket (tests/shop/scratch-postgres.sh). The
# connection file is yours alone (mode 600), which Wine shows Windows as an
# access list without Everyone.
pg_dir=$(mktemp -d)
chmod 755 "$pg_dir"  # the server runs as the postgres user
if pg_facts=$(tests/shop/scratch-postgres.sh start "$pg_dir/pg" 2>"$run/postgres.log"); then
    fact() { sed -n "s/^$1=//p" <<<"$pg_facts"; }
    printf 'Driver=%s;Servername=%s;Port=%s;Database=shop;UID=%s;PWD=%s\n' "$(fact DRIVER)" \
        "$(fact SOCKET_DIR)" "$(fact PORT)" "$(fact OWNER)" "$(fact OWNER_PASSWORD)" >"$run/shop.conn"
    chmod 600 "$run/shop.conn"
    rm -f "$run/shop.jsonl" "$run/shop.jsonl.shop-state"
    transfer shop-record 0 0 --expect small.bin --expect-offset 10000 -- small.bin --type Code \
        --log shop.jsonl --record-file shop.conn --bench wine-bench
    rows=$(tests/shop/scratch-postgres.sh psql "$pg_dir/pg" "SELECT count(*) FROM velmora_jobs
        WHERE bench = 'wine-bench' AND outcome = 'finished'" 2>>"$run/postgres.log" || true)
    if [ "$rows" = 1 ] && grep -q '"bench":"wine-bench"' "$run/shop.jsonl"; then
        echo "     the job is in the shop record, written through Wine's odbc32"
    else
        case_fail "shop-record: $rows rows for the job in the shop record (want 1)" "$run/shop-record.log"
    fi
    (cd "$run" && wine "$cli" log --record-file shop.conn --bench wine-bench </dev/null) \
        >"$run/shop-log.log" 2>&1 || true
    if grep -q '^1 job: 1 finished, 0 failed\.' "$run/shop-log.log"; then
        case_ok "shop-log: velmora-cli.exe log reads the job back from the shop record"
    else
        case_fail "shop-log: velmora-cli.exe log did not count the job" "$run/shop-log.log"
    fi
else
    case_fail "shop-record: no PostgreSQL server of our own" "$run/postgres.log"
fi

if [ -n "$code_figures" ]; then
    read -r bytes kib_per_s <<<"$code_figures"
    awk -v n="$bytes" -v r="$kib_per_s" 'BEGIN {
        wall = n / (r * 1024); floor = (n * 70 + 12 * 101) / 1e6;
        printf "     paced transfer under Wine: %d bytes in %.2f s, pacing floor %.2f s, ratio %.2f\n",
            n, wall, floor, wall / floor }'
fi

. ./scripts/test-windows-dialog.sh

echo "== windows: the release zip on its own"
if ./scripts/package-windows.sh --check >"$run/package.log" 2>&1; then
    case_ok "$(tail -1 "$run/package.log" | sed 's/^package-windows.sh: //')"
else
    case_fail "package-windows.sh --check" "$run/package.log"
fi

tally_end
