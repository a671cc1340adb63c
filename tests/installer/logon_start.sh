#!/usr/bin/env bash
# The logon entry written by the setup, started the way the system starts it at
# logon, places the launcher's icon and does not open the speed panel.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup
it_sim_drive # a wrongly started speed panel would open its window

it_case "silent setup into the default folder"
it_check "setup exits with 0" it_install
udir=$(it_unix "$IT_DEFAULT_DIR")
it_check "launcher installed under Program Files" test -f "$udir/Velotray.exe"
it_expect_eq "Run entry names the default folder" \
    "REG_SZ"$'\t'"\"$IT_DEFAULT_DIR\\Velotray.exe\" /autorun" "$(it_reg_get "$IT_RUN_KEY" Velotune)"

it_case "start of the Run entry at logon"
tray_empty=$IT_BUILD/installer-tests/tray-before.png
it_check "the shell desktop shows" it_hold_desktop
it_check "notification area readable" it_tray "$tray_empty"
it_check "launcher window appears" wine "$IT_PROBE" logon wait - "$IT_LAUNCHER_WINDOW" 30
it_check "an icon shows in the notification area" it_wait_tray_unlike "$tray_empty"
# The launcher starts the panel, if at all, before its window exists: a panel
# process would already be there.
pids=$(it_program_pids)
it_check "the launcher runs from the installation folder" grep -q 'Trelvix Velotune\\Velotray.exe' <<<"$pids"
it_check "no speed panel process" test -z "$(grep -i 'TrelvixVelotune.exe' <<<"$pids")"
it_check "no speed panel window" wine "$IT_PROBE" absent TFormMain "Trelvix Velotune"

it_case "launcher Exit and uninstall"
it_check "launcher ends on Exit" wine "$IT_PROBE" exit-launcher
it_check "its icon is gone" it_wait_tray_like "$tray_empty"
it_check "silent uninstall finishes" it_uninstall
it_check "no program left running" it_wait_no_programs
it_done
