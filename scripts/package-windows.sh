#!/usr/bin/env bash
# The Windows release for a technician: dist/velmora-<version>-windows-x64.zip
# with velmora.exe (the dialog), velmora-cli.exe, a short README.txt and the
# licence. Both
# programs are static: no DLL goes beside them. The version is the CMake
# project's, read from the build.
#
#   scripts/package-windows.sh [--check]
#
# --check unpacks the zip into a fresh folder with a fresh Wine prefix and
# runs both programs from there, the dialog on a virtual display (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/wine-display.sh
root=$PWD
check=0
case "${1:-}" in
    --check) check=1 ;;
    "") ;;
    *)
        echo "usage: scripts/package-windows.sh [--check]" >&2
        exit 2
        ;;
esac

./scripts/setup.sh g++-mingw-w64-x86-64 zip unzip
./scripts/build-windows.sh velmora velmora-cli velmora_probe >/dev/null
out=$root/build-windows
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
if [ -z "$version" ]; then
    echo "package-windows.sh: no project version in $out/CMakeCache.txt" >&2
    exit 1
fi
name=velmora-$version-windows-x64
programs=("$out/app/velmora.exe" "$out/cli/velmora-cli.exe")

# Only the system's own DLLs may be imported.
for exe in "${programs[@]}"; do
    foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
        grep -viE '^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|ws2_32|winmm|msvcrt|ole32|oleaut32|shlwapi|setupapi|bcrypt|odbc32)\.dll$' || true)
    if [ -n "$foreign" ]; then
        echo "package-windows.sh: $(basename "$exe") needs DLLs that Windows lacks: $foreign" >&2
        exit 1
    fi
done

stage=$out/package/$name
rm -rf "$out/package"
mkdir -p "$stage" dist
cp "${programs[@]}" "$stage/"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
sed 's/$/\r/' >"$stage/README.txt" <<TEXT
Velmora $version for Windows (64-bit)
=====================================

Velmora upgrades a DVB-S satellite receiver over a serial line.

velmora.exe      the upgrade dialog
velmora-cli.exe  the same upgrade from a command prompt ("velmora-cli send --help")

Nothing needs installing: unpack the folder anywhere and start velmora.exe
(or drag a file onto it: it is taken as if chosen with Select File).

1. Connect the receiver's serial port to the PC (a USB serial adapter shows
   as a COM port in the Device Manager, under "Ports (COM & LPT)").
2. Start velmora.exe, choose the port (COM1 to COM8), press Select File and
   choose the program image (.bin); type the name of a channel list (.sdx).
3. Press Start (or Enter), then switch the receiver on or reset it. The two
   bars show the conversion and the transfer; "Data send finish !" ends it.

Ports above COM8: velmora-cli.exe send FILE --port \\\\.\\COM12
The packed receiver model needs xb2.exe beside velmora.exe or on PATH.
See LICENSE.txt for the terms of use.
TEXT
zip="$root/dist/$name.zip"
rm -f "$zip"
(cd "$out/package" && zip -q -X -r "$zip" "$name")
echo "package-windows.sh: wrote dist/$name.zip"

if [ "$check" -eq 0 ]; then
    exit 0
fi

# The zip on its own: a fresh folder, a fresh Wine prefix, both programs.
./scripts/setup.sh wine wine64 xvfb
scratch=$(mktemp -d)
xvfb_pid=
cleanup() {
    WINEPREFIX=$scratch/prefix wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
unzip -q "$zip" -d "$scratch"
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
start_virtual_display "$scratch" /dev/null
wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p
# Wine's services start with the first program and keep its output open.
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
cd "$scratch/$name"
if ! wine ./velmora-cli.exe send --help </dev/null | grep -q -- '--port'; then
    echo "package-windows.sh: velmora-cli.exe from the zip did not run" >&2
    exit 1
fi
wine ./velmora.exe </dev/null >/dev/null 2>&1 &
app=$!
probe() { wine "$out/tests/windows/velmora-probe.exe" "$@" </dev/null; }
if ! probe wait 'Velmora (Ver1.0a)' 90; then
    echo "package-windows.sh: velmora.exe from the zip showed no window" >&2
    exit 1
fi
probe key 'Velmora (Ver1.0a)' escape
probe gone 'Velmora (Ver1.0a)' 30
wait "$app"
echo "package-windows.sh: both programs ran from the zip in a fresh Wine prefix"
