#!/usr/bin/env bash
# The silent uninstall ends a running launcher and speed panel by their windows
# and leaves no file, logon entry, product key, shortcut or uninstall entry.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup
it_sim_drive # the speed panel needs a drive to stay open

udir=$(it_unix "$IT_DEFAULT_DIR")

it_nothing_left() {
    check "installation folder removed" test ! -e "$udir"
    check "Run entry removed" test -z "$(it_reg_get "$IT_RUN_KEY" Velotune)"
    check "product key removed" not it_key_exists "$IT_PRODUCT_KEY"
    check "maker's key removed when empty" not it_key_exists "$IT_VENDOR_KEY"
    check "uninstall entry removed" not it_key_exists "$IT_UNINST_KEY"
    check "Start menu shortcut removed" test ! -e "$IT_SHORTCUT"
}

it_case "uninstall with launcher and speed panel running"
check "setup exits with 0" it_install
# Started by hand, the launcher places its icon and opens the speed panel.
it_run_hidden "$IT_DEFAULT_DIR\\Velotray.exe"
launcher_job=$!
check "launcher and speed panel windows appear" \
    it_probe wait-window - "$IT_LAUNCHER_WINDOW" 30000 ";" wait-window "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" 30000
check "silent uninstall finishes" it_uninstall
check "launcher and speed panel windows are gone" \
    it_probe absent - "$IT_LAUNCHER_WINDOW" ";" absent "$VT_PANEL_CLASS" "$VT_PANEL_TITLE"
it_end_job "$launcher_job" launcher
it_nothing_left

it_case "uninstall with only the speed panel running"
check "setup exits with 0" it_install
it_run_hidden "$IT_DEFAULT_DIR\\TrelvixVelotune.exe"
panel_job=$!
check "speed panel window appears" it_probe wait-window "$VT_PANEL_CLASS" "$VT_PANEL_TITLE" 30000
check "silent uninstall finishes" it_uninstall
check "speed panel window is gone" it_probe absent "$VT_PANEL_CLASS" "$VT_PANEL_TITLE"
it_end_job "$panel_job" "speed panel"
it_nothing_left

it_case "uninstall with nothing running"
check "setup exits with 0" it_install
check "silent uninstall finishes" it_uninstall
it_nothing_left
vt_end
