#!/usr/bin/env bash
# Renders the main dialog of `velmora` in a virtual X display (Xvfb) with a
# window manager (openbox) for its frame and title, and saves the picture
# shown in the README.
#
#   scripts/screenshot.sh [OUT.png]        default: docs/screenshot.png
#   scripts/screenshot.sh --station [OUT.png]
#                                          default: docs/screenshot-station.png
#
# With --station it shows the station window flashing three emulated
# receivers (velmora --station ... --once --start): the first finishes, the
# second is on a slow line and still sending, the third is pulled after three
# blocks and fails; the picture is taken once two jobs are in the log.
#
# Needs the Debian packages xvfb, xauth, openbox and xdotool, and a configured
# build folder (BUILD_DIR, default build/dev; `cmake --preset dev` makes it).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/dev}
mode=dialog
if [[ ${1:-} == --station ]]; then
    mode=station
    shift
fi
if [[ $mode == station ]]; then
    out=${1:-$root/docs/screenshot-station.png}
else
    out=${1:-$root/docs/screenshot.png}
fi

for tool in xvfb-run openbox xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "screenshot.sh: $tool is missing; install it with: apt-get install xvfb xauth openbox xdotool" >&2
        exit 1
    fi
done
if [[ ! -d $build ]]; then
    echo "screenshot.sh: no build folder at $build; run 'cmake --preset dev' first or set BUILD_DIR" >&2
    exit 1
fi

cmake --build "$build" -j2 --target velmora velmora-screen-grab velmora-emulator

# Inside the virtual display: window manager, dialog, wait for its window,
# grab, then end both by their process ids.
inner=$(cat <<'INNER'
set -euo pipefail
build=$1 out=$2 mode=$3
# Openbox tells through a fifo when it manages windows; a dialog mapped
# before that would get no frame.
ready=$(mktemp -u)
mkfifo "$ready"
exec 3<>"$ready"
openbox --startup "sh -c 'echo > $ready'" >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null || true; rm -f "$ready"' EXIT
if ! read -r -t 30 -u 3; then
    echo "screenshot.sh: openbox did not start within 30 s" >&2
    exit 1
fi
title='^Velmora \(Ver1\.0a\)$'
if [[ $mode == station ]]; then
    title='^Velmora Station \(Ver1\.0a\)$'
    work=$(mktemp -d)
    head -c 16000 /dev/urandom >"$work/fw.bin"
    (cd "$work" && "$build/emulator/velmora-emulator" --receivers 3 \
        --fault 2:throttle=2400 --fault 3:hangup-after=3 -- "$build/app/velmora" --station \
        fw.bin --port={ports} --once --start --log jobs.jsonl >/dev/null 2>&1) &
else
    "$build/app/velmora" &
fi
app=$!
trap 'kill "$app" "$wm" 2>/dev/null || true; rm -f "$ready"' EXIT
# Wait for the window, by its title, for at most 30 s.
for ((tries = 0; ; tries++)); do
    if xdotool search --onlyvisible --name "$title" >/dev/null; then
        break
    fi
    if ((tries == 300)) || ! kill -0 "$app" 2>/dev/null; then
        echo "screenshot.sh: the window did not appear within 30 s" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ $mode == station ]]; then
    # One finished and one failed: two lines in the log, at most 60 s.
    for ((tries = 0; ; tries++)); do
        if [[ $({ wc -l <"$work/jobs.jsonl"; } 2>/dev/null || echo 0) -ge 2 ]]; then
            break
        fi
        if ((tries == 600)); then
            echo "screenshot.sh: the station did not finish two jobs within 60 s" >&2
            exit 1
        fi
        sleep 0.1
    done
fi
# The window is mapped; give the window manager and Qt a moment to paint
# the frame and the controls (nothing signals that painting is done).
sleep 1
"$build/ui/qt/tools/velmora-screen-grab" "$out"
INNER
)
mkdir -p "$(dirname "$out")"
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c "$inner" screenshot "$build" "$out" "$mode"
