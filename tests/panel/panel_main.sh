#!/usr/bin/env bash
# The speed panel with one two-mode drive on d:, checked as a user would see and
# use it: the window itself, its controls after start, Set in both modes, a second
# start, the About box by F1, Enter and message 1026, dragging, Button10 and
# SC_MINIMIZE, and the end by WM_CLOSE. One panel start for all of it.
source "$(dirname "$0")/lib.sh"

vt_sim_drive d1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 \
    >/dev/null
vt_sim_cdrom d d1
vt_sim_no_cdrom e
probe_start "$BUILD" || exit 1
trap 'cleanup_panel; listen_stop; probe_stop; vt_sim_no_cdrom d' EXIT
listen_start
vt_sim_preload

start_panel
check "the panel window appears" probe wait-visible "${MAIN[@]}" 30000
probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 20000 >/dev/null
shot start

# --- the window -------------------------------------------------------------------
probe info "${MAIN[@]}"
printf '%s
' "$PROBE_OUT" | sed 's/^/     /'
MAIN_HWND=$(probe_get hwnd)
check "class" eq "$(probe_get class)" "$VT_PANEL_CLASS"
check "title" eq "$(probe_get title)" "$VT_PANEL_TITLE"
check "size 320 x 200" eq "$(probe_get width)x$(probe_get height)" 320x200
check "client area = window" eq "$(probe_get client)" 320x200
check "a popup without caption" eq "$(probe_get popup)$(probe_get caption)" 10
ex=$(probe_get exstyle)
check "extended style WS_EX_APPWINDOW (+ topmost bit only)" eq "$(printf '0x%08X' $((ex & ~8)))" \
    0x00040000
check "topmost" eq "$(probe_get topmost)" 1
check "parent is the desktop, no owner" eq "$(probe_get parent_is_desktop) $(probe_get owner)" \
    "1 0x0"
check "no menu bar" eq "$(probe_get menu)" 0x0
check "centred on the screen" eq "$(probe_get x),$(probe_get y)" "352,284"
check "a rounded region" eq "$(probe_get region)" complex
check "region box 0,0,320,200" eq "$(probe_get region_box)" "0,0,320,200"
check "corners cut, edges and inner corners kept" eq "$(probe_get region_points)" \
    "0,0:0 319,0:0 0,199:0 319,199:0 1,1:0 318,198:0 4,4:1 315,4:1 4,195:1 315,195:1 160,0:1 0,100:1"
check "the launcher was told: 1027 once" eq "$(listen_count 1027)" 1
# The window icon is the program's icon; Wine answers no WM_GETICON across
# processes, so its resource is read instead: one 32 x 32 image with 256 colours.
probe exe-icons "$(vt_sim_winpath "$PANEL_DIR/$PANEL_EXE")"
printf '%s
' "$PROBE_OUT" | sed 's/^/     /'
check "the program icon: one 32 x 32 image with 256 colours" eq \
    "$(echo "$PROBE_OUT" | cut -f3-)" $'images=1\timage=32x32,8bpp,0colours'

probe taskbar
echo "$PROBE_OUT" | grep -v '^tray=' | sed 's/^/     /'
check "exactly one taskbar button, the panel's" \
    eq "$(echo "$PROBE_OUT" | grep -c $'^button\t')" 1
check "the button is the main window" eq \
    "$(echo "$PROBE_OUT" | grep $'^button\t' | cut -f2)" "hwnd=$MAIN_HWND"
check "by the Windows rule too, one button" eq \
    "$(echo "$PROBE_OUT" | grep $'^rule\t' | cut -f2)" "hwnd=$MAIN_HWND"

# --- the controls after start ----------------------------------------------------------
probe children "${MAIN[@]}"
echo "$PROBE_OUT" | cut -f3-11 | sed 's/^/     /'
check "drive list at 37,52, 245 wide" eq "$(child_field pos=37,52 class)" ComboBox
check "drive list text" eq "$(child_field pos=37,52 items)" "TRELVIX DVD-RW TV-1620  1.03   "
check "first drive selected" eq "$(child_field pos=37,52 sel)" 0
check "group Select Drive" eq "$(child_field pos=25,36 text)" "Select Drive"
check "group Select Speed" eq "$(child_field pos=25,82 text)" "Select Speed"
check "status line" eq "$(child_field pos=25,154 text)" "Current Speed = High Speed Mode"
check "status line size" eq "$(child_field pos=25,154 pos)" "25,154,269,16"
check "High Speed Mode checked" eq "$(child_field "text=High Speed Mode" checked)" 1
check "Silence Mode unchecked" eq "$(child_field "text=Silence Mode" checked)" 0
check "High Speed Mode at 33,98" eq "$(child_field "text=High Speed Mode" pos)" "33,98,125,17"
check "Silence Mode at 33,122" eq "$(child_field "text=Silence Mode" pos)" "33,122,101,17"
check "the rest of the window follows the first paint" wait_rest
check "Button10 exists below the window" eq "$(child_field pos=36,344 text)" Button10
check "Memo1 exists below the window" eq "$(child_field pos=188,284 text)" Memo1
check "hidden Speed Set group" eq "$(child_field "text=Speed Set" visible)" 0
check "probe: one status read, one INQUIRY" eq "$(vt_sim_count d1 'cdb=ff07b1') $(vt_sim_count d1 'cdb=12')" \
    "2 1"

# --- Set: Silence Mode, then High Speed Mode -----------------------------------------
panel_pos
vt_sim_log_clear d1
click_child "text=Silence Mode"
silence_checked() { [ "$(child_field "text=Silence Mode" checked)" = 1 ]; }
check "clicking Silence Mode checks it" until_ok 5 silence_checked
check "... and unchecks High Speed Mode" eq "$(child_field "text=High Speed Mode" checked)" 0
# Checking sends nothing: the log, cleared before the click, must hold exactly
# the two commands of the Set that follows it (the panel handles input in order).
click_control "$VT_PANEL_CLASS" SpeedButton1 # Set
check "Set shows Current Speed = Silence Mode" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = Silence Mode" 20000
vt_sim_log d1 | sed 's/^/     /'
check "checking sent nothing; Set sent FF 07 B0 00 00 00 00 00 00 00 00 AA, then a status read" \
    eq "$(vt_sim_log d1 | grep -o 'cdb=[0-9a-f]*' | tr '\n' ' ')" \
    "cdb=ff07b00000000000000000aa cdb=ff07b100000000000000ffaa "
check "the drive is now silent" eq "$(vt_sim_get d1 mode)" silence
shot silence

vt_sim_log_clear d1
click_child "text=High Speed Mode"
click_control "$VT_PANEL_CLASS" SpeedButton1 # Set
check "Set shows Current Speed = High Speed Mode" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 20000
check "Set sent FF 07 B0 00 00 00 FF 00 00 00 00 AA" eq \
    "$(vt_sim_log d1 | grep -o 'cdb=ff07b0[0-9a-f]*')" "cdb=ff07b0000000ff00000000aa"
check "the drive is fast again" eq "$(vt_sim_get d1 mode)" high

# --- a second start ---------------------------------------------------------------
probe setfg Shell_TrayWnd - >/dev/null
check "a second start ends with 0" eq "$(run_panel_again)" 0
probe foreground
check "... and brings the first window forward" eq "$(probe_get hwnd)" "$MAIN_HWND"
probe toplevel
check "... and makes no second window" eq "$(echo "$PROBE_OUT" | grep -c $'\tclass='"$VT_PANEL_CLASS"$'\t')" 1
check "... and says nothing to the launcher" eq "$(listen_count 1027)" 1

# about_centred CX CY: the About box is shown, 245 x 165, centred on CX,CY
about_centred() {
    probe wait-visible "${ABOUT[@]}" 20000 >/dev/null || return 1
    probe info "${ABOUT[@]}"
    local w h x y
    w=$(probe_get width) h=$(probe_get height) x=$(probe_get x) y=$(probe_get y)
    eq "${w}x$h" 245x165 && near $((x * 2 + w)) $(($1 * 2)) 2 && near $((y * 2 + h)) $(($2 * 2)) 2 &&
        eq "$(probe_get owner)" "$MAIN_HWND" && eq "$(probe_get topmost)" 1
}

# --- About by F1, closed by Esc ---------------------------------------------------------
panel_pos
key F1
check "F1 opens the About box centred over the panel" about_centred $((PX + PW / 2)) $((PY + PH / 2))
shot about
key Escape
check "Esc closes it" probe wait-hidden "${ABOUT[@]}" 20000
key shift+F1
check "Shift+F1 opens it too" about_centred $((PX + PW / 2)) $((PY + PH / 2))
key Return
check "Enter closes it" probe wait-hidden "${ABOUT[@]}" 20000

# --- About by Enter on an option button ----------------------------------------------
click_child "text=High Speed Mode"
probe focus "${MAIN[@]}"
check "the option button has the focus" eq "$(probe_get focus_title)" "High Speed Mode"
xdotool key Return
check "Enter on the option button opens the About box" about_centred $((PX + PW / 2)) $((PY + PH / 2))
xdotool key Escape
check "Esc closes it" probe wait-hidden "${ABOUT[@]}" 20000

# --- About by message 1026, as the launcher sends it ------------------------------------
send_log=$ART/$TEST_NAME-send1026.log
wine "$BUILD/tools/winprobe.exe" send "${MAIN[@]}" 1026 >"$send_log" 2>/dev/null &
send_pid=$!
check "1026 opens the About box centred over the panel" about_centred $((PX + PW / 2)) $((PY + PH / 2))
check "the sender waits while the box is open" kill -0 $send_pid
key Escape
check "Esc closes it" probe wait-hidden "${ABOUT[@]}" 20000
wait $send_pid
check "then the sender's call returns 0" eq "$(grep -E '^(ok|result)=' "$send_log" | tr '\n' ' ')" \
    "ok=1 result=0 "

# --- activating another program's window closes the About box ------------------------
key F1
check "F1 again" about_centred $((PX + PW / 2)) $((PY + PH / 2))
wine notepad >/dev/null 2>&1 &
notepad_pid=$!
probe wait-visible Notepad - 20000 >/dev/null
check "another program's window coming forward closes the box" \
    probe wait-hidden "${ABOUT[@]}" 20000
probe post Notepad - 16 >/dev/null
wait $notepad_pid
probe info "${MAIN[@]}"
check "the panel stays, enabled" eq "$(probe_get visible)$(probe_get enabled)" 11

# --- dragging the top strip ---------------------------------------------------------------
panel_pos
x0=$PX y0=$PY
xy_control "$VT_PANEL_CLASS" Image1 # the drag strip
read -r sx sy <<<"$XY"
xy_child "class=Static:0" # the status line, below the strip
read -r lx ly <<<"$XY"
# moved_from X Y: within 3 s the window leaves X,Y (the same wait for the drag that
# moves it and for the two that must not)
moved_from() {
    local n=0
    while [ "$n" -lt 30 ]; do
        panel_pos && [ "$PX,$PY" != "$1,$2" ] && return 0
        sleep 0.1
        n=$((n + 1))
    done
    return 1
}
drag "$sx" "$sy" $((sx - 60)) $((sy + 45))
check "a left drag on the top strip moves the window within 3 s" moved_from "$x0" "$y0"
panel_pos
check "... by the drag" eq "$PX,$PY" "$((x0 - 60)),$((y0 + 45))"
shot moved
x0=$PX y0=$PY
sx=$((sx - 60)) sy=$((sy + 45)) lx=$((lx - 60)) ly=$((ly + 45))
# A drag that must not move the window is followed by one on the strip that
# does, 10 px to the right: input is handled in order, so once the window has
# moved, the drag before has been handled, and the window stands where the
# second drag alone puts it.
barrier_drag() {
    drag "$sx" "$sy" $((sx + 10)) "$sy"
    moved_from "$x0" "$y0" && panel_pos
    x0=$((x0 + 10)) sx=$((sx + 10)) lx=$((lx + 10))
}
drag "$sx" "$sy" $((sx + 50)) $((sy + 30)) 3
barrier_drag
check "a right drag there does not move it" eq "$PX,$PY" "$x0,$y0"
drag "$lx" "$ly" $((lx + 50)) $((ly + 30))
barrier_drag
check "a left drag lower down does not" eq "$PX,$PY" "$x0,$y0"

# --- Tab reaches Button10 and Memo1; Space on Button10, then SC_MINIMIZE --------------
# focus_at: where the focused control of the panel sits (layout coordinates)
focus_at() { probe focus "${MAIN[@]}" && probe_get focus_pos | cut -d, -f1,2; }
# tab: one Tab, then until the focus has left FOCUS (at most 2 s); FOCUS is updated
FOCUS=$(focus_at)
focus_left() { [ "$(focus_at)" != "$1" ]; }
tab() {
    local before=$FOCUS
    key Tab
    until_ok 2 focus_left "$before"
    FOCUS=$(focus_at)
}
seen=""
for i in 1 2 3 4 5 6; do
    tab
    seen+="$FOCUS "
done
echo "     focus went through: $seen"
check "Tab reaches the drive list" grep -q "37,52 " <<<"$seen"
check "Tab reaches the checked option button" grep -q "33,98 " <<<"$seen"
check "Tab reaches Button10" grep -q "36,344 " <<<"$seen"
check "Tab reaches Memo1" grep -q "188,284 " <<<"$seen"
check "Tab skips the unchecked option button" eq "$(grep -c "33,122 " <<<"$seen")" 0
for i in 1 2 3 4 5 6; do
    [ "$FOCUS" = 36,344 ] && break
    tab
done
probe focus "${MAIN[@]}"
check "Button10 has the focus" eq "$(probe_get focus_title)" Button10
key space
# A Tab after the Space: once the focus has left Button10, the Space (and so
# the button's click) has been handled.
key Tab
check "a Tab after the Space on Button10 is handled" until_ok 5 focus_left 36,344
check "the panel stays visible after Button10" probe visible "${MAIN[@]}"
probe post "${MAIN[@]}" 0x112 0xF020 0
check "then SC_MINIMIZE hides the window (5 s)" probe wait-hidden "${MAIN[@]}" 5000
buttons() { probe taskbar && echo "$PROBE_OUT" | grep -c $'^button\t'; }
n=0
while [ "$(buttons)" != 0 ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
check "... and its taskbar button goes" eq "$(buttons)" 0
shot hidden

# --- hidden: a second start leaves it hidden; 1026 centres the box on the screen --------
check "a second start ends with 0" eq "$(run_panel_again)" 0
probe info "${MAIN[@]}"
check "... and the window stays hidden" eq "$(probe_get visible)" 0
wine "$BUILD/tools/winprobe.exe" send "${MAIN[@]}" 1026 >"$send_log" 2>/dev/null &
send_pid=$!
check "1026 while hidden: About box centred on the screen" about_centred 512 384
shot about-hidden
# Esc reaches the box only while it holds the keyboard focus
about_focused() {
    local n=0
    while [ "$n" -lt 50 ]; do
        probe focus "${ABOUT[@]}" && [ "$(probe_get focus_class)" = TFormAbout ] && return 0
        sleep 0.1
        n=$((n + 1))
    done
    echo "$PROBE_OUT" | grep -E '^(active|focus)_' | sed 's/^/     /'
    return 1
}
check "the box has the keyboard focus" about_focused
xdotool mousemove 512 400 sleep 0.2
x_focus_desktop
xdotool key Escape
if ! check "Esc closes it" probe wait-hidden "${ABOUT[@]}" 20000; then
    probe foreground
    printf '%s
' "$PROBE_OUT" | sed 's/^/     foreground: /'
    probe focus "${ABOUT[@]}"
    echo "$PROBE_OUT" | grep -E '^(active|focus|capture)_' | sed 's/^/     /'
    probe toplevel
    echo "$PROBE_OUT" | grep $'\tvisible=1\t' | sed 's/^/     /'
    shot esc-failed
    probe info "${ABOUT[@]}" # close it with its OK button, to go on
    click $(($(probe_get x) + 92 + 30)) $(($(probe_get y) + 135 + 10))
fi
wait $send_pid

# --- the end by WM_CLOSE ------------------------------------------------------------
probe post "${MAIN[@]}" 16
panel_wait
check "WM_CLOSE ends the panel with exit code 0" eq "$PANEL_RC" 0
check "the launcher heard no 1026 (only Close sends it)" eq "$(listen_count 1026)" 0
check "and no second 1027" eq "$(listen_count 1027)" 1
vt_end
