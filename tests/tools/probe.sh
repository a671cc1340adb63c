# Bash side of winprobe.exe, for system tests (tests/system/lib.sh sources it).
#
#   probe_start BUILD_DIR   starts one winprobe in "serve" mode (one Wine start for
#                           all the questions of a test)
#   probe CMD ARGS...       asks it, or without one a winprobe started for this
#                           question ($PROBE_EXE); the answer lands in $PROBE_OUT,
#                           the exit code of the command is returned
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
        probe_once "$@"
        return
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

# The answer goes through a file, never a pipe: a Wine process that starts
# Wine's own helpers would hand them the pipe, and a reader would wait for them.
probe_once() {
    local f rc
    if [ ! -f "${PROBE_EXE:-}" ]; then
        PROBE_OUT=""
        echo "probe: winprobe.exe missing: ${PROBE_EXE:-}" >&2
        return 3
    fi
    f=$(mktemp)
    wine "$PROBE_EXE" "$@" </dev/null >"$f" 2>/dev/null
    rc=$?
    PROBE_OUT=$(tr -d '\r' <"$f")
    [ -n "$PROBE_OUT" ] && PROBE_OUT+=$'\n'
    rm -f "$f"
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
