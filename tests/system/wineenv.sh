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
        export DISPLAY=$(cat "$VT_BUILD/xvfb.display")
    fi
}

vt_xvfb_alive() {
    [ -s "$VT_BUILD/xvfb.pid" ] && kill -0 "$(cat "$VT_BUILD/xvfb.pid")" 2>/dev/null
}

vt_up() {
    if [ -n "${VT_KEEP_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
        : # the user's own display
    elif ! vt_xvfb_alive; then
        local fifo=$VT_BUILD/xvfb.fd
        rm -f "$fifo"; mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
        echo $! >"$VT_BUILD/xvfb.pid"
        local n; read -r n <"$fifo"; rm -f "$fifo"
        echo ":$n" >"$VT_BUILD/xvfb.display"
        export DISPLAY=:$n
    else
        export DISPLAY=$(cat "$VT_BUILD/xvfb.display")
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        wineserver -w
        # One virtual desktop with a taskbar and a notification area for every program.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
        wineserver -w
    fi
    wineserver -p </dev/null >/dev/null 2>&1 || true
}

vt_down() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    if vt_xvfb_alive; then kill "$(cat "$VT_BUILD/xvfb.pid")" 2>/dev/null; fi
    rm -f "$VT_BUILD/xvfb.pid" "$VT_BUILD/xvfb.display"
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
