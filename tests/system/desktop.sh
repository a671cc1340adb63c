# What the system tests do on the desktop, with real input and pictures. Sourced
# by lib.sh; the probe (tests/tools/probe.sh) answers the questions.
#
#   click X Y [BUTTON] [COUNT]    the pointer rests on X,Y, then the clicks
#   xy_child SELECTOR             a windowed control of the panel: its centre on
#                                 screen in XY ("X Y")
#   xy_control FORM NAME          a control the form draws itself (picture buttons,
#                                 the drag strip): its centre from the form's table
#   click_child SELECTOR [BUTTON] [COUNT] / click_control FORM NAME [BUTTON] [COUNT]
#   shot NAME                     $ART/$VT_SHOT_PREFIX$NAME.png, the whole screen,
#                                 and ...-panel.png around the panel when it shows
#   vt_same_image A B             the two pictures are equal, pixel for pixel
#   vt_tray FILE                  a picture of the notification area
#   vt_wait_tray_like REF         until the notification area looks like REF (40
#                                 looks, 0.25 s apart)

click() {
    xdotool mousemove "$1" "$2" sleep 0.2 click --repeat "${4:-1}" --delay 80 "${3:-1}"
}

xy_child() {
    probe screen-pos "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" "$1" || { echo "     no control $1"; return 1; }
    XY="$(probe_get x) $(probe_get y)"
}
xy_control() {
    probe control "$1" "$2" || { echo "     no control $2 of $1"; return 1; }
    XY="$(probe_get cx) $(probe_get cy)"
}
# shellcheck disable=SC2086
click_child() { xy_child "$1" && click $XY "${@:2}"; }
# shellcheck disable=SC2086
click_control() { xy_control "$1" "$2" && click $XY "${@:3}"; }

shot() {
    local f=$ART/${VT_SHOT_PREFIX:-}$1.png
    vt_shot "$f"
    if probe info "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" && [ "$(probe_get visible)" = 1 ]; then
        local x y
        x=$(probe_get x)
        y=$(probe_get y)
        convert "$f" -crop "360x240+$((x - 20))+$((y - 20))" +repage "${f%.png}-panel.png" \
            2>/dev/null
    fi
    echo "     screenshot: $f"
}

vt_same_image() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }
# The notification area: a strip at the right end of the shell desktop's taskbar
# (1024 x 768).
VT_TRAY_LEFT=904
VT_TRAY_TOP=748
VT_TRAY_GEOMETRY=120x20+$VT_TRAY_LEFT+$VT_TRAY_TOP
vt_tray() {
    local whole
    whole=$(mktemp --suffix=.png)
    vt_shot "$whole" && convert "$whole" -crop "$VT_TRAY_GEOMETRY" +repage "$1"
    local rc=$?
    rm -f "$whole"
    return "$rc"
}
vt_wait_tray_like() {
    local n cur rc=1
    cur=$(mktemp --suffix=.png)
    for ((n = 0; n < 40; n++)); do
        vt_tray "$cur"
        if vt_same_image "$cur" "$1"; then rc=0; break; fi
        sleep 0.25
    done
    rm -f "$cur"
    return "$rc"
}
