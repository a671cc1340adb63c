#!/usr/bin/env bash
# Acceptance: the 95-family path end to end. The panel sees Windows 98 (Wine's
# per-program Version), finds no pass-through drive letters and reaches a
# two-mode drive at host adapter 0, target 1 through the simulated WNASPI32.DLL
# beside it; the user sets Silence Mode with the mouse.
set -u
source "$(dirname "$0")/lib.sh"
sys_init "$1" "$2" "${3:-}" aspi95
sys_install 1
vt_sim_drive a1 kind=twomode mode=high vendor=TRELVIX "product=CD-RW TV-4810" revision=0.95 >/dev/null
vt_sim_drive a0 kind=twomode mode=high type=0 vendor=DISKCO "product=HARD DISK" revision=1.00 >/dev/null
vt_sim_no_cdrom d
vt_sim_no_cdrom e
vt_sim_win98 TrelvixVelotune.exe
vt_sim_apply
vt_sim_preload
vt_sim_aspi_config adapters=1 support=0x0101
vt_sim_aspi_target 0:0 a0
vt_sim_aspi_target 0:1 a1
vt_sim_aspi_install "$APP"
away() { xdotool mousemove 600 60; }

launcher
check "panel opens" wait_panel
check "the ASPI drive's mode is shown" wait_status "Current Speed = High Speed Mode"
check "drive list shows the ASPI drive" pr0 wait-text "$PANEL_CLASS" "$PANEL_TITLE" "prefix=TRELVIX CD-RW TV-4810   0.95" - 5000
check "commands went through ASPI to adapter 0, target 1" grep -q 'ha=0 target=1' "$(vt_sim_path a1).log"
check "the hard disk at target 0 is not listed: the ASPI drive is the only entry" \
    [ "$(drive_items)" = "TRELVIX CD-RW TV-4810   0.95   " ]
away
shot 1-aspi-panel

vt_sim_log_clear a1
click_child "text=Silence Mode"
click_control "$PANEL_CLASS" SpeedButton1 # "Set"
check "status line follows the mode set" wait_status "Current Speed = Silence Mode" 10000
check "the mode set went through ASPI" grep -q 'cdb=ff07b00000000000000000aa.*ha=0 target=1\|ha=0 target=1.*cdb=ff07b00000000000000000aa' "$(vt_sim_path a1).log"
check "the drive is in Silence Mode" [ "$(vt_sim_get a1 mode)" = silence ]
away
shot 2-aspi-silence
sys_quiet_end
vt_sim_win98 TrelvixVelotune.exe off
vt_sim_apply
sys_end
