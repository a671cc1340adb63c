#!/usr/bin/env bash
# The launcher with the real speed panel and a simulated two-mode drive on d:,
# driven through the tray icon: a start by hand places one icon and opens the
# panel; About opens the panel's About box; the panel's "Close" greys About; a
# second launcher leaves one icon and opens the panel again; Exit ends both.
source "$(dirname "$0")/lib.sh"
lt_use_real_panel
vt_sim_drive lt1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 \
    >/dev/null
vt_sim_cdrom d lt1
vt_sim_preload
probe_start "$LT_BUILD" || exit 1
lt_end
lt_install "Velo Tune"
lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
    "[$LT_PRODUCT_KEY]" '"autorun"=dword:00000001'
lt_tray "$LT_OUT/tray-empty.png"

# ---- start by hand
lt_start
check "the panel shows" lt_wait_panel
check "the icon shows" lt_wait_tray_unlike "$LT_OUT/tray-empty.png"
lt_tray "$LT_OUT/tray-one.png"
check "the panel read the drive" [ "$(vt_sim_count lt1 'cdb=ff07b1')" -ge 1 ]

# ---- About, enabled by the panel, opens its About box
check "the menu opens" lt_open_menu
lt_shot "$LT_OUT/real-menu.png"
check "About is enabled" [ "$(lt_row_text_black "$LT_OUT/real-menu.png" "$LT_MAIN" 2)" -gt 0 ]
lt_click_row "$LT_MAIN" 2
check "the About box opens" probe wait-visible TFormAbout - 10000
lt_shot "$LT_OUT/real-about.png"
probe control TFormAbout SpeedButton1
xdotool mousemove "$(probe_get cx)" "$(probe_get cy)" click 1 # "&OK"
check "the About box closes" probe wait-hidden TFormAbout - 10000
check "the launcher answers again" lt_open_menu
lt_close_menus

# ---- the panel's Close greys About
probe control "$VT_PANEL_CLASS" SpeedButton2
xdotool mousemove "$(probe_get cx)" "$(probe_get cy)" click 1 # SpeedButton2 "Close"
check "Close ends the panel" lt_panel_gone
check "the menu opens" lt_open_menu
lt_shot "$LT_OUT/real-menu-closed.png"
check "About is grey" [ "$(lt_row_text_black "$LT_OUT/real-menu-closed.png" "$LT_MAIN" 2)" -eq 0 ]
lt_close_menus

# ---- a second launcher
rc=$(lt_run_to_end)
check "a second launcher ends with 0" [ "$rc" = 0 ]
check "and opens the panel" lt_wait_panel
check "there is still one icon" vt_wait_tray_like "$LT_OUT/tray-one.png"
check "the menu opens" lt_open_menu
lt_shot "$LT_OUT/real-menu-reopened.png"
check "About is enabled again" \
    [ "$(lt_row_text_black "$LT_OUT/real-menu-reopened.png" "$LT_MAIN" 2)" -gt 0 ]

# ---- Exit
lt_click_row "$LT_MAIN" 3
check "Exit ends the panel" lt_panel_gone
check "Exit ends the launcher" lt_launcher_gone
wait "$LT_LAUNCHER_PID"
check "the launcher ended with 0" [ $? = 0 ]
check "the icon is gone" vt_wait_tray_like "$LT_OUT/tray-empty.png"

# ---- the panel opened again while its "DRIVE NOT FOUND!!" box shows: the
# bring-forward only brings the window forward, with no second search and no second box
boxes() { probe toplevel; echo "$PROBE_OUT" | grep $'\tclass=#32770\t' | grep -c $'\tvisible=1\t'; }
vt_sim_set lt1 reject_status=1
reads=$(vt_sim_count lt1 'cdb=ff07b1')
lt_start
check "no drive: the box shows" probe messagebox-wait "DRIVE NOT FOUND!!" MESSAGE 30000
box=$(probe_get hwnd)
check "the launcher's first item is chosen" probe post "$VT_LAUNCHER_TITLE" - 273 100 0
for _ in $(seq 15); do [ "$(boxes)" -gt 1 ] && break; sleep 0.2; done
check "still one box" eq "$(boxes)" 1
check "and one status read" eq "$(($(vt_sim_count lt1 'cdb=ff07b1') - reads))" 1
probe click-button "$box" - text=OK >/dev/null
check "OK ends the panel" lt_panel_gone
probe post "$VT_LAUNCHER_TITLE" - 273 103 0 >/dev/null # Exit
check "Exit ends the launcher" lt_launcher_gone
wait "$LT_LAUNCHER_PID"
vt_sim_unset lt1 reject_status

lt_end
probe_stop
vt_sim_no_cdrom d
vt_end
