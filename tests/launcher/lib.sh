# shellcheck disable=SC2034 # variables for the scripts that source this file
# Shared part of the launcher's system tests. Source it with BUILD_DIR and
# SOURCE_DIR as $1 and $2. The launcher is installed into a folder of drive C:
# together with a stand-in panel (LT_PANEL=fake, the default) or the real
# speed panel with a simulated drive (LT_PANEL=real).
set -u
# shellcheck source=../system/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"
vt_setup "$@"
LT_BUILD=$BUILD
LT_SRC=$SRC
LT_NATIVE=${3:-}
LT_DIST=$LT_BUILD/dist
LT_TOOLS=$LT_BUILD/tools
LT_PANEL=${LT_PANEL:-fake}
LT_OUT=$LT_BUILD/launcher-tests
mkdir -p "$LT_OUT"

# The notification area at the right end of the shell desktop's taskbar. The
# launcher's icon is found where the area changes when it comes; until then it
# is taken to be the rightmost one.
LT_ICON_X=1012
LT_ICON_Y=757
LT_TRAY_LEFT=$VT_TRAY_LEFT
LT_TRAY_TOP=$VT_TRAY_TOP

# lt_install NAME: C:\NAME\ holds Velotray.exe, Velotray.kor and the panel.
lt_install() {
    LT_DIR_NAME=$1
    LT_DIR=$WINEPREFIX/drive_c/$1
    LT_DIR_WIN="C:\\$1\\"
    rm -rf "$LT_DIR"
    mkdir -p "$LT_DIR"
    cp "$LT_DIST/Velotray.exe" "$LT_DIST/Velotray.kor" "$LT_DIR/"
    if [ "$LT_PANEL" = real ]; then
        cp "$LT_DIST/TrelvixVelotune.exe" "$LT_DIR/"
    else
        cp "$LT_TOOLS/launcher_fakepanel.exe" "$LT_DIR/TrelvixVelotune.exe"
    fi
    LT_LOG=$LT_DIR/fakepanel.log
    : >"$LT_LOG"
}

# lt_registry LINE...: applies .reg lines (REGEDIT4 syntax) with one Wine start.
lt_registry() {
    local file=$LT_OUT/settings.reg
    { echo REGEDIT4; echo; printf '%s\n' "$@"; } >"$file"
    wine regedit /S "Z:${file//\//\\}" >/dev/null 2>&1
}
# The keys in .reg file syntax.
LT_RUN_KEY=HKEY_LOCAL_MACHINE${VT_RUN_KEY#HKLM}
LT_PRODUCT_KEY=HKEY_LOCAL_MACHINE${VT_SETTINGS_KEY#HKLM}
LT_VENDOR_KEY=${LT_PRODUCT_KEY%\\*}

# The Run entry naming the installed launcher (quoted, with "/autorun").
lt_run_entry_line() {
    local win=${LT_DIR_WIN//\\/\\\\}
    printf '"%s"="\\"%sVelotray.exe\\" /autorun"' "$VT_RUN_VALUE" "$win"
}

# Prints the stored "autorun" as TYPE VALUE (e.g. "REG_DWORD 0x1"), or "none".
lt_autorun_value() {
    wine reg query "$VT_SETTINGS_KEY" /v "$VT_AUTORUN_VALUE" 2>/dev/null | tr -d '\r' |
        awk -v n="$VT_AUTORUN_VALUE" '$1 == n { print $2, $3; found = 1 } END { if (!found) print "none" }'
}

# lt_start [ARGS...]: starts the installed launcher (or $LT_EXE) in the background,
# from $LT_CWD (default: the installation folder), under the locale $LT_LOCALE if
# set; LT_LAUNCHER_PID is the wine process.
lt_start() {
    local cwd=${LT_CWD:-$LT_DIR}
    (cd "$cwd" && exec env ${LT_LOCALE:+LC_ALL=$LT_LOCALE} wine "${LT_EXE:-$LT_DIR/Velotray.exe}" "$@" \
        >/dev/null 2>&1) &
    LT_LAUNCHER_PID=$!
}

# lt_run_to_end [ARGS...]: runs the launcher in the foreground; prints its exit
# code. A launcher that does not end within 20 s is ended: exit code 124.
lt_run_to_end() {
    local cwd=${LT_CWD:-$LT_DIR} rc
    (cd "$cwd" && exec timeout -k 5 20 env ${LT_LOCALE:+LC_ALL=$LT_LOCALE} \
        wine "${LT_EXE:-$LT_DIR/Velotray.exe}" "$@" >/dev/null 2>&1)
    rc=$?
    echo "$rc"
}

lt_wait_launcher() { probe wait-window "$VT_LAUNCHER_TITLE" - "${1:-20000}"; }
lt_launcher_gone() { probe wait-gone "$VT_LAUNCHER_TITLE" - "${1:-10000}"; }
lt_wait_panel() { probe wait-visible "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" "${1:-20000}"; }
lt_panel_gone() { probe wait-gone "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" "${1:-10000}"; }

# Lines of the stand-in panel's log matching an extended regular expression.
lt_log_count() { grep -c -E "$1" "$LT_LOG" 2>/dev/null || true; }
lt_wait_log() { # lt_wait_log ERE [COUNT]
    local i
    for i in $(seq 1 60); do
        [ "$(lt_log_count "$1")" -ge "${2:-1}" ] && return 0
        sleep 0.25
    done
    return 1
}

lt_wait_log_in() { # lt_wait_log_in FOLDER ERE [COUNT]: the log of a stand-in in FOLDER
    local LT_LOG=$1/fakepanel.log
    lt_wait_log "$2" "${3:-1}"
}

# Screenshots.
lt_shot() { vt_shot "$1"; }
lt_tray() { vt_tray "$1"; } # lt_tray FILE: the notification area's strip
lt_differ() { ! vt_same_image "$1" "$2"; }
# lt_wait_tray_unlike REF: waits until the notification area changes from REF
# (an icon came); the icon is then where the pictures differ (LT_ICON_X/Y).
lt_wait_tray_unlike() {
    local i cur=$LT_OUT/tray-now.png box w h x y
    for i in $(seq 1 40); do
        lt_tray "$cur"
        if ! vt_same_image "$cur" "$1"; then
            sleep 0.3
            lt_tray "$cur"
            box=$(convert "$1" "$cur" -compose difference -composite -colorspace Gray \
                -threshold 0 -format '%@' info: 2>/dev/null)
            if [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]]; then
                w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
                LT_ICON_X=$((LT_TRAY_LEFT + x + w / 2))
                LT_ICON_Y=$((LT_TRAY_TOP + y + h / 2))
            fi
            return 0
        fi
        sleep 0.25
    done
    return 1
}

# Visible popup menus, top of the z-order first: LT_MENU_LIST holds one
# "LEFT TOP RIGHT BOTTOM" line each, LT_MENU_COUNT their number. (The probe
# lives in this shell: never ask it from a subshell.)
lt_menus() {
    probe toplevel
    LT_MENU_LIST=$(printf '%s' "$PROBE_OUT" | awk -F'\t' '$3 == "class=#32768" && $5 == "visible=1" {
        sub("rect=", "", $6); gsub(",", " ", $6); print $6 }')
    LT_MENU_COUNT=0
    [ -n "$LT_MENU_LIST" ] && LT_MENU_COUNT=$(printf '%s\n' "$LT_MENU_LIST" | wc -l)
    return 0
}
lt_wait_menus() { # lt_wait_menus N: waits until N popup menus show
    local i
    for i in $(seq 1 40); do
        lt_menus
        [ "$LT_MENU_COUNT" -ge "$1" ] && return 0
        sleep 0.25
    done
    return 1
}
lt_no_menus() {
    local i
    for i in $(seq 1 40); do
        lt_menus
        [ "$LT_MENU_COUNT" -eq 0 ] && return 0
        sleep 0.25
    done
    return 1
}
lt_menu_count_is() { lt_menus; [ "$LT_MENU_COUNT" -eq "$1" ]; }

# Right-click on the icon, as a user would; then the mouse leaves the menu.
# LT_MAIN is the menu's rectangle "L T R B".
lt_open_menu() {
    lt_no_menus || return 1
    xdotool mousemove "$LT_ICON_X" "$LT_ICON_Y" click 3
    lt_wait_menus 1 || return 1
    LT_MAIN=$(printf '%s\n' "$LT_MENU_LIST" | head -n 1)
    xdotool mousemove 400 300
    sleep 0.3
}
# A menu has a 3-pixel border around rows of equal height; LT_ROWS is the
# number of rows of the menu a function is given (4 for the main menu).
LT_ROWS=4
lt_row_h() { echo $((($2 - $1 - 6) / LT_ROWS)); } # lt_row_h TOP BOTTOM
lt_row_y() { local h; h=$(lt_row_h "$2" "$3"); echo $(($2 + 3 + h * $1 + h / 2)); } # ROW TOP BOTTOM
lt_row_x() { echo $((($1 + $3) / 2)); }             # lt_row_x L T R B
lt_click_row() { # lt_click_row "L T R B" ROW
    # shellcheck disable=SC2086 # "L T R B" into four words
    set -- $1 "$2"
    xdotool mousemove "$(lt_row_x "$1" "$2" "$3")" "$(lt_row_y "$5" "$2" "$4")" click 1
}
# Hover over "Option" (row 1) and wait for its submenu; LT_SUB is its rectangle.
lt_open_option() {
    # shellcheck disable=SC2086 # "L T R B" into four words
    set -- $LT_MAIN
    xdotool mousemove "$(lt_row_x "$1" "$2" "$3")" "$(lt_row_y 1 "$2" "$4")"
    lt_wait_menus 2 || return 1
    LT_SUB=$(printf '%s\n' "$LT_MENU_LIST" | grep -v -x -F "$LT_MAIN" | head -n 1)
    sleep 0.3
}
lt_close_menus() { # a click on an empty spot of the desktop, as a user would
    xdotool mousemove 900 150 click 1
    lt_no_menus && return 0
    xdotool key Escape Escape
    lt_no_menus
}

# Dark pixels (black text; grey text is lighter) of a menu row, in its text
# part or in its check-mark margin.
lt_black_in() { # lt_black_in IMAGE W H X Y
    convert "$1" -crop "${2}x${3}+${4}+${5}" +repage -colorspace Gray -threshold 35% \
        -format '%[fx:int(w*h*(1-mean)+0.5)]' info:
}
lt_row_text_black() { # lt_row_text_black IMAGE "L T R B" ROW
    local img=$1 row=$3 h
    # shellcheck disable=SC2086 # "L T R B" into four words
    set -- $2
    h=$(lt_row_h "$2" "$4")
    lt_black_in "$img" $(($3 - $1 - 40)) $((h - 2)) $(($1 + 20)) $(($2 + 4 + h * row))
}
lt_row_check_black() {
    local img=$1 row=$3 h
    # shellcheck disable=SC2086 # "L T R B" into four words
    set -- $2
    h=$(lt_row_h "$2" "$4")
    lt_black_in "$img" 14 $((h - 2)) $(($1 + 4)) $(($2 + 4 + h * row))
}

# lt_crop_menus FILE: a screenshot of the area holding the open menus.
lt_crop_menus() {
    local whole=$LT_OUT/whole.png
    vt_shot "$whole"
    convert "$whole" -crop 260x160+764+610 +repage "$1"
}

# Ends whatever the test left running: panel and launcher windows, the probe.
lt_end() {
    lt_close_menus >/dev/null 2>&1
    probe send "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" 16 0 0 >/dev/null 2>&1
    probe send "$VT_LAUNCHER_TITLE" - 16 0 0 >/dev/null 2>&1
    lt_panel_gone 5000 >/dev/null
    lt_launcher_gone 5000 >/dev/null
}
lt_finish() {
    lt_end
    probe_stop
    vt_end
}

# The tests with the real speed panel and a simulated drive: LT_PANEL=real and the
# simulated drives under LT_OUT; fails the test at once when either is not built.
lt_use_real_panel() {
    LT_PANEL=real
    if [ ! -f "$LT_DIST/TrelvixVelotune.exe" ] || [ ! -f "$LT_NATIVE/sim/libvtsim_sgio.so" ]; then
        echo "FAIL: the speed panel or the simulated drive is not built"
        exit 1
    fi
    source "$LT_SRC/tests/sim/sim.sh"
    VT_SIM_DIR=$LT_OUT/simdrives
    vt_sim_init "$LT_NATIVE"
}
