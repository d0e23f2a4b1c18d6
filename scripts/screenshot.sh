#!/usr/bin/env bash
# Renders the main dialog of `velmora` in a virtual X display (Xvfb) with a
# window manager (openbox) for its frame and title, and saves the picture
# shown in the README.
#
#   scripts/screenshot.sh [OUT.png]        default: docs/screenshot.png
#
# Needs the Debian packages xvfb, xauth, openbox and xdotool, and a configured
# build folder (BUILD_DIR, default build/dev; `cmake --preset dev` makes it).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/dev}
out=${1:-$root/docs/screenshot.png}

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

cmake --build "$build" -j2 --target velmora velmora-screen-grab

# Inside the virtual display: window manager, dialog, wait for its window,
# grab, then end both by their process ids.
inner=$(cat <<'INNER'
set -euo pipefail
build=$1 out=$2
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
"$build/app/velmora" &
app=$!
trap 'kill "$app" "$wm" 2>/dev/null || true; rm -f "$ready"' EXIT
# Wait for the dialog's window, by its title, for at most 30 s.
for ((tries = 0; ; tries++)); do
    if xdotool search --onlyvisible --name '^Velmora \(Ver1\.0a\)$' >/dev/null; then
        break
    fi
    if ((tries == 300)) || ! kill -0 "$app" 2>/dev/null; then
        echo "screenshot.sh: the dialog did not appear within 30 s" >&2
        exit 1
    fi
    sleep 0.1
done
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
xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash -c "$inner" screenshot "$build" "$out"
