#!/usr/bin/env bash
# The partner programs and the shell misbehave:
#   1. the shell's taskbar is re-created: the icon is lost and "TaskbarCreated"
#      is broadcast; the launcher's icon comes back;
#   2. a write to HKEY_LOCAL_MACHINE is refused (a deny entry on the product
#      key): the launcher asks once more through its elevated helper, which
#      is refused too, and "Auto Run" keeps showing what is stored;
#   3. the panel is killed while the launcher runs: About and Exit from the tray
#      menu do nothing harmful, Exit ends the launcher;
#   4. the launcher is killed while the panel runs: the panel's About box and
#      Close still work.
set -u
source "$(dirname "$0")/../acceptance/lib.sh"
sys_init "$1" "$2" "${3:-}" fault_partners
sys_install 1
vt_sim_drive d1 kind=twomode mode=high >/dev/null
vt_sim_cdrom d d1
vt_sim_preload
away() { xdotool mousemove 600 60; }

launcher
check "panel opens" wait_panel
check "panel shows the mode" wait_status "Current Speed = High Speed Mode"
check "icon placed" [ "$(tray_count)" -ge 1 ]

# 1. Taskbar re-created.
read -r tx ty <<<"$(tray_xy)"
away
px=$(icon_pixels "$tx" "$ty")
echo "icon cell before: $px coloured pixels"
check "icon drawn in its cell" [ "${px:-0}" -gt 20 ]
check "icon removed as by a shell restart" pr0 traydel - "$LAUNCHER_TITLE" 0
check "the icon leaves its cell within 10 s" until_ok 10 cell_empty "$tx" "$ty"
px=$(icon_pixels "$tx" "$ty")
echo "icon cell after the removal: $px coloured pixels"
check "the cell is empty" [ "${px:-99}" -lt 5 ]
check "TaskbarCreated broadcast" pr0 taskbarcreated
check "the icon is drawn again within 10 s" until_ok 10 cell_drawn "$tx" "$ty"
px=$(icon_pixels "$tx" "$ty")
echo "icon cell after TaskbarCreated: $px coloured pixels"
check "the icon is back" [ "${px:-0}" -gt 20 ]
check "launcher answers" pr0 alive - "$LAUNCHER_TITLE"
shot 1-taskbar-recreated

# 2. A refused write to HKLM: toggle Auto Run through the menu (Option, Auto Run).
# Opens the Option submenu by resting the mouse on "&Option"; SUB_RECT is its place.
open_option() {
    tray_menu || return 1
    read -r ox oy <<<"$(menu_item_xy 1)"
    xdotool mousemove "$ox" "$oy"
    until_ok 5 sub_open
}
sub_open() {
    SUB_RECT=$(pr0 menurects | sed -n 's/^menu: //p' | awk -v m="$MENU_RECT" '$0 != m' | head -n 1)
    [ -n "$SUB_RECT" ]
}
auto_run_toggle() {
    open_option || return 1
    local l t r b
    read -r l t r b <<<"$SUB_RECT"
    xdotool mousemove $(((l + r) / 2)) $((t + 6))
    click $(((l + r) / 2)) $(((t + b) / 2))
    until_ok 5 menu_gone
}
check_mark_dark() { # dark pixels at the check mark place of "Auto Run"
    open_option || { echo 0; return; }
    local l t r b f=$ART/.sub.png
    read -r l t r b <<<"$SUB_RECT"
    vt_shot "$f"
    convert "$f" -crop "16x$((b - t - 6))+$((l + 3))+$((t + 3))" +repage -colorspace gray -threshold 25% -negate \
        -format '%[fx:round(mean*w*h)]' info: 2>/dev/null
    cp -f "$f" "$ART/2-auto-run-menu.png"
    menu_close >/dev/null
    menu_close >/dev/null
}
before=$(check_mark_dark)
echo "check mark before: $before dark pixels"
check "Auto Run starts checked" [ "${before:-0}" -gt 4 ]
check "writes to the product key refused" pr0 regdeny "$PRODUCT_KEY"
check "the refusal works: a write fails" not pr0 regset "$PRODUCT_KEY" autorun 4 dword:7
# Refused, the launcher asks once more through its elevated helper, which Wine
# runs without a prompt and which is refused as well (launcher_elevation runs
# the helper itself).
auto_run_toggle
after=$(check_mark_dark)
echo "check mark after the refused write: $after dark pixels"
check "the check mark still shows what is stored (checked)" [ "${after:-0}" -gt $((before / 2)) ]
check "the stored value stays 1" pr0 regexpect "$PRODUCT_KEY" autorun 4 dword:1
check "launcher answers after the refused write" pr0 alive - "$LAUNCHER_TITLE"
check "writes allowed again" pr0 regallow "$PRODUCT_KEY"
# The mark still shows 1, so the next toggle turns Auto Run off.
auto_run_toggle
check "an allowed toggle writes 0" pr0 regexpect "$PRODUCT_KEY" autorun 4 dword:0
auto_run_toggle
check "and the next one writes 1" pr0 regexpect "$PRODUCT_KEY" autorun 4 dword:1
sys_install 1

# 3. The panel killed while the launcher runs.
check "panel killed" pr0 kill "$PANEL_CLASS" "$PANEL_TITLE"
check "panel gone" pr0 wait-gone "$PANEL_CLASS" "$PANEL_TITLE" 5000
check "tray menu opens" tray_menu
read -r ax ay <<<"$(menu_item_xy 2)"
click "$ax" "$ay" # About, still enabled: finds no panel
check "About without a panel: the menu took the click" until_ok 5 menu_gone
check "launcher answers after About" pr0 alive - "$LAUNCHER_TITLE"
# A panel the launcher started would exist as a process by now; a box it opened,
# as a window.
nothing_opened() { pr0 absent TFormAbout - && [ -z "$(prefix_pids TrelvixVelotune.exe)" ]; }
check "About without a panel: no box opens and no panel starts" nothing_opened
shot 3-panel-killed
check "tray menu opens again" tray_menu
read -r ex ey <<<"$(menu_item_xy 3)"
click "$ex" "$ey" # Exit
check "Exit without a panel ends the launcher" pr0 wait-gone - "$LAUNCHER_TITLE" 10000

# 4. The launcher killed while the panel runs.
launcher
check "panel opens again" wait_panel
check "panel shows the mode again" wait_status "Current Speed = High Speed Mode"
check "launcher killed" pr0 kill - "$LAUNCHER_TITLE"
check "launcher gone" pr0 wait-gone - "$LAUNCHER_TITLE" 5000
check "panel answers without its launcher" pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"
click_child "class=Static:0" # focus the panel
xdotool key F1
check "F1 opens the About box without a launcher" pr0 wait-visible TFormAbout - 5000
shot 4-launcher-killed
click_control TFormAbout SpeedButton1 # "&OK"
check "About box closes" pr0 wait-hidden TFormAbout - 5000
click_control "$PANEL_CLASS" SpeedButton2 # "Close": its message to the launcher goes nowhere
check "Close without a launcher ends the panel" pr0 wait-gone "$PANEL_CLASS" "$PANEL_TITLE" 10000
check "no panel process left" [ -z "$(prefix_pids 'TrelvixVelotune.exe')" ]
check "no setting lost: autorun still 1" pr0 regexpect "$PRODUCT_KEY" autorun 4 dword:1
sys_end
