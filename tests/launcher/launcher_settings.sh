#!/usr/bin/env bash
# The "autorun" setting as a user meets it: a logon start ("/autorun" in any
# ASCII case) places the icon only, or ends at once when Auto Run is off; a
# missing product key greys Auto Run; the Auto Run item writes 0 and then 1,
# each as a REG_DWORD, and its check mark follows.
source "$(dirname "$0")/lib.sh"
probe_start "$LT_BUILD" || exit 1
lt_end
lt_install "Velotune"
lt_tray "$LT_OUT/tray-empty.png"
settings() { # settings AUTORUN-LINE|none
    if [ "$1" = none ]; then
        lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)"
    else
        lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
            "[$LT_PRODUCT_KEY]" "$1"
    fi
}
# Opens the menu and its "Option" submenu and takes a picture: SUB_TEXT and
# SUB_CHECK are the black pixels of the Auto Run item's text and check margin.
look_at_auto_run() {
    lt_open_menu && lt_open_option || return 1
    lt_shot "$LT_OUT/$1.png"
    LT_ROWS=1
    SUB_TEXT=$(lt_row_text_black "$LT_OUT/$1.png" "$LT_SUB" 0)
    SUB_CHECK=$(lt_row_check_black "$LT_OUT/$1.png" "$LT_SUB" 0)
    LT_ROWS=4
    echo "  ($1: text=$SUB_TEXT check=$SUB_CHECK)"
}
choose_auto_run() {
    LT_ROWS=1
    lt_click_row "$LT_SUB" 0
    LT_ROWS=4
    lt_no_menus
}

# ---- Auto Run off: a logon start in any case ends at once, with 0
settings '"autorun"=dword:00000000'
for arg in /autorun /AUTORUN /AutoRun; do
    rc=$(lt_run_to_end "$arg")
    check "$arg with Auto Run off ends with 0" [ "$rc" = 0 ]
done
check "and leaves no icon" vt_wait_tray_like "$LT_OUT/tray-empty.png"
check "and starts no panel" [ "$(lt_log_count '^start')" -eq 0 ]
probe find "$VT_LAUNCHER_TITLE" -
check "and no launcher window" [ "$(probe_get found)" = 0 ]

# ---- "-autorun" is a start by hand, whatever the setting
lt_start -autorun
check "-autorun starts the panel" lt_wait_log '^sent 1027'
lt_end
: >"$LT_LOG"

# ---- Auto Run on: a logon start in any case places the icon only
settings '"autorun"=dword:00000001'
for arg in /autorun /AUTORUN /AutoRun; do
    lt_start "$arg"
    check "$arg with Auto Run on runs the launcher" lt_wait_launcher
    check "$arg places the icon" lt_wait_tray_unlike "$LT_OUT/tray-empty.png"
    probe send "$VT_LAUNCHER_TITLE" - 16 0 0 >/dev/null
    lt_launcher_gone
    wait "$LT_LAUNCHER_PID"
    check "$arg: the launcher ended with 0 on WM_CLOSE" [ $? = 0 ]
    check "$arg: WM_CLOSE removed the icon" vt_wait_tray_like "$LT_OUT/tray-empty.png"
done
check "no logon start started the panel" [ "$(lt_log_count '^start')" -eq 0 ]

# ---- no product key: Auto Run is grey, a logon start places the icon
settings none
lt_start /autorun
check "without the product key a logon start runs" lt_wait_launcher
check "and places the icon" lt_wait_tray_unlike "$LT_OUT/tray-empty.png"
check "the Option submenu opens" look_at_auto_run auto-run-grey
check "Auto Run is grey" [ "$SUB_TEXT" -eq 0 ]
check "Auto Run has no check mark" [ "$SUB_CHECK" -eq 0 ]
lt_close_menus
check "nothing was stored" [ "$(lt_autorun_value)" = none ]
lt_end

# ---- the toggle: check mark first, then 0 and 1 as REG_DWORD
settings '"autorun"=dword:00000001'
lt_start /autorun
lt_wait_launcher
check "the Option submenu opens" look_at_auto_run auto-run-on
check "Auto Run is enabled" [ "$SUB_TEXT" -gt 0 ]
check "Auto Run is checked" [ "$SUB_CHECK" -gt 0 ]
choose_auto_run
check "the first choice stores REG_DWORD 0" [ "$(lt_autorun_value)" = "REG_DWORD 0x0" ]
check "the Option submenu opens" look_at_auto_run auto-run-off
check "Auto Run is unchecked" [ "$SUB_CHECK" -eq 0 ]
check "and still enabled" [ "$SUB_TEXT" -gt 0 ]
choose_auto_run
check "the second choice stores REG_DWORD 1" [ "$(lt_autorun_value)" = "REG_DWORD 0x1" ]
check "the Option submenu opens" look_at_auto_run auto-run-on-again
check "Auto Run is checked again" [ "$SUB_CHECK" -gt 0 ]
lt_close_menus
check "no logon start started the panel" [ "$(lt_log_count '^start')" -eq 0 ]

lt_finish
