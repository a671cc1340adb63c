#!/usr/bin/env bash
# Acceptance: a user's day with the launcher and the panel, with real mouse input
# in the shell desktop, against a simulated two-mode drive on d:.
#   1. logon start with "/autorun": the icon only, no panel;
#   2. double click on the icon: the panel shows the drive's mode;
#   3. "Silence Mode" and "Set": the drive gets the mode set, the status line follows;
#   4. "About" from the tray menu opens the panel's About box; once it is closed
#      the tray menu answers again;
#   5. "Close" on the panel greys About in the tray menu; reopened, About is enabled;
#   6. "Exit" from the tray menu ends both programs; no window and no icon are left;
#   7. with the drive gone, a second launcher has the first open the panel, whose
#      "DRIVE NOT FOUND!!" box shows; the launcher's first item then only brings
#      the panel forward: no second search, no second box.
# One screenshot per scenario in BUILD/artifacts/tray_panel.
set -u
source "$(dirname "$0")/lib.sh"
sys_init "$1" "$2" "${3:-}" tray_panel
sys_install 1
vt_sim_drive d1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_cdrom d d1
vt_sim_preload
away() { xdotool mousemove 600 60; }

# 1. Logon start.
icons_before=$(tray_count)
launcher /autorun
check "launcher window exists" wait_launcher
icon_added() { [ "$(tray_count)" = "$((icons_before + 1))" ]; }
check "one icon more in the tray after /autorun" until_ok 10 icon_added
# A panel the launcher started would be on its way by the time the launcher
# answers a message sent after its start: its process exists then, its window
# may come later. So the check waits for that answer, then looks for both.
no_panel() { pr0 absent "$PANEL_CLASS" "$PANEL_TITLE" && [ -z "$(prefix_pids TrelvixVelotune.exe)" ]; }
check "the launcher answers after its start" pr0 alive - "$LAUNCHER_TITLE"
check "no panel after /autorun: no window and no panel process" no_panel
check "no drive command after /autorun" [ "$(vt_sim_count d1)" = 0 ]
away
shot 1-autorun

# 2. Double click on the icon.
read -r tx ty <<<"$(tray_xy)"
px_icon=$(icon_pixels "$tx" "$ty")
check "the icon is drawn in its cell ($px_icon coloured pixels)" is_num "$px_icon"
check "... with more than 20 coloured pixels" [ "${px_icon:-0}" -gt 20 ]
click "$tx" "$ty" 1 2
check "double click opens the panel" wait_panel
check "status line shows the drive's mode" wait_status "Current Speed = High Speed Mode"
check "status line is High Speed Mode" [ "$(status_line)" = "Current Speed = High Speed Mode" ]
away
shot 2-panel

# 3. Silence Mode, then Set.
read -r pl pt _ <<<"$(pr0 rect "$PANEL_CLASS" "$PANEL_TITLE" | sed -n 's/^rect: //p')"
vt_sim_log_clear d1
click_child "text=Silence Mode"
click_control "$PANEL_CLASS" SpeedButton1 # "Set"
check "status line changes to Silence Mode" wait_status "Current Speed = Silence Mode" 10000
check "the drive got the Silence mode set" grep -q 'cdb=ff07b00000000000000000aa' "$(vt_sim_path d1).log"
check "the drive is in Silence Mode" [ "$(vt_sim_get d1 mode)" = silence ]
check "Set sent one mode set" [ "$(vt_sim_count d1 'cdb=ff07b0')" = 1 ]
check "Set refreshed with one status read" [ "$(vt_sim_count d1 'cdb=ff07b1')" = 1 ]
away
shot 3-silence

# 4. About from the tray menu.
check "tray menu opens" tray_menu
away
sleep 0.3
shot 4-traymenu
# The pictures the README shows: the tray menu and the panel, cut out.
read -r ml mt mr _ <<<"$MENU_RECT"
convert "$ART/4-traymenu.png" -crop "$((mr - ml + 40))x$((768 - mt + 10))+$((ml - 20))+$((mt - 10))" +repage \
    "$ART/../tray_menu.png" 2>/dev/null
dark_enabled=$(menu_item_dark 2)
echo "About item, enabled: $dark_enabled dark pixels"
read -r ax ay <<<"$(menu_item_xy 2)"
click "$ax" "$ay"
check "About box opens" pr0 wait-visible TFormAbout - 10000
shot 4-about
click_control TFormAbout SpeedButton1 # "&OK"
check "About box closes" pr0 wait-hidden TFormAbout - 10000
check "launcher answers after the About box" pr0 alive - "$LAUNCHER_TITLE"
check "tray menu answers again" tray_menu
check "tray menu closes" menu_close

# 5. Close greys About; reopening enables it.
convert "$ART/2-panel.png" -crop "320x200+$pl+$pt" +repage "$ART/../panel.png" 2>/dev/null
click_control "$PANEL_CLASS" SpeedButton2 # "Close"
check "Close ends the panel" pr0 wait-gone "$PANEL_CLASS" "$PANEL_TITLE" 10000
check "tray menu opens after Close" tray_menu
dark_grey=$(menu_item_dark 2)
echo "About item, after Close: $dark_grey dark pixels"
shot 5-about-grey
check "the About item was measured, enabled and grey" is_num "$dark_enabled" "$dark_grey"
check "About is grey after Close" [ "${dark_grey:-1}" -lt $((${dark_enabled:-0} / 4 + 1)) ]
# A stand-in window with the panel's class and title shows what the launcher
# sends to a panel: a grey About sends nothing. The control: once the launcher
# is told a panel is open, the same click reaches the stand-in.
stand_in_start "$PANEL_CLASS" "$PANEL_TITLE"
STAND_IN_SEEN_1026=$(stand_in_count 1026)
read -r ax ay <<<"$(menu_item_xy 2)"
click "$ax" "$ay"
check "tray menu closes" menu_close
# The barrier: once the launcher has answered, a message it posted to the
# stand-in is queued there before one posted now, and the stand-in logs in order.
check "the launcher answers after the click" pr0 alive - "$LAUNCHER_TITLE"
stand_in_mark 1099
pr0 post "$PANEL_CLASS" "$PANEL_TITLE" 1099 0 0 >/dev/null
check "the stand-in took a message posted after the click" stand_in_wait 1099 5000
check "a grey About sent the panel nothing" eq "$(stand_in_count 1026)" "$STAND_IN_SEEN_1026"
pr0 send - "$LAUNCHER_TITLE" 1027 0 0 >/dev/null # as the panel reports its window
stand_in_mark 1026
check "tray menu opens with a panel reported" tray_menu
read -r ax ay <<<"$(menu_item_xy 2)"
click "$ax" "$ay"
check "control: an enabled About reaches the panel window within 3 s" stand_in_wait 1026 3000
pr0 send - "$LAUNCHER_TITLE" 1026 0 0 >/dev/null # and as it reports its end
stand_in_stop
read -r tx ty <<<"$(tray_xy)"
click "$tx" "$ty" 1 2
check "double click reopens the panel" wait_panel
check "reopened panel shows the stored mode" wait_status "Current Speed = Silence Mode"
check "tray menu opens with the panel back" tray_menu
dark_again=$(menu_item_dark 2)
echo "About item, reopened: $dark_again dark pixels"
shot 5-about-enabled
check "the About item was measured again" is_num "$dark_again"
check "About is enabled again" [ "${dark_again:-0}" -gt $((${dark_grey:-0} * 4)) ]

# 6. Exit from the tray menu.
read -r ex ey <<<"$(menu_item_xy 3)"
click "$ex" "$ey"
check "Exit ends the panel" pr0 wait-gone "$PANEL_CLASS" "$PANEL_TITLE" 10000
check "Exit ends the launcher" pr0 wait-gone - "$LAUNCHER_TITLE" 10000
away
check "the icon leaves its cell within 10 s" until_ok 10 cell_empty "$tx" "$ty"
px=$(icon_pixels "$tx" "$ty")
echo "icon cell after Exit: $px coloured pixels"
check "the icon cell was measured" is_num "$px"
check "no icon drawn in its cell" [ "${px:-99}" -lt 5 ]
check "no process left" [ -z "$(prefix_pids 'Velotray.exe|TrelvixVelotune.exe')" ]
away
shot 6-exit

# 7. The panel asked forward while its "DRIVE NOT FOUND!!" box shows.
vt_sim_set d1 reject_status=1
reads=$(vt_sim_count d1 'cdb=ff07b1')
launcher /autorun
check "the launcher starts again" wait_launcher
check "... and answers" pr0 alive - "$LAUNCHER_TITLE"
# A second launcher started by hand, with no panel running, has the first one open it.
(cd "$APP" && exec timeout -k 5 20 wine "$APP/Velotray.exe" </dev/null >>"$ART/wine.log" 2>&1)
check "a second launcher ends with 0" eq "$?" 0
check "the first opened the panel: no drive, its box shows" \
    pr0 messagebox-wait "DRIVE NOT FOUND!!" MESSAGE 30000
box=$(probe_get hwnd)
shot 7-not-found
# The first item, sent: once the launcher answers, its bring-forward is in the
# panel's queue, ahead of the OK posted to the box next (one thread, one queue).
# A second search would run, and its box would show, before the OK is taken.
check "the launcher's first item is taken" pr0 send - "$LAUNCHER_TITLE" 273 100 0
pr0 click-button "$box" - text=OK >/dev/null
check "OK closes the box" pr0 wait-hidden "$box" - 10000
boxes() { pr0 toplevel | grep $'\tclass=#32770\t' | grep -c $'\tvisible=1\t'; }
check "no second box" eq "$(boxes)" 0
check "and one status read" eq "$(($(vt_sim_count d1 'cdb=ff07b1') - reads))" 1
check "OK ends the panel" pr0 wait-gone "$PANEL_CLASS" "$PANEL_TITLE" 10000
pr0 post - "$LAUNCHER_TITLE" 273 103 0 >/dev/null # Exit
check "Exit ends the launcher" pr0 wait-gone - "$LAUNCHER_TITLE" 10000
vt_sim_unset d1 reject_status
sys_end
