#!/usr/bin/env bash
# The tray icon component inside the running speed panel: its hidden message
# window exists and agrees to the end of the session, and after Button10 and
# SC_MINIMIZE have hidden the panel, a left double click on the (never placed)
# icon, delivered to that window as the shell would, brings the panel back with
# its drive list rebuilt once.
# shellcheck source=../panel/lib.sh
source "$(cd "$(dirname "$0")/../panel" && pwd)/lib.sh"
TEST_NAME=panel_tray

vt_sim_drive t1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 \
    >/dev/null
vt_sim_cdrom d t1
vt_sim_no_cdrom e
probe_start "$BUILD" || exit 1
trap 'cleanup_panel; listen_stop; probe_stop' EXIT
listen_start
vt_sim_preload

start_panel
check "the panel window appears" probe wait-visible "${MAIN[@]}" 30000
probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 20000 >/dev/null
check "one drive listed" eq "$(child_field pos=37,52 items)" "TRELVIX DVD-RW TV-1620  1.03   "

# --- the message window: the one utility window that answers WM_QUERYENDSESSION ---------
# The tray icon is made after the first paint, together with the rest of the
# window; once the panel has answered a message sent after that, it is there.
check "the rest of the window follows the first paint" wait_rest
probe alive "${MAIN[@]}" >/dev/null
probe toplevel
utils=$(printf '%s' "$PROBE_OUT" | grep $'\tclass=TPUtilWindow\t' | tr '\t' '\n' |
    sed -n 's/^hwnd=//p')
TRAY=""
agreeing=0
for h in $utils; do
    probe send "$h" - 17 0 0 >/dev/null || continue
    if [ "$(probe_get result)" = 1 ]; then
        TRAY=$h
        agreeing=$((agreeing + 1))
    fi
done
echo "     utility windows: ${utils//$'\n'/ }, the icon's: ${TRAY:-none}"
check "exactly one utility window answers WM_QUERYENDSESSION with 1" eq "$agreeing" 1
probe info "$TRAY" -
check "the icon's window is hidden" eq "$(probe_get visible)" 0

# --- Button10, then SC_MINIMIZE hides the panel --------------------------------------------
B10=$(child_field pos=36,344 hwnd)
check "Button10 found" test -n "$B10"
probe send "$B10" - 0xF5 0 0 >/dev/null # BM_CLICK, handled when the call returns
probe post "${MAIN[@]}" 0x112 0xF020 0
check "SC_MINIMIZE hides the panel" probe wait-hidden "${MAIN[@]}" 20000
shot hidden

# --- a left double click on the icon brings it back ------------------------------------------
probe send "$TRAY" - 1025 0 515 >/dev/null
check "the double click shows the panel again" probe wait-visible "${MAIN[@]}" 20000
probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 20000 >/dev/null
check "the drive list is rebuilt, not doubled" eq "$(child_field pos=37,52 count)" 1
check "... with the drive's text" eq "$(child_field pos=37,52 items)" \
    "TRELVIX DVD-RW TV-1620  1.03   "
check "its first drive selected" eq "$(child_field pos=37,52 sel)" 0
check "the status line is back" eq "$(child_field pos=25,154 text)" \
    "Current Speed = High Speed Mode"
shot restored

probe post "${MAIN[@]}" 16
panel_wait
check "WM_CLOSE ends the panel with exit code 0" eq "$PANEL_RC" 0
vt_end
