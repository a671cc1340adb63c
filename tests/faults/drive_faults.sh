#!/usr/bin/env bash
# Faults of the drive, with the panel and the launcher running:
#   1. the drive vanishes after discovery: Set and its status read fail, the
#      panel shows what it showed, the drive keeps its mode; back again, Set works;
#   2. the drive hangs past the 60 s pass-through time-out (the simulated drive
#      sees the time-out in the request and answers at once as timed out);
#   3. garbage status replies, on the running panel with the mouse (a sample),
#      and on the drive layer through the same pass-through path for every reply
#      length 0..255 and every byte 1 value (fault_garbage.exe).
# After each case both programs answer and no setting is lost.
set -u
source "$(dirname "$0")/../acceptance/lib.sh"
sys_init "$1" "$2" "${3:-}" fault_drive
sys_install 1
vt_sim_drive d1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_drive g1 kind=twomode mode=high >/dev/null
vt_sim_cdrom d d1
vt_sim_cdrom g g1
vt_sim_preload

both_answer() {
    check "$1: panel answers" pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"
    check "$1: launcher answers" pr0 alive - "$LAUNCHER_TITLE"
}

launcher
check "panel opens" wait_panel
check "panel shows High Speed Mode" wait_status "Current Speed = High Speed Mode"
silence() { click_child "text=Silence Mode"; }
high() { click_child "text=High Speed Mode"; }
set_click() { click_control "$PANEL_CLASS" SpeedButton1; }
# Set is handled in one go: mode set, status read, status line. Once the drive
# logged the status read and the panel answers a message sent after the click,
# the refresh is done and its result is on screen.
status_read_logged() { grep -q 'cdb=ff07b1' "$(vt_sim_path d1).log"; }
refreshed() { until_ok 10 status_read_logged && pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"; }

# 1. The drive vanishes.
vt_sim_log_clear d1
vt_sim_set d1 gone=1
silence
set_click
check "vanished: the panel tried its refresh" refreshed
check "vanished: the mode set was tried" grep -q 'cdb=ff07b0' "$(vt_sim_path d1).log"
check "vanished: status line unchanged" [ "$(status_line)" = "Current Speed = High Speed Mode" ]
check "vanished: the drive keeps High Speed Mode" [ "$(vt_sim_get d1 mode)" = high ]
both_answer vanished
shot 1-vanished
vt_sim_unset d1 gone
set_click
check "back: Set works again" wait_status "Current Speed = Silence Mode" 10000
check "back: the drive is in Silence Mode" [ "$(vt_sim_get d1 mode)" = silence ]

# 2. The drive hangs past the time-out.
vt_sim_log_clear d1
vt_sim_set d1 hang_ms=61000
high
set_click
check "hang: the panel tried its refresh" refreshed
check "hang: the drive saw the 60 s time-out in the mode set" grep -q 'cdb=ff07b0.*timeout=60000.*answer=timeout' "$(vt_sim_path d1).log"
check "hang: and in the status read after it" grep -q 'cdb=ff07b1.*timeout=60000.*answer=timeout' "$(vt_sim_path d1).log"
check "hang: status line unchanged" [ "$(status_line)" = "Current Speed = Silence Mode" ]
check "hang: the drive keeps Silence Mode" [ "$(vt_sim_get d1 mode)" = silence ]
both_answer hang
shot 2-hang
vt_sim_unset d1 hang_ms
set_click
check "after the hang: Set works again" wait_status "Current Speed = High Speed Mode" 10000

# 3a. Garbage replies on the running panel: every refresh must show one of the
# panel's own texts, and the panel keeps answering.
garbage_case() { # LENGTH HEX...
    local len=$1
    shift
    vt_sim_log_clear d1
    vt_sim_set d1 "status_len=$len" "status_hex=$*"
    set_click
    check "garbage len $len: the refresh happened" refreshed
    local s
    s=$(status_line)
    check "garbage len $len [$*]: status line \"$s\" is one of the panel's texts" \
        grep -qxE 'Current Speed = (High Speed Mode|Silence Mode| ?[0-9]{1,3})' <<<"$s"
    check "garbage len $len: panel answers" pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"
}
garbage_case 0 00
garbage_case 1 00
garbage_case 2 00 04
garbage_case 5 00 04 ff ff ff
garbage_case 6 00 ff 11 22 33 44
garbage_case 6 7f 00 11 22 33 fe
garbage_case 12 00 fe 01 02 03 09 0a 0b 0c 0d 0e 0f
long=()
for i in $(seq 0 254); do long+=("$(printf '%02x' $(((i * 37 + 5) % 256)))"); done
garbage_case 255 "${long[@]}"
shot 3-garbage
vt_sim_unset d1 status_len status_hex
vt_sim_set d1 mode=high
both_answer garbage
check "launcher still ends cleanly with Exit" pr0 post - "$LAUNCHER_TITLE" 273 103 0
check "panel ended by Exit" pr0 wait-gone "$PANEL_CLASS" "$PANEL_TITLE" 10000
check "launcher ended by Exit" pr0 wait-gone - "$LAUNCHER_TITLE" 10000
check "no setting lost: autorun still 1" pr0 regexpect "$PRODUCT_KEY" autorun 4 dword:1

# 3b. Every length and every byte 1 value, on the drive layer itself.
vt_sim_log_clear g1
vt_sim_set d1 reject_status=1 # only g: is found by this discovery
(cd "$SYS_B/faults" && wine ./fault_garbage.exe g "$(vt_sim_winpath "$(vt_sim_path g1)")" </dev/null >"$ART/garbage.raw" 2>/dev/null)
out=$(tr -d '\r' <"$ART/garbage.raw")
printf '%s\n' "$out" | tail -n 22
check "garbage replies of every length and byte 1 value: all shown sanely" grep -q '^cases: 65536, bad: 0$' <<<"$out"
check "each of them reached the drive" [ "$(vt_sim_count g1 'cdb=ff07b1')" -ge 65536 ]
vt_sim_log_clear g1
vt_sim_unset d1 reject_status
sys_end
