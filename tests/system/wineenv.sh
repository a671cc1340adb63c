# Shared Wine environment of the Windows-side tests, the benchmark and the run
# command. Source it, then call vt_init with a build folder.
#
#   vt_init DIR      sets WINEPREFIX=DIR/wineprefix, DISPLAY and friends
#   vt_up            Xvfb (unless a display is given), the prefix, a persistent wineserver
#   vt_down          ends the wineserver and the private Xvfb
#   vt_cdrom L FILE  drive letter L becomes a CD-ROM whose device is FILE
#   vt_no_cdrom L    removes such a drive letter
#   vt_restart_wine  restarts the wine server, so that drive letters are read anew
#   vt_shot FILE     screenshot of the whole X screen

vt_init() {
    VT_BUILD=$(cd "$1" && pwd)
    export WINEPREFIX=$VT_BUILD/wineprefix
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ -z "${VT_KEEP_DISPLAY:-}" ] && [ -s "$VT_BUILD/xvfb.display" ]; then
        DISPLAY=$(cat "$VT_BUILD/xvfb.display")
        export DISPLAY
    fi
}

vt_xvfb_alive() {
    [ -s "$VT_BUILD/xvfb.pid" ] && kill -0 "$(cat "$VT_BUILD/xvfb.pid")" 2>/dev/null
}

# The font the windows were laid out for: Wine's own Tahoma (package fonts-wine),
# which this Wine only uses from the prefix's Fonts folder.
VT_FONT_DIR=${VT_FONT_DIR:-/usr/share/wine/fonts}
vt_fonts() {
    local f dest=$WINEPREFIX/drive_c/windows/Fonts
    mkdir -p "$dest" || return 1
    for f in tahoma.ttf tahomabd.ttf; do
        if [ ! -f "$VT_FONT_DIR/$f" ]; then
            echo "vt_fonts: $VT_FONT_DIR/$f missing (package fonts-wine)" >&2
            return 1
        fi
        cmp -s "$VT_FONT_DIR/$f" "$dest/$f" || cp -f "$VT_FONT_DIR/$f" "$dest/$f" || return 1
    done
}

# Fails (non-zero) when any part does not come up: no display, no prefix, no
# fonts, or a Wine that cannot run a program in the prefix.
vt_up() {
    if [ -n "${VT_KEEP_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
        : # the user's own display
    elif ! vt_xvfb_alive; then
        local fifo=$VT_BUILD/xvfb.fd
        rm -f "$fifo"; mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
        echo $! >"$VT_BUILD/xvfb.pid"
        local n=""
        read -r -t 30 n <"$fifo"
        rm -f "$fifo"
        if [ -z "$n" ] || ! vt_xvfb_alive; then
            echo "vt_up: Xvfb did not start" >&2
            return 1
        fi
        echo ":$n" >"$VT_BUILD/xvfb.display"
        export DISPLAY=:$n
    else
        DISPLAY=$(cat "$VT_BUILD/xvfb.display")
        export DISPLAY
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        wineserver -w
        # One virtual desktop with a taskbar and a notification area for every program.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
        wineserver -w
    fi
    vt_fonts || return 1
    wineserver -p </dev/null >/dev/null 2>&1 || true
    # A crashing program ends with a report instead of waiting for a click on
    # Wine's crash dialog, so that a test fails at once rather than hanging.
    if ! grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" 2>/dev/null; then
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            </dev/null >/dev/null 2>&1
    fi
    # The proof that Wine works: a program of the prefix runs and reads its registry.
    if ! timeout 120 wine reg query 'HKCU\Software\Wine\Explorer' /v Desktop </dev/null 2>/dev/null |
        tr -d '\r' | grep -q 'Desktop.*shell'; then
        echo "vt_up: Wine does not run programs in $WINEPREFIX" >&2
        return 1
    fi
}

# Linux processes started for this prefix (the wine server, Wine's services, programs).
vt_prefix_pids() {
    local p
    for p in $(pgrep -f 'wine|\.exe' 2>/dev/null); do
        grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$p/environ" 2>/dev/null && echo "$p"
    done
}

# Fails when something of the environment is still running afterwards.
vt_down() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    if vt_xvfb_alive; then kill "$(cat "$VT_BUILD/xvfb.pid")" 2>/dev/null; fi
    local n=0
    while [ $n -lt 50 ] && { [ -n "$(vt_prefix_pids)" ] || vt_xvfb_alive; }; do
        sleep 0.2
        n=$((n + 1))
    done
    if vt_xvfb_alive; then
        echo "vt_down: Xvfb still running" >&2
        return 1
    fi
    rm -f "$VT_BUILD/xvfb.pid" "$VT_BUILD/xvfb.display"
    if [ -n "$(vt_prefix_pids)" ]; then
        echo "vt_down: still running: $(vt_prefix_pids | tr '\n' ' ')" >&2
        return 1
    fi
}

vt_restart_wine() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    wineserver -p </dev/null >/dev/null 2>&1 || true
}

vt_cdrom() {
    local letter=$1 file=$2
    mkdir -p "$WINEPREFIX/dosdevices" "$VT_BUILD/cdroot"
    ln -sfn "$VT_BUILD/cdroot" "$WINEPREFIX/dosdevices/$letter:"
    ln -sfn "$file" "$WINEPREFIX/dosdevices/$letter::"
    wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f >/dev/null 2>&1
}

vt_no_cdrom() {
    local letter=$1
    rm -f "$WINEPREFIX/dosdevices/$letter:" "$WINEPREFIX/dosdevices/$letter::"
    wine reg delete 'HKLM\Software\Wine\Drives' /v "$letter:" /f >/dev/null 2>&1
}

vt_shot() {
    import -display "$DISPLAY" -window root "$1" 2>/dev/null
}

# vt_crashed FILE: true when FILE holds Wine's report of an unhandled exception.
# Once its debugger has written that report, Wine ends the crashed program with
# exit status 0, so the report is what tells a crash from a clean end.
vt_crashed() {
    grep -q -e '^wine: Unhandled ' -e 'Unhandled exception: ' "$1"
}
