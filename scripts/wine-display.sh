# Sourced by the Wine scripts: a virtual X display for the programs under Wine.
# start_virtual_display DIR LOG starts Xvfb, waits (at most 10 s) for it to
# name its display in DIR/display, exports DISPLAY and sets xvfb_pid.
start_virtual_display() {
    local dir=$1 log=$2
    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>>"$log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$dir/display" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(cat "$dir/display")"
}
