# shellcheck disable=SC2034 # variables for the scripts that source this file
# Shared part of the setup tests. Source it with the three arguments every
# system test gets: BUILD_DIR SOURCE_DIR NATIVE_DIR.
#
# Each test saves the machine's Run entry "Velotune" and the product key's
# "autorun" value first and puts them back at the end, so that tests of other
# areas sharing the Wine prefix find what they left.
set -u

# shellcheck source=../system/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"
vt_setup "$@"
IT_BUILD=$BUILD
IT_SOURCE=$SRC
IT_NATIVE=${3:-}

IT_RUN_KEY=$VT_RUN_KEY
IT_PRODUCT_KEY=$VT_SETTINGS_KEY
IT_VENDOR_KEY=${VT_SETTINGS_KEY%\\*}
IT_UNINST_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\TrelvixVelotune'
IT_DEFAULT_DIR='C:\Program Files\Trelvix Velotune'
IT_SHORTCUT="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Trelvix Velotune.lnk"
IT_LAUNCHER_WINDOW=$VT_LAUNCHER_TITLE
IT_PROBE=$IT_BUILD/tools/winprobe.exe
# it_probe CMD ARGS... [";" CMD ARGS...]: the window probe, its output through a
# file (Wine's helpers would hold a pipe open)
it_probe() {
    local f rc
    f=$(mktemp)
    wine "$IT_PROBE" "$@" </dev/null >"$f" 2>&1
    rc=$?
    [ "$rc" = 0 ] || tr -d '\r' <"$f" | sed 's/^/     probe: /'
    rm -f "$f"
    return "$rc"
}

IT_VERSION=$(sed -n 's/^#define[ \t]*VELOTUNE_FILE_VERSION_STR[ \t]*"\([^"]*\)".*/\1/p' \
    "$IT_SOURCE/resources/version.h")
IT_PUBLISHER=$(sed -n 's/^#define[ \t]*VELOTUNE_COMPANY_STR[ \t]*"\([^"]*\)".*/\1/p' \
    "$IT_SOURCE/resources/version.h")
IT_DIST=$IT_BUILD/dist
IT_SETUP=$IT_DIST/TrelvixVelotune-$IT_VERSION-setup.exe

it_case() { vt_section "$1"; }
# Unix path of a Windows path on drive C: of the prefix.
it_unix() {
    local p=${1#C:\\}
    echo "$WINEPREFIX/drive_c/${p//\\//}"
}

# it_reg_get KEY NAME: prints "TYPE<tab>DATA" of a value; fails when it is missing.
it_reg_get() {
    local out
    out=$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r') || return 1
    out=$(printf '%s\n' "$out" | awk -v n="$2" '
        { line = $0; sub(/^    /, "", line) }
        index(line, n "    ") == 1 {
            rest = substr(line, length(n) + 5)
            type = rest; sub(/    .*/, "", type)
            data = substr(rest, length(type) + 5)
            print type "\t" data; found = 1; exit
        }
        END { exit !found }') || return 1
    printf '%s\n' "$out"
}
it_key_exists() { wine reg query "$1" >/dev/null 2>&1; }

# Saved state of other areas' tests, put back by it_restore.
it_save() {
    IT_SAVED_RUN=$(it_reg_get "$IT_RUN_KEY" Velotune) || IT_SAVED_RUN=""
    IT_SAVED_AUTORUN=$(it_reg_get "$IT_PRODUCT_KEY" autorun) || IT_SAVED_AUTORUN=""
    trap it_restore EXIT
}
it_put_value() { # it_put_value KEY NAME "TYPE<tab>DATA"
    local type=${3%%$'\t'*} data=${3#*$'\t'}
    wine reg add "$1" /v "$2" /t "$type" /d "$data" /f >/dev/null 2>&1
}
it_restore() {
    it_release_desktop
    it_cleanup
    if [ -n "$IT_SIM_LETTER" ]; then
        vt_sim_no_cdrom "$IT_SIM_LETTER"
    fi
    if [ -n "$IT_SAVED_RUN" ]; then it_put_value "$IT_RUN_KEY" Velotune "$IT_SAVED_RUN"; fi
    if [ -n "$IT_SAVED_AUTORUN" ]; then
        it_put_value "$IT_PRODUCT_KEY" autorun "$IT_SAVED_AUTORUN"
    fi
}

# Processes of this prefix whose command line names one of the two programs in
# an installation folder (not the build's dist folder).
it_program_pids() {
    local pid cmd
    for pid in $(pgrep -f -i 'Velotray\.exe|TrelvixVelotune\.exe' 2>/dev/null); do
        [ "$pid" = "$$" ] && continue
        grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null || continue
        cmd=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || continue
        case $cmd in
        [Cc]:\\*) echo "$pid $cmd" ;;
        esac
    done
}
it_wait_no_programs() { # bounded wait until none of them runs
    local i
    for i in $(seq 1 100); do
        [ -z "$(it_program_pids)" ] && return 0
        sleep 0.1
    done
    return 1
}

# it_install [WINDOWS_FOLDER]: silent setup, optionally into a folder. /D= must
# reach the setup last and unquoted even when the folder holds blanks, which
# wine's own argument passing would quote: cmd passes the line as it stands.
it_install() {
    local setup
    setup=$(winepath -w "$IT_SETUP" 2>/dev/null) || return 1
    if [ $# -gt 0 ]; then
        wine cmd /c "$setup /S /D=$1"
    else
        wine cmd /c "$setup /S"
    fi
}

# Silent uninstall through the uninstall entry, as "Programs and Features" does
# it. The uninstaller hands over to a copy of itself and returns at once, so
# wait (bounded) until the entry is gone.
it_uninstall() {
    local quiet cmd i
    quiet=$(it_reg_get "$IT_UNINST_KEY" QuietUninstallString) || return 1
    cmd=${quiet#*$'\t'}
    # "<folder>\Uninstall.exe" /S
    local exe=${cmd#\"}
    exe=${exe%%\"*}
    # shellcheck disable=SC2086 # the arguments after the program, split as the shell would
    wine "$exe" ${cmd#\""$exe"\"} >/dev/null 2>&1
    for i in $(seq 1 120); do
        it_key_exists "$IT_UNINST_KEY" || return 0
        sleep 0.5
    done
    return 1
}

# Ends the two programs by their windows, as a user would.
it_end_programs() {
    if [ -f "$IT_PROBE" ]; then it_probe exit-launcher ";" close-panel >/dev/null 2>&1; fi
}

# it_end_job PID WHAT: once no program runs any more, the background job of a
# program has ended too; its exit code is checked. If a program is still
# running, it is ended first so the test does not hang.
it_end_job() {
    if check "no program left running" it_wait_no_programs; then
        wait "$1"
        check "$2 ended with exit code 0" eq $? 0
    else
        it_program_pids | sed 's/^/     still running: /'
        it_end_programs
    fi
}

# Leaves no installation, logon entry or product key behind, whatever state a
# failed test left.
it_cleanup() {
    it_end_programs
    if it_key_exists "$IT_UNINST_KEY"; then it_uninstall; fi
    wine reg delete "$IT_RUN_KEY" /v Velotune /f >/dev/null 2>&1
    wine reg delete "$IT_PRODUCT_KEY" /f >/dev/null 2>&1
    it_wait_no_programs
    return 0
}

it_require_build() {
    local f
    for f in "$IT_SETUP" "$IT_PROBE" "$IT_DIST/TrelvixVelotune.exe" "$IT_DIST/Velotray.exe" \
        "$IT_DIST/Velotray.kor" "$IT_DIST/velotune.exe"; do
        if [ ! -f "$f" ]; then
            echo "missing: $f"
            exit 1
        fi
    done
}

# Starts a Windows program of the installation in the background ($! is its job).
it_run_hidden() {
    wine "$1" >/dev/null 2>&1 &
}

# A simulated two-mode drive on d: for the speed panel, which otherwise reports
# that no drive is there and ends. it_restore takes the drive letter away again.
IT_SIM_LETTER=""
it_sim_drive() {
    source "$IT_SOURCE/tests/sim/sim.sh"
    vt_sim_init "$IT_NATIVE"
    if [ ! -f "$VT_SIM_LIB" ]; then
        echo "missing: $VT_SIM_LIB (native build)"
        exit 1
    fi
    vt_sim_drive setup1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" \
        revision=1.03 >/dev/null
    vt_sim_cdrom d setup1
    vt_sim_preload
    IT_SIM_LETTER=d
}

# Keeps the shell desktop up with a hidden window, so that the notification
# area can be compared before and after; waits (bounded) until it shows.
it_hold_desktop() {
    wine "$IT_PROBE" hold 600 >/dev/null 2>&1 &
    IT_HOLD_JOB=$!
    local i whole=$IT_BUILD/installer-tests/whole.png
    mkdir -p "$IT_BUILD/installer-tests"
    for i in $(seq 1 80); do
        vt_shot "$whole"
        [ "$(convert "$whole" -format '%[fx:mean>0]' info: 2>/dev/null)" = 1 ] && break
        sleep 0.25
    done
    # and until the notification area has settled: two equal pictures in a row
    local a=$IT_BUILD/installer-tests/tray-a.png b=$IT_BUILD/installer-tests/tray-b.png
    it_tray "$a"
    for i in $(seq 1 40); do
        sleep 0.25
        it_tray "$b"
        vt_same_image "$a" "$b" && return 0
        cp "$b" "$a"
    done
    return 1
}
it_release_desktop() {
    if [ -n "${IT_HOLD_JOB:-}" ]; then
        wine "$IT_PROBE" release >/dev/null 2>&1
        wait "$IT_HOLD_JOB" 2>/dev/null
        IT_HOLD_JOB=""
    fi
}

# The notification area's strip, as the shell desktop shows it.
it_tray() { vt_tray "$1"; } # it_tray FILE
it_wait_tray_unlike() { # bounded wait until the strip differs from FILE
    local i cur=$IT_BUILD/installer-tests/tray-now.png
    for i in $(seq 1 40); do
        it_tray "$cur"
        vt_same_image "$cur" "$1" || return 0
        sleep 0.25
    done
    return 1
}
