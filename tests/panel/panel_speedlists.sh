#!/usr/bin/env bash
# Two speed-list drives, d: at speed 8 and e: at speed 24. The status line shows
# the speed of the drive that is selected: the first at start, the second when the
# user picks it, and after Set what that drive then reports.
source "$(dirname "$0")/lib.sh"

vt_sim_drive d3 kind=speedlist speeds=8,16,24 current=8 vendor=TRELVIX \
    "product=CD-RW TV-5208" revision=1.00 >/dev/null
vt_sim_drive e3 kind=speedlist speeds=4,24,48 current=24 vendor=TRELVIX \
    "product=DVD-RW TV-1624" revision=1.01 >/dev/null
vt_sim_cdrom d d3
vt_sim_cdrom e e3
probe_start "$BUILD" || exit 1
trap 'cleanup_panel; listen_stop; probe_stop; vt_sim_no_cdrom e' EXIT
listen_start
vt_sim_preload

start_panel
check "the panel window appears" probe wait-visible "${MAIN[@]}" 30000
check "the first drive shows its speed" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed =  8" 20000
check "the rest of the window follows the first paint" wait_rest
check "its speed list" eq "$(child_field pos=115,323 items)" "8|16|24"
shot first

# pick the second drive with real input: focus the drive list, Down, Enter
vt_sim_log_clear d3
vt_sim_log_clear e3
click_child class=ComboBox:0
check "the drive list opens" probe wait-visible ComboLBox - 5000
xdotool key Down Return
check "picking the second drive shows its speed" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = 24" 20000
check "the second entry is selected" eq "$(child_field pos=37,52 sel)" 1
check "its speed list replaces the first one's" eq "$(child_field pos=115,323 items)" "4|24|48"
check "... with the first entry selected" eq "$(child_field pos=115,323 sel)" 0
check "one status read went to the second drive" eq "$(vt_sim_count e3 'cdb=ff07b1')" 1
shot second

# Set (the radio presentation: High Speed Mode, 0xFF) to the selected drive e:
vt_sim_log_clear e3
click_control "$VT_PANEL_CLASS" SpeedButton1 # Set
check "after Set the line shows what the drive then reports" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = 255" 20000
check "Set sent one mode set and one status read to e:" eq \
    "$(vt_sim_log e3 | grep -o 'cdb=[0-9a-f]*' | head -n 2 | tr '\n' ' ')" \
    "cdb=ff07b0000000ff00000000aa cdb=ff07b100000000000000ffaa "
check "... and nothing to d:" eq "$(vt_sim_count d3 'cdb=ff07b0')" 0
check "the drive stored the new speed" eq "$(vt_sim_get e3 current)" 255
shot after-set

click_control "$VT_PANEL_CLASS" SpeedButton2 # Close
panel_wait
check "Close ends the panel with exit code 0" eq "$PANEL_RC" 0
vt_end
