# shellcheck disable=SC2034 # variables for the scripts that source this file
# The one harness of the system tests: the programs' shared names, one way to
# declare a check, report it and end with the count of failed checks, and with
# wineenv.sh, the probe (tests/tools/probe.sh) and desktop.sh, what every test
# under Wine shares. Source it once; the area libraries (tests/panel,
# tests/launcher, ...) build on it and keep only what is theirs.
#
#   vt_setup BUILD SRC [NATIVE]    the common start of a test under Wine
#   vt_protocol BUILD              the names the build wrote (VT_PANEL_CLASS, ...)
#
#   check DESCRIPTION COMMAND...   runs COMMAND; its success is the check. Prints
#                                  "ok   - ..." or "FAIL - ..." and returns the result
#   vt_section NAME                a heading in the output
#   vt_end                         prints the summary and exits with the number of
#                                  failed checks (125 at most); nothing runs after it
#
# Helpers for COMMAND: eq HAVE WANT, near A B [TOL], not CMD..., is_num VALUE...,
# until_ok SECONDS CMD... (a bounded wait for a condition).

# The programs' shared names (VT_PANEL_CLASS, VT_RUN_KEY, ...), as the build
# writes them out of the programs' own header: vt_protocol BUILD_DIR. Sourcing
# this file with VT_LIB_BUILD set reads them at once.
vt_protocol() {
    local generated=$1/generated/protocol.sh
    if [ ! -f "$generated" ]; then
        echo "vt_protocol: $generated missing (the build writes it)" >&2
        return 1
    fi
    # The names the scripts use, all of them written by the build:
    declare -g VT_PANEL_CLASS VT_PANEL_TITLE VT_LAUNCHER_CLASS VT_LAUNCHER_TITLE VT_RUN_KEY \
        VT_RUN_VALUE VT_SETTINGS_KEY VT_AUTORUN_VALUE
    # shellcheck source=/dev/null
    source "$generated"
}
if [ -n "${VT_LIB_BUILD:-}" ]; then vt_protocol "$VT_LIB_BUILD" || exit 1; fi

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

# vt_setup BUILD_DIR SOURCE_DIR [NATIVE_DIR]: the common start of a system test
# under Wine: BUILD, SRC and NATIVE (default BUILD/native), the Wine environment
# of BUILD, the names the build wrote out, and the simulated drives (sim.sh;
# VT_SIM_DIR may be set first).
vt_setup() {
    BUILD=$(cd "$1" && pwd)
    SRC=$(cd "$2" && pwd)
    NATIVE=${3:-}
    [ -n "$NATIVE" ] || NATIVE=$BUILD/native
    vt_init "$BUILD"
    vt_protocol "$BUILD" || exit 1
    # shellcheck source=tests/sim/sim.sh
    source "$SRC/tests/sim/sim.sh"
    vt_sim_init "$NATIVE"
    PROBE_EXE=$BUILD/tools/winprobe.exe
}

VT_SYSTEM_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/system/wineenv.sh
source "$VT_SYSTEM_DIR/wineenv.sh"
# shellcheck source=tests/tools/probe.sh
source "$VT_SYSTEM_DIR/../tools/probe.sh"
# shellcheck source=tests/system/desktop.sh
source "$VT_SYSTEM_DIR/desktop.sh"
