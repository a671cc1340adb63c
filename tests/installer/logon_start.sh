#!/usr/bin/env bash
# The logon entry written by the setup, started the way the system starts it at
# logon, places the launcher's icon and does not open the speed panel.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup
it_sim_drive # a wrongly started speed panel would open its window

it_case "silent setup into the default folder"
check "setup exits with 0" it_install
udir=$(it_unix "$IT_DEFAULT_DIR")
check "launcher installed under Program Files" test -f "$udir/Velotray.exe"
check "Run entry names the default folder" eq \
    "$(it_reg_get "$IT_RUN_KEY" Velotune)" \
    "REG_SZ"$'\t'"\"$IT_DEFAULT_DIR\\Velotray.exe\" /autorun"

it_case "start of the Run entry at logon"
tray_empty=$IT_BUILD/installer-tests/tray-before.png
check "the shell desktop shows" it_hold_desktop
check "notification area readable" it_tray "$tray_empty"
check "launcher window appears" it_probe logon ";" wait-window - "$IT_LAUNCHER_WINDOW" 30000
check "an icon shows in the notification area" it_wait_tray_unlike "$tray_empty"
# The launcher starts the panel, if at all, before its window exists: a panel
# process would already be there.
pids=$(it_program_pids)
check "the launcher runs from the installation folder" grep -q 'Trelvix Velotune\\Velotray.exe' <<<"$pids"
check "no speed panel process" test -z "$(grep -i 'TrelvixVelotune.exe' <<<"$pids")"
check "no speed panel window" it_probe absent "$VT_PANEL_CLASS" "$VT_PANEL_TITLE"

it_case "launcher Exit and uninstall"
check "launcher ends on Exit" it_probe exit-launcher
check "its icon is gone" vt_wait_tray_like "$tray_empty"
check "silent uninstall finishes" it_uninstall
check "no program left running" it_wait_no_programs
vt_end
