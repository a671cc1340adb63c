#!/usr/bin/env bash
# Where the panel comes from: a launcher started from another folder, with
# another current directory, starts the panel from its Run entry's folder; a
# folder name with a blank is taken whole (a "C:\Velo.exe" never runs); an
# overlong Run entry falls back to the bare name, found beside the launcher.
source "$(dirname "$0")/lib.sh"
probe_start "$LT_BUILD" || exit 1
lt_end
lt_install "Velo Tune"
C=$WINEPREFIX/drive_c
rm -rf "$C/Elsewhere" "$C/Cwd" "$C/Velo.exe" "$C/fakepanel.log"
mkdir -p "$C/Elsewhere" "$C/Cwd"
cp "$LT_DIST/Velotray.exe" "$C/Elsewhere/"
# Stand-in panels where no panel should be started from; each logs beside itself.
for decoy in "$C/Elsewhere/TrelvixVelotune.exe" "$C/Cwd/TrelvixVelotune.exe" "$C/Velo.exe"; do
    cp "$LT_TOOLS/launcher_fakepanel.exe" "$decoy"
done
: >"$C/Elsewhere/fakepanel.log"
: >"$C/Cwd/fakepanel.log"
: >"$C/fakepanel.log"
started_in() { grep -c '^start' "$1/fakepanel.log" 2>/dev/null || true; }
stop_all() {
    probe send "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" 16 0 0 >/dev/null
    lt_panel_gone
    probe send "$VT_LAUNCHER_TITLE" - 16 0 0 >/dev/null
    lt_launcher_gone
    wait "$LT_LAUNCHER_PID"
}
export LT_EXE=$C/Elsewhere/Velotray.exe LT_CWD=$C/Cwd

# ---- quoted Run entry
lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
    "[$LT_PRODUCT_KEY]" '"autorun"=dword:00000001'
lt_start
check "the panel starts" lt_wait_log '^sent 1027'
check "from the Run entry's folder" \
    grep -q -x -F 'start "C:\Velo Tune\TrelvixVelotune.exe"' "$LT_LOG"
stop_all

# ---- unquoted Run entry with a blank in the folder name
lt_registry "[$LT_RUN_KEY]" '"Velotune"="C:\\Velo Tune\\Velotray.exe /autorun"'
lt_start
check "the panel starts again" lt_wait_log '^sent 1027' 2
check "again from the Run entry's folder" \
    [ "$(grep -c -x -F 'start "C:\Velo Tune\TrelvixVelotune.exe"' "$LT_LOG")" -eq 2 ]
stop_all
check "C:\\Velo.exe never ran" [ "$(started_in "$C")" -eq 0 ]
check "nothing started from the launcher's own folder" [ "$(started_in "$C/Elsewhere")" -eq 0 ]
check "nothing started from the current directory" [ "$(started_in "$C/Cwd")" -eq 0 ]

# ---- overlong Run entry: bare names, found beside the launcher
long=$(printf 'C:\\\\%02000d\\\\Velotray.exe' 0)
lt_registry "[$LT_RUN_KEY]" "\"Velotune\"=\"$long\""
lt_start
check "with an overlong Run entry the launcher runs" lt_wait_launcher
check "and starts the panel beside itself" lt_wait_log_in "$C/Elsewhere" '^sent 1027'
check "not from the current directory" [ "$(started_in "$C/Cwd")" -eq 0 ]
stop_all
check "it ended with 0" [ "$?" = 0 ]

# ---- no Run entry at all: the same
lt_registry "[$LT_RUN_KEY]" '"Velotune"=-'
lt_start
check "without a Run entry the panel starts beside the launcher" \
    lt_wait_log_in "$C/Elsewhere" '^sent 1027' 2
stop_all

rm -rf "$C/Elsewhere" "$C/Cwd" "$C/Velo.exe" "$C/fakepanel.log"
lt_finish
