# Shared steps of the acceptance scenarios, the fault suite and the benchmark.
# Source it, then call sys_init BUILD_DIR SOURCE_DIR NATIVE_DIR NAME.
#
#   sys_init B S N NAME     Wine environment of B, simulated drives, an install
#                           folder $APP (a copy of build/dist) and an artifact
#                           folder $ART = B/artifacts/NAME
#   sys_install [autorun]   the installation's registry values: the Run entry
#                           naming $APP\Velotray.exe and "autorun" (default 1;
#                           "none" leaves the product key out)
#   pr CMD ARGS...          winprobe.exe (output in $PR_OUT, also printed)
#   launcher [ARGS]         starts Velotray.exe from $APP in the background
#   panel_start             starts TrelvixVelotune.exe from $APP in the background
#   wait_panel / wait_launcher   until the window exists (30 s)
#   status_line             the panel's status line text
#   tray_count, tray_xy     icons in the notification area, centre of the first
#   tray_menu               right click on the icon; waits for the popup menu
#   menu_item_xy I          centre of item I (0 = first) of the open popup menu
#   menu_close              closes the open popup menu
#   menu_item_dark I        number of near-black pixels in item I (enabled text)
#   check, shot, click, click_child, click_control ...   tests/system (lib.sh,
#                           desktop.sh)
#   sys_end                 ends every program of this prefix, then vt_end
#
# shellcheck source=../system/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"
# The panel and launcher identities; the probe's registry commands take keys
# below HKLM without the prefix.
sys_names() {
    PANEL_CLASS=$VT_PANEL_CLASS
    PANEL_TITLE=$VT_PANEL_TITLE
    LAUNCHER_TITLE=$VT_LAUNCHER_TITLE
    RUN_KEY=${VT_RUN_KEY#HKLM\\}
    PRODUCT_KEY=${VT_SETTINGS_KEY#HKLM\\}
}

sys_init() {
    SYS_B=$(cd "$1" && pwd)
    SYS_S=$(cd "$2" && pwd)
    SYS_N=${3:-$SYS_B/native}
    SYS_NAME=$4
    # the names as this build wrote them
    vt_protocol "$SYS_B" || exit 1
    sys_names
    # SYS_ENV: the folder of the Wine environment (default: the build folder)
    SYS_ENV=${SYS_ENV:-$SYS_B}
    mkdir -p "$SYS_ENV"
    vt_init "$SYS_ENV"
    vt_up >/dev/null || { echo "the Wine environment did not come up"; exit 1; }
    # shellcheck source=../sim/sim.sh
    source "$SYS_S/tests/sim/sim.sh"
    VT_SIM_DIR=$SYS_ENV/simdrives-$SYS_NAME
    vt_sim_init "$SYS_N"
    VT_SIM_ASPI_DLL=$SYS_B/sim/WNASPI32.DLL
    ART=$SYS_ENV/artifacts/$SYS_NAME
    APP=$SYS_ENV/app-$SYS_NAME
    rm -rf "$ART" "$APP"
    mkdir -p "$ART" "$APP"
    cp -f "$SYS_B"/dist/TrelvixVelotune.exe "$SYS_B"/dist/Velotray.exe "$SYS_B"/dist/Velotray.kor "$APP"/
    APPW=$(vt_sim_winpath "$APP")
    PROBE=$SYS_B/tools/winprobe.exe
    PROBE_EXE=$PROBE
    vt_sim_preload
    sys_quiet_end
}

# Ends what runs in this prefix (the wine server keeps running).
sys_quiet_end() {
    pr0 send - "$PANEL_TITLE" 16 0 0 >/dev/null 2>&1
    pr0 send - "$LAUNCHER_TITLE" 16 0 0 >/dev/null 2>&1
    pr0 wait-gone - "$PANEL_TITLE" 5000 >/dev/null 2>&1
    pr0 wait-gone - "$LAUNCHER_TITLE" 5000 >/dev/null 2>&1
}

# The registry values an installation writes.
sys_install() {
    local autorun=${1:-1}
    pr0 regset "$RUN_KEY" Velotune 1 "s:\"$APPW\\Velotray.exe\" /autorun" >/dev/null
    if [ "$autorun" = none ]; then
        pr0 regdel "$PRODUCT_KEY" autorun >/dev/null
        pr0 regdel "$PRODUCT_KEY" >/dev/null
    else
        pr0 regset "$PRODUCT_KEY" autorun 4 "dword:$autorun" >/dev/null
    fi
}

# pr0 CMD ARGS...: the probe's answer on stdout
pr0() {
    probe "$@"
    local rc=$?
    printf '%s' "$PROBE_OUT"
    return "$rc"
}

pr() {
    PR_OUT=$(pr0 "$@")
    local rc=$?
    [ -n "$PR_OUT" ] && printf '%s\n' "$PR_OUT"
    return "$rc"
}

launcher() { (cd "$APP" && exec wine "$APP/Velotray.exe" "$@" </dev/null >>"$ART/wine.log" 2>&1 &); }
panel_start() { (cd "$APP" && exec wine "$APP/TrelvixVelotune.exe" </dev/null >>"$ART/wine.log" 2>&1 &); }

wait_panel() { pr0 wait-window "$PANEL_CLASS" "$PANEL_TITLE" "${1:-30000}" >/dev/null; }
wait_launcher() { pr0 wait-window - "$LAUNCHER_TITLE" "${1:-30000}" >/dev/null; }
wait_status() { pr0 wait-text "$PANEL_CLASS" "$PANEL_TITLE" "prefix=${1:-Current Speed = }" - "${2:-20000}" >/dev/null; }

# The text of the panel's status line (the child that starts with "Current Speed = "
# and is visible; the two caption labels lie outside the window and are hidden
# or clipped, so the visible static text is taken).
status_line() {
    pr0 children "$PANEL_CLASS" "$PANEL_TITLE" | awk -F'\t' '{
        text = ""; shown = 0
        for (i = 1; i <= NF; i++) {
            if ($i ~ /^text=/) text = substr($i, 6)
            if ($i == "visible=1") shown = 1
        }
        if (shown && text ~ /^Current Speed = /) print text
    }' | head -n 1
}

tray_count() { pr0 tray | sed -n 's/^trayicons: //p'; }
tray_xy() { pr0 tray | sed -n 's/^trayicon: //p' | head -n 1; }


# Opens the tray menu with a right click on the icon.
tray_menu() {
    local xy
    xy=$(tray_xy)
    [ -n "$xy" ] || return 1
    # shellcheck disable=SC2086
    click $xy 3
    until_ok 10 menu_open || return 1
    # away from the icon, so that its tooltip does not cover the menu
    xdotool mousemove 600 60
}
# menu_open: a popup menu is on screen; MENU_RECT is its place
menu_open() {
    MENU_RECT=$(pr0 menurect | sed -n 's/^menu: //p')
    [ -n "$MENU_RECT" ]
}
menu_gone() { ! pr0 menurect >/dev/null; }

# Closes an open popup menu: Escape, and if that did not reach it, a click on
# the empty desktop (which the menu takes for itself).
menu_close() {
    xdotool key Escape
    until_ok 2 menu_gone && return 0
    click 600 60
    until_ok 5 menu_gone
}

# Item geometry of the open popup menu: the launcher's menu has 4 items of
# equal height ("&Velotune", "&Option", "&About", "E&xit").
MENU_ITEMS=4
menu_item_xy() {
    local l t r b
    read -r l t r b <<<"$MENU_RECT"
    local h=$(((b - t - 6) / MENU_ITEMS))
    echo "$(((l + r) / 2)) $((t + 3 + h * $1 + h / 2))"
}

# Dark pixels (text drawn in the normal menu text colour) in item I: an enabled
# item's caption is near black, a greyed one is drawn in grey and white.
menu_item_dark() {
    local l t r b f=$ART/.menu.png
    read -r l t r b <<<"$MENU_RECT"
    local h=$(((b - t - 6) / MENU_ITEMS))
    vt_shot "$f"
    convert "$f" -crop "$((r - l - 8))x$((h - 2))+$((l + 4))+$((t + 4 + h * $1))" +repage -colorspace gray \
        -threshold 25% -negate -format '%[fx:round(mean*w*h)]' info: 2>/dev/null
}

# Coloured pixels in the tray cell at X Y (the taskbar itself is white and grey):
# an icon drawn there gives dozens, an empty cell none.
icon_pixels() {
    local f=$ART/.cell.png
    vt_shot "$f"
    convert "$f" -crop "16x16+$(($1 - 8))+$(($2 - 8))" +repage -colorspace HSL -channel G -separate +channel \
        -threshold 20% -format '%[fx:round(mean*w*h)]' info: 2>/dev/null
}


# cell_empty X Y / cell_drawn X Y: the tray cell at X Y holds no icon / an icon
# (the same measurement both ways; the notification area keeps a tooltip window
# per removed icon, so counting its windows does not tell)
cell_empty() { local n; n=$(icon_pixels "$1" "$2"); is_num "$n" && [ "$n" -lt 5 ]; }
cell_drawn() { local n; n=$(icon_pixels "$1" "$2"); is_num "$n" && [ "$n" -gt 20 ]; }

# Running programs of this prefix whose command line names PROGRAM (Linux pids).
prefix_pids() {
    local p
    for p in $(pgrep -f "$1" 2>/dev/null); do
        if tr "\0" "\n" 2>/dev/null <"/proc/$p/environ" | grep -qx "WINEPREFIX=$WINEPREFIX"; then echo "$p"; fi
    done
}



# Ends the test: nothing may run after it, its exit code is the failure count.
sys_end() {
    sys_quiet_end
    vt_end
}

# The panel's drive list entries, "|" between them.
drive_items() {
    pr0 child "$PANEL_CLASS" "$PANEL_TITLE" class=ComboBox:0 | tr '\t' '\n' | sed -n 's/^items=//p'
}

# A stand-in window (winprobe listen) that logs the messages it gets:
# stand_in_start CLASS TITLE, stand_in_count MSG, stand_in_wait MSG MS, stand_in_stop.
stand_in_start() {
    STAND_IN=("$1" "$2")
    STAND_IN_LOG=$ART/stand-in.log
    : >"$STAND_IN_LOG"
    wine "$PROBE" listen "$1" "$2" 300000 </dev/null >"$STAND_IN_LOG" 2>/dev/null &
    STAND_IN_PID=$!
    pr0 wait-window "$1" "$2" 20000 >/dev/null
}
stand_in_count() { grep -c "^msg=$1 " "$STAND_IN_LOG"; }
# until the stand-in got MSG once more than it had at the call of stand_in_mark
stand_in_mark() { STAND_IN_SEEN=$(stand_in_count "$1"); }
stand_in_wait() {
    local end=$((SECONDS + $2 / 1000 + 1))
    while [ "$SECONDS" -lt "$end" ]; do
        [ "$(stand_in_count "$1")" -gt "$STAND_IN_SEEN" ] && return 0
        sleep 0.1
    done
    return 1
}
stand_in_stop() {
    pr0 post "${STAND_IN[0]}" "${STAND_IN[1]}" 16 0 0 >/dev/null 2>&1 || kill "$STAND_IN_PID" 2>/dev/null
    wait "$STAND_IN_PID" 2>/dev/null
}
