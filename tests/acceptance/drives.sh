#!/usr/bin/env bash
# Acceptance: two drives, d: a two-mode drive and e: a speed-list drive. The user
# switches between them in the drive list (mouse and keyboard); each switch shows
# that drive's state after exactly one status read, and choosing the drive that
# is already selected sends nothing.
set -u
source "$(dirname "$0")/lib.sh"
sys_init "$1" "$2" "${3:-}" drives
sys_install 1
vt_sim_drive d1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_drive e1 kind=speedlist speeds=8,16,24,40 current=24 vendor=TRELVIX "product=CD-RW TV-5224" revision=2.00 >/dev/null
vt_sim_cdrom d d1
vt_sim_cdrom e e1
vt_sim_preload
away() { xdotool mousemove 600 60; }
READ='cdb=ff07b100000000000000ffaa'

launcher
check "panel opens" wait_panel
check "first drive's mode shown" wait_status "Current Speed = High Speed Mode"
d_discovered() { [ "$(vt_sim_count d1 "$READ")/$(vt_sim_count d1 'cdb=120000002400')" = "2/1" ]; }
check "discovery: d: probed, asked for INQUIRY and refreshed once" until_ok 5 d_discovered
check "discovery: e: probed and asked for INQUIRY, no refresh" \
    [ "$(vt_sim_count e1 "$READ")/$(vt_sim_count e1 'cdb=120000002400')" = "1/1" ]
check "drive list shows the first drive" pr0 wait-text "$PANEL_CLASS" "$PANEL_TITLE" "prefix=TRELVIX DVD-RW TV-1620  1.03" - 5000
away
shot 1-two-drives

choose() { # opens the drive list with the mouse, moves with a key, takes it with Enter
    # A click on the spot of the one before, within the double-click time (500 ms),
    # is a double click, which leaves the list shut.
    sleep 0.6
    click_child class=ComboBox:0 || return 1
    pr0 wait-visible ComboLBox - 5000 >/dev/null || return 1
    [ -n "$1" ] && xdotool key "$1"
    xdotool key Return
    pr0 wait-hidden ComboLBox - 5000 >/dev/null
}
# the panel sent a command to either drive (within the caller's wait)
sent_any() { [ "$(($(vt_sim_count d1) + $(vt_sim_count e1)))" -gt 0 ]; }

vt_sim_log_clear d1
vt_sim_log_clear e1
check "the list opens and closes" choose Down
check "switch to e: the panel sends a command within 3 s" until_ok 3 sent_any
check "switch to e: shows its current speed" wait_status "Current Speed = 24" 10000
check "switch to e: one command on e:" [ "$(vt_sim_count e1)" = 1 ]
check "switch to e: that command is the status read" [ "$(vt_sim_count e1 "$READ")" = 1 ]
check "switch to e: nothing sent to d:" [ "$(vt_sim_count d1)" = 0 ]
check "drive list shows the second drive" pr0 wait-text "$PANEL_CLASS" "$PANEL_TITLE" "prefix=TRELVIX CD-RW TV-5224   2.00" - 5000
away
shot 2-speed-list-drive

vt_sim_log_clear d1
vt_sim_log_clear e1
check "the list opens and closes" choose ""
# The panel acts on the choice while it handles the key that closed the list:
# once it answers a message sent after that, any command has been sent.
check "the panel answers after the choice" pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"
check "choosing the selected drive again sends nothing" not sent_any

vt_sim_set d1 mode=silence
check "the list opens and closes" choose Up
check "switch back: the panel sends a command within 3 s" until_ok 3 sent_any
check "switch back to d: shows its mode as the drive now reports it" wait_status "Current Speed = Silence Mode" 10000
check "switch back: one status read on d:" [ "$(vt_sim_count d1)" = 1 ]
check "switch back: nothing sent to e:" [ "$(vt_sim_count e1)" = 0 ]
away
shot 3-back-to-two-mode
check "panel answers" pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"
sys_end
