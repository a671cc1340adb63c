#!/usr/bin/env bash
# The launcher and the real speed panel (simulated two-mode drive on d:) where
# they meet across an elevation boundary, as far as Wine can show it:
#   - the Auto Run helper ("/setautorun:N") writes the value and ends at once,
#     with the write's status, handing nothing over to the running launcher;
#   - "Velotune" with the panel running starts no process: a shown panel comes
#     forward, one hidden by minimising is restored and runs discovery again;
#   - Exit with the panel's process stopped still ends the launcher, and the
#     panel's Close with the launcher stopped still ends the panel, bounded;
#   - two launchers, or two panels, started at the same moment leave one each.
source "$(dirname "$0")/lib.sh"
lt_use_real_panel
vt_sim_drive le1 kind=twomode mode=high >/dev/null
vt_sim_cdrom d le1
vt_sim_preload
probe_start "$LT_BUILD" || exit 1
lt_end
lt_install "Velotune Elevation"
lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
    "[$LT_PRODUCT_KEY]" '"autorun"=dword:00000001'
MAIN=("$VT_PANEL_CLASS" "$VT_PANEL_TITLE")
SETTINGS_KEY=${VT_SETTINGS_KEY#HKLM\\}

# Linux processes of this prefix that carry one of the programs.
prefix_pids() { # prefix_pids PROGRAM.exe
    local pid
    for pid in $(pgrep -f -i "$1" 2>/dev/null); do
        grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
    done
}
count_pids() { prefix_pids "$1" | wc -l; }
count_windows() { # count_windows CLASS: top-level windows of that class
    probe toplevel
    printf '%s\n' "$PROBE_OUT" | grep -c -F $'\t'"class=$1"$'\t'
}
wait_count() { # wait_count N COMMAND...: bounded wait until COMMAND prints N
    local want=$1
    shift
    for _ in $(seq 1 50); do
        [ "$("$@")" = "$want" ] && return 0
        sleep 0.2
    done
    return 1
}
status_reads() { vt_sim_count le1 'cdb=ff07b1'; }
end_all() {
    probe send "$VT_LAUNCHER_TITLE" - 0x111 103 0 >/dev/null 2>&1 # Exit
    probe send "${MAIN[@]}" 16 0 0 >/dev/null 2>&1
    lt_panel_gone 10000 >/dev/null
    lt_launcher_gone 10000 >/dev/null
    wait_count 0 count_pids 'Velotray\.exe|TrelvixVelotune\.exe'
}

# ---- the Auto Run helper, run for real beside a running launcher
lt_start /autorun
check "a launcher runs" lt_wait_launcher
launcher_pid=$(prefix_pids 'Velotray\.exe')
rc=$(lt_run_to_end /setautorun:0)
check "the helper ends with 0" [ "$rc" = 0 ]
check "and stored REG_DWORD 0" [ "$(lt_autorun_value)" = "REG_DWORD 0x0" ]
rc=$(lt_run_to_end /SETAUTORUN:1)
check "in any case: ends with 0" [ "$rc" = 0 ]
check "and stored REG_DWORD 1" [ "$(lt_autorun_value)" = "REG_DWORD 0x1" ]
check "the running launcher is the same one" [ "$(prefix_pids 'Velotray\.exe')" = "$launcher_pid" ]
check "no panel was started" [ "$(count_pids 'TrelvixVelotune\.exe')" = 0 ]
check "no second launcher window" [ "$(count_windows "$VT_LAUNCHER_CLASS")" = 1 ]
probe regdeny "$SETTINGS_KEY" >/dev/null
rc=$(lt_run_to_end /setautorun:0)
probe regallow "$SETTINGS_KEY" >/dev/null
check "a refused helper ends with ERROR_ACCESS_DENIED (5)" [ "$rc" = 5 ]
check "and the value stays" [ "$(lt_autorun_value)" = "REG_DWORD 0x1" ]
end_all

# ---- "Velotune" with the panel running starts no process
lt_start
check "the panel shows" lt_wait_panel
check "one panel process" wait_count 1 count_pids 'TrelvixVelotune\.exe'
panel_pid=$(prefix_pids 'TrelvixVelotune\.exe')
reads=$(status_reads)
probe send "$VT_LAUNCHER_TITLE" - 0x111 100 0 >/dev/null # the "Velotune" item
sleep 1
check "a shown panel: still the one process" [ "$(prefix_pids 'TrelvixVelotune\.exe')" = "$panel_pid" ]
check "and it stays shown" lt_wait_panel 2000
# Hidden by minimising (Button10, then SC_MINIMIZE), as the panel allows.
# Button10 is made just after the first paint.
check "Button10 is there" until_ok 10 probe child "${MAIN[@]}" text=Button10
probe click-button "${MAIN[@]}" text=Button10 >/dev/null
sleep 0.3
probe post "${MAIN[@]}" 0x112 0xF020 0 >/dev/null
check "the panel hides on SC_MINIMIZE" probe wait-hidden "${MAIN[@]}" 10000
reads=$(status_reads)
probe send "$VT_LAUNCHER_TITLE" - 0x111 100 0 >/dev/null
check "\"Velotune\" restores the hidden panel" lt_wait_panel 10000
more_reads() { [ "$(status_reads)" -gt "$reads" ] && echo yes; }
check "which runs discovery again" wait_count yes more_reads
check "with no new process" [ "$(prefix_pids 'TrelvixVelotune\.exe')" = "$panel_pid" ]
probe foreground
check "and takes the foreground" [ "$(probe_get class)" = "$VT_PANEL_CLASS" ]
lt_shot "$LT_OUT/elevation-restored.png"

# ---- Exit while the panel's process is stopped: bounded
check "the panel's process stops" kill -STOP "$panel_pid"
start=$(date +%s)
probe post "$VT_LAUNCHER_TITLE" - 0x111 103 0 >/dev/null # Exit, as the menu sends it
gone=no
lt_launcher_gone 10000 && gone=yes
check "the launcher ends within 10 s" [ "$gone" = yes ]
check "and its process is gone" wait_count 0 count_pids 'Velotray\.exe'
kill -CONT "$panel_pid" # a launcher that waits for the panel ends now, too
wait "$LT_LAUNCHER_PID"
rc=$?
check "with exit code 0, after $(($(date +%s) - start)) s" [ "$rc" = 0 ]
probe send "${MAIN[@]}" 16 0 0 >/dev/null
check "the released panel still closes" lt_panel_gone
end_all

# ---- the panel's Close with the launcher's process stopped: bounded too
lt_start /autorun
check "a launcher runs again" lt_wait_launcher
launcher_pid=$(prefix_pids 'Velotray\.exe')
(cd "$LT_DIR" && exec wine TrelvixVelotune.exe >/dev/null 2>&1) &
check "a panel runs" lt_wait_panel
check "the launcher's process stops" kill -STOP "$launcher_pid"
probe info "${MAIN[@]}" >/dev/null
xdotool mousemove $(($(probe_get x) + 214 + 34)) $(($(probe_get y) + 120 + 10)) click 1 # "Close"
check "the panel's Close ends it within 10 s all the same" lt_panel_gone 10000
kill -CONT "$launcher_pid"
end_all

# ---- two at once, twenty times each
# What a failed round left running is ended, so that the next round starts
# from nothing.
end_leftovers() {
    end_all && return 0
    probe send "${MAIN[@]}" 16 0 0 >/dev/null 2>&1
    probe send "$VT_LAUNCHER_TITLE" - 16 0 0 >/dev/null 2>&1
    wait_count 0 count_pids 'Velotray\.exe|TrelvixVelotune\.exe' && return 1
    local pid
    for pid in $(prefix_pids 'Velotray\.exe|TrelvixVelotune\.exe'); do kill "$pid"; done
    return 1
}
launcher_twice() {
    (cd "$LT_DIR" && exec wine Velotray.exe /autorun >/dev/null 2>&1) &
    local a=$!
    (cd "$LT_DIR" && exec wine Velotray.exe /autorun >/dev/null 2>&1) &
    local b=$!
    local ok=yes
    lt_wait_launcher 20000 >/dev/null || ok=no
    # One ends by itself; the other stays with its window, and the panel the
    # hand-over opened may still be starting. Exit then ends them both: the
    # launcher's Exit closes a panel on its way up too, and nothing is left.
    wait_count 1 count_pids 'Velotray\.exe' || ok=no
    [ "$(count_windows "$VT_LAUNCHER_CLASS")" = 1 ] || ok=no
    end_leftovers || ok=no
    wait "$a" "$b" 2>/dev/null
    [ "$ok" = yes ]
}
panel_twice() {
    (cd "$LT_DIR" && exec wine TrelvixVelotune.exe >/dev/null 2>&1) &
    local a=$!
    (cd "$LT_DIR" && exec wine TrelvixVelotune.exe >/dev/null 2>&1) &
    local b=$!
    local ok=yes
    lt_wait_panel 20000 >/dev/null || ok=no
    wait_count 1 count_pids 'TrelvixVelotune\.exe' || ok=no
    [ "$(count_windows "$VT_PANEL_CLASS")" = 1 ] || ok=no
    end_leftovers || ok=no
    wait "$a" "$b" 2>/dev/null
    [ "$ok" = yes ]
}
ok=0
for _ in $(seq 1 20); do launcher_twice && ok=$((ok + 1)); done
check "two launchers at once end with one, $ok of 20 times" [ "$ok" = 20 ]
ok=0
for _ in $(seq 1 20); do panel_twice && ok=$((ok + 1)); done
check "two panels at once end with one, $ok of 20 times" [ "$ok" = 20 ]

end_all
probe_stop
vt_sim_no_cdrom d
vt_end
