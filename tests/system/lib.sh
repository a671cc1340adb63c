# shellcheck disable=SC2034 # variables for the scripts that source this file
# The one harness of the system tests: the programs' shared names, and one way
# to declare a check, report it and end with the count of failed checks.
# Source it once; the area libraries (tests/panel, tests/launcher, ...) build on it.
#
#   check DESCRIPTION COMMAND...   runs COMMAND; its success is the check. Prints
#                                  "ok   - ..." or "FAIL - ..." and returns the result
#   vt_section NAME                a heading in the output
#   vt_end                         prints the summary and exits with the number of
#                                  failed checks (125 at most); nothing runs after it
#
# Helpers for COMMAND: eq HAVE WANT, near A B [TOL], not CMD..., is_num VALUE...,
# until_ok SECONDS CMD... (a bounded wait for a condition).

# The programs' shared names. The build may generate them from the programs'
# own header; then that file is the one place, otherwise this is.
vt_protocol() {
    local generated=${1:+$1/generated/protocol.sh}
    if [ -n "$generated" ] && [ -f "$generated" ]; then
        # shellcheck source=/dev/null
        source "$generated"
        return
    fi
    VT_PANEL_CLASS=TFormMain
    VT_PANEL_TITLE="Trelvix Velotune"
    VT_LAUNCHER_CLASS="Trelvix Velotune Launcher"
    VT_LAUNCHER_TITLE="Trelvix Velotune Launcher"
    VT_RUN_KEY='HKLM\SOFTWARE\MICROSOFT\WINDOWS\Currentversion\Run'
    VT_RUN_VALUE=Velotune
    VT_SETTINGS_KEY='HKLM\SOFTWARE\ZIRUVERORA\VELOTUNE'
    VT_AUTORUN_VALUE=autorun
}
vt_protocol "${VT_LIB_BUILD:-}"

VT_FAILS=0
VT_CHECKS=0
VT_TEST_NAME=${VT_TEST_NAME:-$(basename "$0" .sh)}

check() {
    local what=$1
    shift
    VT_CHECKS=$((VT_CHECKS + 1))
    if "$@"; then
        printf 'ok   - %s (%ss)\n' "$what" "$SECONDS"
        return 0
    fi
    printf 'FAIL - %s (%ss)\n' "$what" "$SECONDS"
    VT_FAILS=$((VT_FAILS + 1))
    return 1
}

vt_section() { printf -- '--- %s\n' "$1"; }

vt_end() {
    echo "$VT_TEST_NAME: $VT_FAILS of $VT_CHECKS checks failed"
    [ "$VT_CHECKS" -gt 0 ] || { echo "$VT_TEST_NAME: no check ran"; exit 1; }
    exit $((VT_FAILS > 125 ? 125 : VT_FAILS))
}

# eq HAVE WANT: string equality, telling both on failure
eq() {
    [ "$1" == "$2" ] && return 0
    echo "     have: [$1]"
    echo "     want: [$2]"
    return 1
}
# near A B [TOL]: integers within TOL (default 1)
near() {
    local d=$(($1 - $2))
    [ "${d#-}" -le "${3:-1}" ] && return 0
    echo "     have: $1, want: $2 (+-${3:-1})"
    return 1
}
# not CMD...: the command must fail
not() { ! "$@"; }
# is_num VALUE...: every value is a whole number (a failed measurement is none)
is_num() {
    local v
    for v in "$@"; do
        [[ $v =~ ^[0-9]+$ ]] || { echo "     not a number: [$v]"; return 1; }
    done
}
# until_ok SECONDS CMD...: polls CMD every 0.2 s until it succeeds, at most SECONDS
until_ok() {
    local end=$((SECONDS + $1))
    shift
    while ! "$@"; do
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.2
    done
}

# Real input. click X Y [BUTTON] [COUNT]: the pointer rests on X,Y, then the clicks.
click() {
    xdotool mousemove "$1" "$2" sleep 0.2 click --repeat "${4:-1}" --delay 80 "${3:-1}"
}

# Pictures. vt_same_image A B: the two pictures are equal, pixel for pixel.
vt_same_image() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }
# The notification area: a strip at the right end of the shell desktop's taskbar
# (1024 x 768). vt_tray FILE: a picture of it (vt_shot of tests/system/wineenv.sh).
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
