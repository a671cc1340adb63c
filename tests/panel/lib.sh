# shellcheck disable=SC2034 # variables for the scripts that source this file
# Shared steps of the speed panel's system tests. Source it with the test's
# arguments: BUILD_DIR SOURCE_DIR [NATIVE_DIR].
#
# The real TrelvixVelotune.exe runs under Wine with simulated drives (tests/sim);
# winprobe.exe reads its windows, xdotool gives it real mouse and key input, and a
# stand-in launcher window (winprobe listen) records what the panel sends it.

set -u
# shellcheck source=../system/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"
vt_setup "$@"

PANEL_DIR=$BUILD/dist
PANEL_EXE=TrelvixVelotune.exe
MAIN=("$VT_PANEL_CLASS" "$VT_PANEL_TITLE")
ABOUT=(TFormAbout "About Quillon")
LAUNCHER_TITLE=$VT_LAUNCHER_TITLE
ART=$BUILD/tests/panel/artifacts
mkdir -p "$ART"
PANEL_PID=""
LISTEN_PID=""
LISTEN_LOG=""
TEST_NAME=$(basename "$0" .sh)
VT_SHOT_PREFIX=$TEST_NAME- # shot NAME: $ART/TEST-NAME.png

# --- the panel -------------------------------------------------------------------

# start_panel: starts the speed panel in the background (PANEL_PID)
start_panel() {
    (cd "$PANEL_DIR" && exec wine "$PANEL_EXE" >/dev/null 2>&1) &
    PANEL_PID=$!
}

# panel_wait: waits for the panel process to end; its exit code lands in PANEL_RC
panel_wait() {
    wait "$PANEL_PID"
    PANEL_RC=$?
    PANEL_PID=""
}

# run_panel_again: a second start in the foreground; prints its exit code
run_panel_again() {
    (cd "$PANEL_DIR" && wine "$PANEL_EXE" >/dev/null 2>&1)
    echo $?
}

# listen_start: a stand-in launcher window, logging what it receives
listen_start() {
    LISTEN_LOG=$ART/$TEST_NAME-launcher.log
    : >"$LISTEN_LOG"
    wine "$BUILD/tools/winprobe.exe" listen "$LAUNCHER_TITLE" "$LAUNCHER_TITLE" 600000 \
        >"$LISTEN_LOG" 2>/dev/null &
    LISTEN_PID=$!
    probe wait-window "$LAUNCHER_TITLE" "$LAUNCHER_TITLE" 20000 >/dev/null
}
listen_stop() {
    [ -n "$LISTEN_PID" ] || return 0
    probe post "$LAUNCHER_TITLE" "$LAUNCHER_TITLE" 16 >/dev/null 2>&1 || # WM_CLOSE
        kill "$LISTEN_PID" 2>/dev/null
    wait "$LISTEN_PID" 2>/dev/null
    LISTEN_PID=""
}
# listen_count MSG: how many times the stand-in launcher received MSG
listen_count() { grep -c "^msg=$1 wp=0 lp=0" "$LISTEN_LOG"; }

# panel geometry, from the probe: PX PY (screen position of the window), PW PH (size)
panel_pos() {
    probe info "${MAIN[@]}" || return 1
    PX=$(probe_get x)
    PY=$(probe_get y)
    PW=$(probe_get width)
    PH=$(probe_get height)
}

# child_field SELECTOR KEY: one field of a child of the panel
child_field() {
    probe child "${MAIN[@]}" "$1" || return 1
    printf '%s' "$PROBE_OUT" | tr '\t' '\n' | sed -n "s/^$2=//p" | head -n 1
}

# wait_rest: the controls the first paint does not need (the speed list's group,
# Button10, Memo1) are made just after that paint; waits up to 10 s for Memo1,
# the last of them.
wait_rest() { until_ok 10 probe child "${MAIN[@]}" pos=188,284; }

# --- real input ---------------------------------------------------------------

# key KEY...: key strokes, with the pointer over the panel (no window manager:
# the keyboard follows the pointer)
key() {
    if panel_pos; then xdotool mousemove $((PX + PW / 2)) $((PY + PH / 2)) sleep 0.2; fi
    x_focus_desktop
    xdotool key --delay 80 "$@"
}
# The X keyboard focus can stay on the X window of a Wine window that has since
# been hidden, and then key strokes are lost; give it back to the Wine desktop,
# which hands them to the Windows foreground window.
x_focus_desktop() {
    local d
    d=$(xdotool search --name ' - Wine desktop$' 2>/dev/null | head -n 1)
    [ -n "$d" ] && xdotool windowfocus "$d" 2>/dev/null
    return 0
}
# drag X0 Y0 X1 Y1 [BUTTON]: press, move in steps, release
drag() {
    local b=${5:-1} i
    xdotool mousemove "$1" "$2" sleep 0.2 mousedown "$b"
    for i in 1 2 3 4 5 6 7 8; do
        xdotool sleep 0.05 mousemove $(($1 + ($3 - $1) * i / 8)) $(($2 + ($4 - $2) * i / 8))
    done
    xdotool sleep 0.2 mouseup "$b"
    sleep 0.2
}

# --- clean-up -----------------------------------------------------------------

# Ends whatever the test left running: message boxes, the About box, the panel.
cleanup_panel() {
    if [ -n "$PANEL_PID" ] && kill -0 "$PANEL_PID" 2>/dev/null; then
        probe click-button "${ABOUT[@]}" "text=&OK" >/dev/null 2>&1
        local i
        for i in 1 2 3; do
            probe messagebox-wait - MESSAGE 200 >/dev/null &&
                probe click-button "$(probe_get hwnd)" - "text=OK" >/dev/null
        done
        probe post "${MAIN[@]}" 16 >/dev/null 2>&1
        local n=0
        while kill -0 "$PANEL_PID" 2>/dev/null && [ $n -lt 100 ]; do
            sleep 0.1
            n=$((n + 1))
        done
        kill "$PANEL_PID" 2>/dev/null
        wait "$PANEL_PID" 2>/dev/null
    fi
    PANEL_PID=""
}
