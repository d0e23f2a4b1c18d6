# The dialog part of scripts/test-windows.sh, sourced by it (its variables,
# Wine prefix and the count of scripts/wine-tally.sh): velmora.exe under Wine
# on a virtual X display (Xvfb), looked at and driven by velmora-probe.exe
# under the same Wine server.
# Every wait has a deadline and polls for its condition.

. ./scripts/wine-display.sh

echo "== windows: the dialog on a virtual display"
caption='Velmora (Ver1.0a)'
t=$'\t'
probe() { wine "$probe_exe" "$@" </dev/null | tr -d '\r'; }
# WANT WHAT LOG: waits for the emulator of the running case ($app) and fails
# the case when its exit status is not WANT (0 verified, 1 not verified).
emulator_exit_is() {
    local status=0
    wait "$app" || status=$?
    if [ "$status" -ne "$1" ]; then
        case_fail "$2: the emulator exited $status (want $1)" "$3"
        return 1
    fi
}
# FILE LINE...: true when the file holds every line exactly; names the others.
has_lines() {
    local file=$1 missing=0
    shift
    for line in "$@"; do
        if ! grep -qxF -- "$line" "$file"; then
            echo "     missing: ${line//$t/ | }"
            missing=1
        fi
    done
    return $missing
}

# A fresh Wine server started with the display, so that the desktop lives on it.
wineserver -k 2>/dev/null || true
wineserver -w
start_virtual_display "$run" "$run/xvfb.log"
wineserver -p 2>>"$run/wineserver.log"
# Wine's own services start with the first program and keep its output open:
# start them here, with none, so that no pipe of a later step stays open.
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

desk=$WINEPREFIX/drive_c/velmora
mkdir -p "$desk"

# 0. --version and an unknown option answer in a box of their own, with no
#    dialog and no file taken; the exit status tells them apart.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
for entry in "--version${t}0${t}velmora $version" \
    "--port=COM3${t}2${t}Unknown option --port=COM3.\\n\\nUsage: velmora.exe [--help] [--version] [FILE]"; do
    IFS=$t read -r option want_status want_text <<<"$entry"
    (wine "$gui" "$option" </dev/null >/dev/null 2>&1) &
    app=$!
    if probe wait velmora 60 && probe dump velmora >"$run/dialog-option.txt" &&
        grep -qF -- "${t}Static${t}1${t}1${t}$want_text" "$run/dialog-option.txt" &&
        ! grep -qF "$caption" "$run/dialog-option.txt"; then
        probe key velmora return
        app_status=0
        wait "$app" || app_status=$?
        if [ "$app_status" -eq "$want_status" ]; then
            case_ok "velmora.exe $option: a box \"${want_text%%\\n*}\", status $want_status"
        else
            case_fail "velmora.exe $option exited $app_status (want $want_status)"
        fi
    else
        case_fail "velmora.exe $option: no box with \"$want_text\"" "$run/dialog-option.txt"
        kill "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
done

# 1. The window, the about box, the picture, then a Code upgrade by Enter
#    against the emulated receiver on COM1, and Escape.
head -c 24000 /dev/urandom >"$desk/program.bin"
(cd "$desk" && timeout 300 "$emulator" "$wine_line" --link "$run/ttyV0" --expect program.bin \
    --expect-offset 10000 -- wine "$gui" program.bin) >"$run/dialog-code.log" 2>&1 &
app=$!
if probe wait "$caption" 60; then
    probe dump "$caption" >"$run/dialog-controls.txt"
    if has_lines "$run/dialog-controls.txt" "caption${t}Velmora (Ver1.0a)" \
        "1${t}Button${t}1${t}1${t}&Start" "2${t}Button${t}1${t}1${t}&Cancel" \
        "1003${t}ComboBox${t}1${t}1${t}COM1" "1008${t}Edit${t}1${t}1${t}C:\\velmora\\program.bin" \
        "1009${t}Button${t}1${t}1${t}S&elect File" "1010${t}msctls_progress32${t}1${t}1${t}" \
        "1011${t}msctls_progress32${t}1${t}1${t}" "-1${t}Button${t}1${t}1${t}Comm Setting" \
        "-1${t}Static${t}1${t}1${t}Port:" "1004${t}ComboBox${t}0${t}0${t}115200" \
        "1005${t}ComboBox${t}0${t}0${t}NONE" "1006${t}ComboBox${t}0${t}0${t}8" \
        "1007${t}ComboBox${t}0${t}0${t}1" "1012${t}ComboBox${t}0${t}1${t}Code" \
        "1013${t}Edit${t}0${t}0${t}1b0000" "1014${t}ComboBox${t}0${t}1${t}ZT4400VBOX" \
        "1015${t}ComboBox${t}0${t}1${t}DVB-S" "1016${t}Edit${t}0${t}0${t}32" \
        "1024${t}Edit${t}0${t}0${t}9750" "-1${t}Static${t}0${t}1${t}Max Sat No.:"; then
        case_ok "dialog window: caption, controls by id with their texts, hidden controls hidden"
    else
        case_fail "dialog window" "$run/dialog-controls.txt"
    fi

    # The Port list: COM1 to COM8, then the ports Wine maps beyond them. Wine
    # lists them without descriptions, so COM1, COM5 and COM6 are not repeated.
    probe items "$caption" 1003 >"$run/dialog-ports.txt"
    if [ "$(tr '\n' ' ' <"$run/dialog-ports.txt")" = \
        "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM11 " ]; then
        case_ok "dialog Port list under Wine: COM1 to COM8, then COM11"
    else
        case_fail "dialog Port list" "$run/dialog-ports.txt"
    fi

    # "Settings…" (0x0020) shows the hidden controls with their labels below
    # the dialog's own area, the window grown downward; again hides them.
    size_of() { sed -n "s/^size$t//p" "$1"; }
    probe sys "$caption" 0x0020
    sleep 0.5
    probe dump "$caption" >"$run/dialog-settings.txt"
    probe sys "$caption" 0x0020
    sleep 0.5
    probe dump "$caption" >"$run/dialog-settings-hidden.txt"
    if has_lines "$run/dialog-settings.txt" "1004${t}ComboBox${t}1${t}0${t}115200" \
        "1012${t}ComboBox${t}1${t}1${t}Code" "1024${t}Edit${t}1${t}0${t}9750" \
        "-1${t}Static${t}1${t}1${t}Max Sat No.:" &&
        [ "$(size_of "$run/dialog-settings.txt" | cut -f2)" -gt \
            "$(size_of "$run/dialog-controls.txt" | cut -f2)" ] &&
        [ "$(size_of "$run/dialog-settings-hidden.txt")" = "$(size_of "$run/dialog-controls.txt")" ] &&
        has_lines "$run/dialog-settings-hidden.txt" "1004${t}ComboBox${t}0${t}0${t}115200"; then
        case_ok "dialog Settings: the hidden controls shown below, the window grown; hidden again"
    else
        case_fail "dialog Settings" "$run/dialog-settings.txt"
    fi

    # The about item's command; any of 0x0010 to 0x001F opens the box.
    probe sys "$caption" 0x0013
    if probe owned "$caption" 30 >"$run/dialog-about.txt" &&
        has_lines "$run/dialog-about.txt" "caption${t}Velmora (Ver1.0a)" \
            "1${t}Button${t}1${t}1${t}"$'\xed\x99\x95\xec\x9d\xb8'; then
        case_ok "dialog about box from the system command 0x0013"
    else
        case_fail "dialog about box" "$run/dialog-about.txt"
    fi

    if probe shot "$caption" "$run/dialog.bmp" &&
        python3 scripts/bmp-to-png.py "$run/dialog.bmp" docs/screenshot-windows.png; then
        echo "     saved docs/screenshot-windows.png"
    else
        case_fail "dialog screenshot"
    fi

    probe key "$caption" return
    if probe owned "$caption" 120 >"$run/dialog-finish.txt" &&
        has_lines "$run/dialog-finish.txt" "caption${t}velmora" \
            "65535${t}Static${t}1${t}1${t}Data send finish !"; then
        case_ok "dialog Code upgrade by Enter: \"Data send finish !\", closed"
    else
        case_fail "dialog Code upgrade" "$run/dialog-finish.txt"
    fi
    probe key "$caption" escape
    probe gone "$caption" 30 || case_fail "dialog: Escape did not close the window"
else
    case_fail "dialog: no window \"$caption\" within 60 s" "$run/dialog-code.log"
fi
# 0: verified, and velmora.exe ended.
if emulator_exit_is 0 "dialog" "$run/dialog-code.log"; then
    case_ok "dialog: $(grep -a 'velmora-emulator: verified' "$run/dialog-code.log" |
        sed 's/velmora-emulator: //')"
fi

# 2. A channel list chosen with Select File, its name typed as the filter
#    shows only images; with upgrade type Code it is converted, then refused.
cp "$root/res/sample-channels.sdx" "$desk/channels.sdx"
rm -f "$desk/db1.bin"
(cd "$desk" && timeout 300 "$emulator" "$wine_line" --link "$run/ttyV0" -- wine "$gui") \
    >"$run/dialog-refusal.log" 2>&1 &
app=$!
if probe wait "$caption" 60; then
    probe click "$caption" 1009
    # 1148: the file name box of the open-file dialog, 1136: its filter.
    if probe owned "$caption" 60 1148 channels.sdx >"$run/dialog-open.txt" &&
        has_lines "$run/dialog-open.txt" "1136${t}ComboBox${t}1${t}1${t}BIN File(*.bin)" &&
        probe dump "$caption" >"$run/dialog-chosen.txt" &&
        has_lines "$run/dialog-chosen.txt" "1008${t}Edit${t}1${t}1${t}C:\\velmora\\channels.sdx"; then
        case_ok "dialog Select File: the filter, a typed .sdx name taken into the file box"
    else
        case_fail "dialog Select File" "$run/dialog-open.txt"
    fi
    # A port that appears while the dialog is open is listed when the list
    # drops down; it is not there, and the box says why and what to do.
    serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
    wine reg add "$serialcomm" /v VelmoraTest /d COM12 /f </dev/null >/dev/null 2>&1
    probe dropdown "$caption" 1003
    wine reg delete "$serialcomm" /v VelmoraTest /f </dev/null >/dev/null 2>&1
    if probe select "$caption" 1003 COM12 && probe key "$caption" return &&
        probe owned "$caption" 60 >"$run/dialog-missing.txt" &&
        grep -qF "Static${t}1${t}1${t}UART12 is already Opened Or not Exist!\n\nCOM12 does not exist. Plug the adapter in, or choose it in the Port list." \
            "$run/dialog-missing.txt"; then
        case_ok "dialog: a port plugged in later is listed; its failed open says why"
    else
        case_fail "dialog: the later port or its failure" "$run/dialog-missing.txt"
    fi
    probe select "$caption" 1003 COM1
    probe key "$caption" return
    if probe owned "$caption" 120 >"$run/dialog-refusal.txt" &&
        has_lines "$run/dialog-refusal.txt" "caption${t}velmora" \
            "65535${t}Static${t}1${t}1${t}\\n Please select to upgrade Database!!\\n" &&
        [ -s "$desk/db1.bin" ]; then
        case_ok "dialog channel list with type Code: db1.bin written, the refusal shown"
    else
        case_fail "dialog channel-list refusal" "$run/dialog-refusal.txt"
    fi
    probe sys "$caption" 0xF060  # the close box (SC_CLOSE)
    probe gone "$caption" 30 || case_fail "dialog: the close box did not close the window"
else
    case_fail "dialog: no window \"$caption\" within 60 s" "$run/dialog-refusal.log"
fi
# Nothing may have been sent: the emulator saw no transfer (1).
emulator_exit_is 1 "dialog refusal" "$run/dialog-refusal.log" || true

# 3. COM11, chosen in the list, is the emulator's port (COM1 is not): the
#    status line says the job waits for the receiver, which is switched on
#    after 3 s, takes the header and stays silent. Start is greyed. Escape
#    then asks first: No keeps the job, Yes cancels it, closes the port and
#    ends the program.
(cd "$desk" && timeout 300 "$emulator" "$wine_line" --link "$run/ttyV1" --power-on-after 3000 \
    --never-ack -- wine "$gui" program.bin) >"$run/dialog-close.log" 2>&1 &
app=$!
if probe wait "$caption" 60; then
    probe select "$caption" 1003 COM11
    probe key "$caption" return
    if probe shows "$caption" 1025 30 "Waiting for the receiver: switch it on or reset it" &&
        probe dump "$caption" >"$run/dialog-waiting.txt" &&
        has_lines "$run/dialog-waiting.txt" "1${t}Button${t}1${t}0${t}&Start" &&
        probe shows "$caption" 1025 60 "Sent 0 of 24,000 bytes"; then
        case_ok "dialog on COM11: Start greyed, waiting for the receiver, then the bytes sent"
    else
        case_fail "dialog status line" "$run/dialog-waiting.txt"
    fi
    probe key "$caption" escape
    if probe answer "$caption" 30 no >"$run/dialog-ask.txt" &&
        grep -qF "Static${t}1${t}1${t}An upgrade is running. Stop it and close?" "$run/dialog-ask.txt" &&
        ! probe gone "$caption" 1; then
        case_ok "dialog: Escape during a transfer asks first; No keeps it"
    else
        case_fail "dialog: the question before closing" "$run/dialog-ask.txt"
    fi
    probe key "$caption" escape
    if probe answer "$caption" 30 yes >/dev/null && probe gone "$caption" 30; then
        case_ok "dialog closed by Escape and Yes during a transfer: the job ended with it"
    else
        case_fail "dialog: Escape and Yes during a transfer did not close the window"
    fi
else
    case_fail "dialog: no window \"$caption\" within 60 s" "$run/dialog-close.log"
fi
emulator_exit_is 1 "dialog close" "$run/dialog-close.log" || true

# 4. The station window. "Station…" (0x0030) in the main dialog's system menu
#    opens it with the dialog's file; Escape closes it while idle.
station='Velmora Station (Ver1.0a)'
(cd "$desk" && timeout 300 "$emulator" "$wine_line" --link "$run/ttyV0" -- wine "$gui" program.bin) \
    >"$run/station-menu.log" 2>&1 &
app=$!
if probe wait "$caption" 60; then
    probe sys "$caption" 0x0030
    if probe wait "$station" 60 && probe dump "$station" >"$run/station-menu.txt" &&
        has_lines "$run/station-menu.txt" "caption${t}$station" \
            "1008${t}Edit${t}1${t}1${t}C:\\velmora\\program.bin" \
            "1${t}Button${t}1${t}1${t}&Start" "1036${t}Button${t}1${t}0${t}S&top" \
            "1012${t}ComboBox${t}1${t}1${t}Code" "1016${t}Edit${t}1${t}0${t}32" \
            "1037${t}Static${t}1${t}1${t}Tick the ports, then press Start."; then
        case_ok "dialog Station…: the station window with the dialog's file and settings"
    else
        case_fail "dialog Station…" "$run/station-menu.txt"
    fi
    probe key "$station" escape
    probe gone "$station" 30 || case_fail "station window: Escape did not close it"
    probe key "$caption" escape
    probe gone "$caption" 30 || case_fail "dialog: Escape after the station window"
else
    case_fail "dialog: no window \"$caption\" within 60 s" "$run/station-menu.log"
fi
emulator_exit_is 1 "station menu" "$run/station-menu.log" || true

# 5. velmora.exe --station FILE --port COM1 --port COM2 --once --start, as a
#    bench's shortcut starts it: both receivers verified, two lines in the log.
rm -f "$desk/station.jsonl"
(cd "$desk" && timeout 300 "$emulator" "$wine_line" --receivers 2 --link "$run/ttyV0" \
    --link "$run/ttyV2" --expect program.bin --expect-offset 10000 -- wine "$gui" --station \
    program.bin --port COM1 --port COM2 --once --start --log station.jsonl) \
    >"$run/station-run.log" 2>&1 &
app=$!
if probe wait "$station" 60 &&
    probe begins "$station" 1037 120 $'Finished 2 \xc2\xb7 Failed 0' &&
    probe dump "$station" >"$run/station-run.txt" &&
    has_lines "$run/station-run.txt" "1038${t}VelmoraStationTiles${t}1${t}1${t}COM1: Finished\\nCOM2: Finished" \
        "1${t}Button${t}1${t}1${t}&Start"; then
    lines=$(wc -l <"$desk/station.jsonl" 2>/dev/null || echo 0)
    finished=$(grep -c '"outcome":"finished"' "$desk/station.jsonl" 2>/dev/null || echo 0)
    if [ "$lines" = 2 ] && [ "$finished" = 2 ]; then
        case_ok "velmora.exe --station ... --once --start: both tiles finished, two lines in the log"
    else
        case_fail "station log: $lines lines, $finished finished (want 2 and 2)" "$desk/station.jsonl"
    fi
else
    case_fail "velmora.exe --station: the run did not finish" "$run/station-run.txt"
fi
probe key "$station" escape
probe gone "$station" 30 || case_fail "station window: Escape after the run did not close it"
if emulator_exit_is 0 "station run" "$run/station-run.log"; then
    case_ok "station: $(grep -a 'transfers verified' "$run/station-run.log" | sed 's/velmora-emulator: //')"
fi

# 6. The picture for the README: three receivers, the second on a slow line
#    (still sending), the third pulled after three blocks (failed); taken once
#    the first has finished and the third has failed. Closing asks first.
head -c 16000 /dev/urandom >"$desk/bench.bin"
(cd "$desk" && timeout 300 "$emulator" "$wine_line" --receivers 3 --link "$run/ttyV0" \
    --link "$run/ttyV2" --link "$run/ttyV1" --fault 2:throttle=2400 --fault 3:hangup-after=3 \
    -- wine "$gui" --station bench.bin --port COM1 --port COM2 --port COM11 --once --start \
    --log bench.jsonl) >"$run/station-shot.log" 2>&1 &
app=$!
if probe wait "$station" 60 &&
    probe begins "$station" 1037 120 $'Finished 1 \xc2\xb7 Failed 1' && sleep 1 &&
    probe shot "$station" "$run/station.bmp" &&
    python3 scripts/bmp-to-png.py "$run/station.bmp" docs/screenshot-station-windows.png; then
    echo "     saved docs/screenshot-station-windows.png"
else
    case_fail "station screenshot" "$run/station-shot.log"
fi
probe key "$station" escape
if probe answer "$station" 30 yes >"$run/station-ask.txt" &&
    grep -qF "Receivers are being upgraded. Stop every port and close?" "$run/station-ask.txt" &&
    probe gone "$station" 30; then
    case_ok "station window: closing during a transfer asks first; Yes stops every port"
else
    case_fail "station window: the question before closing" "$run/station-ask.txt"
fi
emulator_exit_is 1 "station picture" "$run/station-shot.log" || true
