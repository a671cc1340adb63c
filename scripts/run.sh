#!/usr/bin/env bash
# Builds everything (installing what is missing), then runs the system under Wine
# with a simulated two-mode drive on d:, the way an installation would start it:
# the launcher Velotray.exe (or, while it is not built, the speed panel alone) in
# a Wine virtual desktop with a taskbar and a notification area.
#
#   ./scripts/run.sh [--shot-only] [--timeout SECONDS] [--no-build] [--xvfb]
#
#   --shot-only       leave the screenshot, then end everything at once
#   --timeout N       keep running N seconds, then end (default: until Ctrl-C)
#   --no-build        skip scripts/build.sh
#   --xvfb            use a private Xvfb even when DISPLAY is set
#
# Uses $DISPLAY when it is set, otherwise a private Xvfb. The Wine prefix lives in
# build/run (apart from the tests' prefix). The screenshot is build/run-screenshot.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}

shot_only=0 timeout="" build=1 xvfb=0
while [ $# -gt 0 ]; do
    case "$1" in
    --shot-only) shot_only=1 ;;
    --timeout) timeout=${2:?--timeout needs seconds}; shift ;;
    --no-build) build=0 ;;
    --xvfb) xvfb=1 ;;
    -h | --help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

[ "$build" = 1 ] && "$top/scripts/build.sh"

dist=$B/dist
panel=$dist/TrelvixVelotune.exe
launcher=$dist/Velotray.exe
if [ ! -f "$panel" ]; then
    echo "run.sh: $panel is missing; the build did not produce it" >&2
    exit 1
fi

R=$B/run
mkdir -p "$R"
if [ -n "${DISPLAY:-}" ] && [ "$xvfb" = 0 ]; then
    export VT_KEEP_DISPLAY=1
else
    unset VT_KEEP_DISPLAY
fi
# shellcheck source=../tests/system/wineenv.sh
source "$top/tests/system/wineenv.sh"
vt_init "$R"
# The programs' shared names (window class and title, registry keys).
# shellcheck source=../tests/system/lib.sh
VT_LIB_BUILD=$B source "$top/tests/system/lib.sh"

ended=0
finish() {
    [ "$ended" = 1 ] && return
    ended=1
    [ -n "${sleeper:-}" ] && kill "$sleeper" 2>/dev/null
    echo "Ending Wine (prefix $WINEPREFIX)"
    vt_down
}
trap finish EXIT
trap 'exit 130' INT TERM

echo "Starting Wine (prefix $WINEPREFIX, display ${VT_KEEP_DISPLAY:+yours }${DISPLAY:-private Xvfb})"
vt_up
echo "Display: $DISPLAY"

# The simulated drive: a two-mode drive in High Speed Mode on d:.
# shellcheck source=../tests/sim/sim.sh
source "$top/tests/sim/sim.sh"
vt_sim_init "$B/native"
if [ ! -f "$VT_SIM_LIB" ]; then
    echo "run.sh: $VT_SIM_LIB is missing; the native build did not produce it" >&2
    exit 1
fi
vt_sim_drive run kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_cdrom d run

# What the installation writes: the launcher's Run entry and the product key.
winpath() { local p; p=$(vt_sim_winpath "$1"); printf '%s' "${p//\\/\\\\}"; }
reg=$R/install.reg
{
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE%s]\r\n' "${VT_RUN_KEY#HKLM}"
    printf '"%s"="\\"%s\\" /autorun"\r\n\r\n' "$VT_RUN_VALUE" "$(winpath "$launcher")"
    printf '[HKEY_LOCAL_MACHINE%s]\r\n' "${VT_SETTINGS_KEY#HKLM}"
    printf '"%s"=dword:00000001\r\n' "$VT_AUTORUN_VALUE"
} >"$reg"
wine regedit /S "$(vt_sim_winpath "$reg")" >/dev/null 2>&1
vt_sim_preload

cd "$dist"
if [ -f "$launcher" ]; then
    echo "Starting the launcher: $launcher"
    wine "$launcher" >"$R/launcher.log" 2>&1 &
else
    echo "Starting the speed panel (no launcher built yet): $panel"
    wine "$panel" >"$R/panel.log" 2>&1 &
fi

# Wait for the panel's window, then give it a moment to paint.
probe=$B/tools/winprobe.exe
if [ -f "$probe" ]; then
    if wine "$probe" wait-visible "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" 30000 >/dev/null 2>&1; then
        echo "The speed panel is up."
    else
        echo "run.sh: the speed panel window did not appear within 30 s" >&2
    fi
    sleep 2
else
    sleep 6
fi

shot=$B/run-screenshot.png
win=""
if [ -n "${VT_KEEP_DISPLAY:-}" ] && command -v xdotool >/dev/null; then
    win=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -n 1 || true)
fi
if [ -n "$win" ]; then
    import -display "$DISPLAY" -window "$win" "$shot" 2>/dev/null || vt_shot "$shot"
else
    vt_shot "$shot"
fi
if [ -s "$shot" ]; then
    echo "Screenshot: $shot"
else
    echo "run.sh: no screenshot could be taken" >&2
fi

[ "$shot_only" = 1 ] && exit 0
# Sleep in the background and wait for it: "wait" gives way to Ctrl-C at once.
if [ -n "$timeout" ]; then
    echo "Running for $timeout s."
    sleep "$timeout" &
else
    echo "Running. Press Ctrl-C to end."
    sleep infinity &
fi
sleeper=$!
wait "$sleeper"
