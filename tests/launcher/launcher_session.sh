#!/usr/bin/env bash
# A session with the launcher as a user has it: a start by hand places one icon
# and starts the panel; the panel's 1027 enables About and its "Close" greys it;
# About opens the panel's About box and the launcher answers again only once
# the box has closed; a double click and the first item start the panel, or
# bring a running one forward without starting a process; a second launcher
# leaves one icon; the icon comes back on a new taskbar; Exit
# closes the panel and removes the icon.
source "$(dirname "$0")/lib.sh"
probe_start "$LT_BUILD" || exit 1
lt_end

# Installed in a folder whose name holds a blank; the Run entry is quoted.
lt_install "Velo Tune"
lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
    "[$LT_PRODUCT_KEY]" '"autorun"=dword:00000001'
lt_tray "$LT_OUT/tray-empty.png"

# ---- start by hand
lt_start
check "the launcher window exists" lt_wait_launcher
check "the panel shows" lt_wait_panel
check "the panel found the launcher" lt_wait_log '^sent 1027 launcher=1'
check "the panel was started once" [ "$(lt_log_count '^start')" -eq 1 ]
check "with the quoted path from the Run entry" \
    grep -q -x -F 'start "C:\Velo Tune\TrelvixVelotune.exe"' "$LT_LOG"
check "the icon shows" lt_wait_tray_unlike "$LT_OUT/tray-empty.png"
lt_tray "$LT_OUT/tray-one.png"
probe info "$VT_LAUNCHER_TITLE" -
check "the launcher window stays hidden" [ "$(probe_get visible)" = 0 ]
tip_shows() { # the shell shows the icon's tip while the mouse rests on it
    xdotool mousemove "$LT_ICON_X" "$LT_ICON_Y"
    local _
    for _ in $(seq 1 20); do
        probe toplevel
        printf '%s' "$PROBE_OUT" | grep -q -P \
            '\tclass=tooltips_class32\ttitle=Trelvix Velotune Launcher\tvisible=1' && return 0
        sleep 0.25
    done
    return 1
}
check "the icon's tip is the launcher's name" tip_shows
xdotool mousemove 400 300

# ---- About is enabled by the panel's 1027, and opens the panel's About box
check "right click opens the menu" lt_open_menu
lt_shot "$LT_OUT/menu-english.png"
check "About is enabled" [ "$(lt_row_text_black "$LT_OUT/menu-english.png" "$LT_MAIN" 2)" -gt 0 ]
check "Velotune is enabled" [ "$(lt_row_text_black "$LT_OUT/menu-english.png" "$LT_MAIN" 0)" -gt 0 ]
lt_click_row "$LT_MAIN" 2
check "About opened the panel's box" lt_wait_log '^about open'
probe messagebox-wait "Trelvix Velotune" About 10000
probe click-button "$(probe_get hwnd)" - text=OK
check "the About box closed" lt_wait_log '^about closed'
check "the launcher answers again" lt_open_menu
lt_close_menus

# ---- the panel's "Close" greys About
probe click-button "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" text=Close
check "the panel closed by its Close" lt_wait_log '^close clicked'
lt_panel_gone
check "menu opens again" lt_open_menu
lt_shot "$LT_OUT/menu-after-close.png"
check "About is grey after Close" \
    [ "$(lt_row_text_black "$LT_OUT/menu-after-close.png" "$LT_MAIN" 2)" -eq 0 ]
lt_close_menus

# ---- a double click starts the panel; About follows it again
xdotool mousemove "$LT_ICON_X" "$LT_ICON_Y" click --repeat 2 --delay 80 1
check "a double click starts the panel" lt_wait_panel
check "which sends 1027 again" lt_wait_log '^sent 1027' 2
xdotool mousemove 400 300
check "menu opens" lt_open_menu
lt_shot "$LT_OUT/menu-reopened.png"
check "About is enabled again" \
    [ "$(lt_row_text_black "$LT_OUT/menu-reopened.png" "$LT_MAIN" 2)" -gt 0 ]
# The first item with the panel running: the launcher asks the panel to come
# forward and starts no process (an elevated panel would cost a prompt).
starts=$(lt_log_count '^start')
lt_click_row "$LT_MAIN" 0
check "the first item brings the running panel forward" lt_wait_log '^bring forward' 1
xdotool mousemove "$LT_ICON_X" "$LT_ICON_Y" click --repeat 2 --delay 80 1
check "so does a double click" lt_wait_log '^bring forward' 2
xdotool mousemove 400 300

# ---- a second launcher
rc=$(lt_run_to_end)
check "a second launcher ends with 0" [ "$rc" = 0 ]
check "and brings the panel forward" lt_wait_log '^bring forward' 3
rc=$(lt_run_to_end /autorun)
check "a second launcher with /autorun ends with 0" [ "$rc" = 0 ]
check "and brings the panel forward too" lt_wait_log '^bring forward' 4
check "no panel process was started for any of them" [ "$(lt_log_count '^start')" -eq "$starts" ]
check "and no second copy ran" [ "$(lt_log_count '^second')" -eq 0 ]
check "there is still one icon" vt_wait_tray_like "$LT_OUT/tray-one.png"
check "and one launcher" kill -0 "$LT_LAUNCHER_PID"

# ---- a new taskbar asks for the icon again
check "the icon is removed as by a shell that lost its notification area" \
    probe traydel - "$VT_LAUNCHER_TITLE" 0
check "the icon is gone from the old taskbar" vt_wait_tray_like "$LT_OUT/tray-empty.png"
check "a new taskbar announces itself" probe taskbarcreated
check "TaskbarCreated brings the icon back" vt_wait_tray_like "$LT_OUT/tray-one.png"

# ---- Exit
check "menu opens" lt_open_menu
lt_click_row "$LT_MAIN" 3
check "Exit closes the panel" lt_wait_log '^wm_close'
check "the panel is gone" lt_panel_gone
check "the launcher is gone" lt_launcher_gone
wait "$LT_LAUNCHER_PID"
check "the launcher ended with 0" [ $? = 0 ]
check "the icon is gone" vt_wait_tray_like "$LT_OUT/tray-empty.png"

lt_finish
