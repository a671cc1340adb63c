# Bash side of winprobe.exe, for system tests. Source it after wineenv.sh and vt_init.
#
#   probe_start BUILD_DIR   starts one winprobe in "serve" mode (one Wine start for
#                           all the questions of a test)
#   probe CMD ARGS...       asks it; the answer lands in $PROBE_OUT, the exit code
#                           of the command is returned
#   probe_get KEY           value of KEY=... in $PROBE_OUT (first match)
#   probe_stop              ends it
#
# Arguments that hold blanks are quoted for the probe automatically.

probe_start() {
    PROBE_EXE=$1/tools/winprobe.exe
    [ -f "$PROBE_EXE" ] || { echo "winprobe.exe missing: $PROBE_EXE" >&2; return 1; }
    coproc PROBE { exec wine "$PROBE_EXE" serve 2>/dev/null; }
    PROBE_OUT=""
}

probe() {
    if [ -z "${PROBE[1]:-}" ]; then
        PROBE_OUT=""
        echo "probe: winprobe is not running" >&2
        return 3
    fi
    local line="" arg
    for arg in "$@"; do line+=" \"$arg\""; done
    echo "$line" >&"${PROBE[1]}"
    PROBE_OUT=""
    local l rc=3
    while IFS= read -r -t 180 l <&"${PROBE[0]}"; do
        l=${l%$'\r'}
        if [[ $l == "END rc="* ]]; then rc=${l#END rc=}; break; fi
        PROBE_OUT+=$l$'\n'
    done
    return "$rc"
}

probe_get() {
    printf '%s' "$PROBE_OUT" | sed -n "s/^$1=//p" | head -n 1
}

probe_stop() {
    local pid=${PROBE_PID:-}
    [ -n "${PROBE[1]:-}" ] && { echo quit >&"${PROBE[1]}"; } 2>/dev/null
    [ -n "$pid" ] && wait "$pid" 2>/dev/null
    return 0
}
