#!/usr/bin/env bash
# Two drives: a speed-list drive on d: and a two-mode drive in Silence Mode on e:.
# The list shows both in letter order; the first (speed list) is shown with its
# current speed; choosing the second shows its mode, and Set goes to it. A
# speed-list drive plugged in at f: while the panel runs (Wine's mount manager
# tells the windows) is asked once and listed last; e: taken away leaves the
# list, and f: shows with its speeds; choosing d: again shows d:'s speed and
# speeds in place of f:'s. "Close" tells the launcher (1026) and ends the panel
# with exit code 0.
source "$(dirname "$0")/lib.sh"

vt_sim_drive d2 kind=speedlist speeds=8,16,24,40 current=24 vendor=TRELVIX \
    "product=CD-RW TV-5200" revision=2.10 >/dev/null
vt_sim_drive e2 kind=twomode mode=silence vendor=TRELVIX "product=DVD-RW TV-1620" \
    revision=1.03 >/dev/null
vt_sim_cdrom d d2
vt_sim_cdrom e e2
probe_start "$BUILD" || exit 1
trap 'cleanup_panel; listen_stop; probe_stop; vt_sim_no_cdrom e; vt_sim_no_cdrom f' EXIT
listen_start
vt_sim_preload

start_panel
check "the panel window appears" probe wait-visible "${MAIN[@]}" 30000
check "a speed-list drive shows its current speed" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = 24" 20000
shot speedlist
probe children "${MAIN[@]}"
echo "$PROBE_OUT" | cut -f3-11 | sed 's/^/     /'
check "both drives listed, by letter" eq "$(child_field pos=37,52 items)" \
    "TRELVIX CD-RW TV-5200   2.10   |TRELVIX DVD-RW TV-1620  1.03   "
check "the first one selected" eq "$(child_field pos=37,52 sel)" 0
check "the rest of the window follows the first paint" wait_rest
check "the speed list holds the drive's speeds" eq "$(child_field pos=115,323 items)" "8|16|24|40"
check "... with the first selected" eq "$(child_field pos=115,323 sel)" 0
check "the Speed Set group is enabled (list built)" eq "$(child_field "text=Speed Set" enabled)" 1
check "... and still hidden" eq "$(child_field "text=Speed Set" visible)" 0
check "the option buttons are unchanged" eq \
    "$(child_field "text=High Speed Mode" checked)$(child_field "text=Silence Mode" checked)" 10

# Set in the radio presentation: High Speed Mode (0xFF) to the selected drive d:
panel_pos
vt_sim_log_clear d2
vt_sim_log_clear e2
click_control "$VT_PANEL_CLASS" SpeedButton1 # Set
n=0
while [ "$(vt_sim_count d2 'cdb=ff07b1')" = 0 ] && [ $n -lt 200 ]; do sleep 0.1; n=$((n + 1)); done
check "Set sends FF 07 B0 00 00 00 FF 00 00 00 00 AA to the selected drive" eq \
    "$(vt_sim_log d2 | grep -o 'cdb=[0-9a-f]*' | tr '\n' ' ')" \
    "cdb=ff07b0000000ff00000000aa cdb=ff07b100000000000000ffaa "
check "... and nothing to the other" eq "$(vt_sim_count e2)" 0
check "the refresh after Set shows what the drive now reports" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = 255" 20000

# choose the second drive with the keyboard: focus the list, Down
click_child class=ComboBox:0
check "the drive list opens" probe wait-visible ComboLBox - 5000
xdotool key Down Return
check "choosing the second drive shows its mode" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = Silence Mode" 20000
check "the second entry is selected" eq "$(child_field pos=37,52 sel)" 1
check "Silence Mode checked" eq "$(child_field "text=Silence Mode" checked)" 1
check "the speed list is emptied" eq "$(child_field pos=115,323 count)" 0
check "the Speed Set group is disabled again" eq "$(child_field "text=Speed Set" enabled)" 0
check "the new drive was asked for its status" eq "$(vt_sim_count e2 'cdb=ff07b1')" 1
shot second-drive

# Set goes to the drive chosen: High Speed Mode (0xFF) to e:
vt_sim_log_clear d2
vt_sim_log_clear e2
click_child "text=High Speed Mode"
click_control "$VT_PANEL_CLASS" SpeedButton1 # Set
check "Set on the second drive: the line shows what it then reports" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 20000
check "... one mode set and one status read went to e:" eq \
    "$(vt_sim_log e2 | grep -o 'cdb=[0-9a-f]*' | tr '\n' ' ')" \
    "cdb=ff07b0000000ff00000000aa cdb=ff07b100000000000000ffaa "
check "... nothing to d:" eq "$(vt_sim_count d2)" 0
check "... and e: took it" eq "$(vt_sim_get e2 mode)" high

# show_list NAME: a screenshot with the drive list open; Escape closes it again
show_list() {
    click_child class=ComboBox:0
    probe wait-visible ComboLBox - 5000 >/dev/null
    shot "$1"
    xdotool key Escape
    sleep 0.5
}

# A drive that arrives while the panel runs: asked once, listed last; the
# selection and the drives already listed are left alone.
vt_sim_drive f2 kind=speedlist speeds=4,24,48 current=4 vendor=TRELVIX "product=DVD-RAM TV-3300" \
    revision=1.00 >/dev/null
vt_sim_log_clear d2
vt_sim_log_clear e2
check "drive f: is defined while Wine runs" vt_sim_cdrom_now f f2
three="TRELVIX CD-RW TV-5200   2.10   |TRELVIX DVD-RW TV-1620  1.03   |TRELVIX DVD-RAM TV-3300 1.00   "
n=0
while [ "$(child_field pos=37,52 items)" != "$three" ] && [ $n -lt 100 ]; do sleep 0.2; n=$((n + 1)); done
check "the arrived drive is listed after the others" eq "$(child_field pos=37,52 items)" "$three"
check "... asked once for its status and once for its name" eq \
    "$(vt_sim_log f2 | grep -o 'cdb=[0-9a-f]*' | cut -c5-6 | tr '\n' ' ')" "ff 12 "
check "... and the listed drives are not asked again" eq "$(vt_sim_count d2)$(vt_sim_count e2)" 00
check "the second entry stays selected" eq "$(child_field pos=37,52 sel)" 1
check "... with its mode" probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 5000
show_list arrived

# The selected drive taken away: out of the list, and the next one shows.
check "drive e: is removed while Wine runs" vt_sim_no_cdrom_now e
two="TRELVIX CD-RW TV-5200   2.10   |TRELVIX DVD-RAM TV-3300 1.00   "
n=0
while [ "$(child_field pos=37,52 items)" != "$two" ] && [ $n -lt 100 ]; do sleep 0.2; n=$((n + 1)); done
check "the removed drive leaves the list" eq "$(child_field pos=37,52 items)" "$two"
check "the next drive is selected" eq "$(child_field pos=37,52 sel)" 1
check "... and its speed shown" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed =  4" 10000
check "... with its speeds" eq "$(child_field pos=115,323 items)" "4|24|48"
show_list removed

# From one speed-list drive to another: the line and the list follow the choice.
vt_sim_log_clear d2
click_child class=ComboBox:0
check "the drive list opens again" probe wait-visible ComboLBox - 5000
xdotool key Up Return
check "choosing d: again shows its speed" \
    probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = 255" 20000
check "... its speed list replaces f:'s" eq "$(child_field pos=115,323 items)" "8|16|24|40"
check "... with the first entry selected" eq "$(child_field pos=115,323 sel)" 0
check "... after one status read of d:" eq "$(vt_sim_count d2 'cdb=ff07b1')" 1

# Close: 1026 to the launcher, then the end
click_control "$VT_PANEL_CLASS" SpeedButton2 # Close
panel_wait
check "Close ends the panel with exit code 0" eq "$PANEL_RC" 0
n=0
while [ "$(listen_count 1026)" = 0 ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
check "Close told the launcher: 1026" eq "$(listen_count 1026)" 1
check "the launcher heard 1027 once, at start" eq "$(listen_count 1027)" 1
vt_end
