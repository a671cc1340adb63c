#!/usr/bin/env bash
# Discovery that finds nothing: "DRIVE NOT FOUND!!" with caption "MESSAGE" when no
# drive answers (CD-ROM letters whose devices fail every command, or a drive that
# rejects the status read), and
# "ASPI Not Found!!" on the 95-family path without an ASPI layer. Each ends the
# panel with exit code 0 once the box is closed, and tells the launcher nothing
# beyond the 1027 of its start.
source "$(dirname "$0")/lib.sh"

trap 'cleanup_panel; listen_stop; probe_stop; vt_sim_win98 "$PANEL_EXE" off; vt_sim_no_cdrom d; vt_sim_apply' EXIT

# case NAME TEXT: start, expect the box, close it with its OK button
expect_box() {
    local name=$1 text=$2
    # a fresh listener for each case (its log holds this start's messages only),
    # started once the queued 95-family setting is written
    listen_stop
    probe_stop
    vt_sim_apply
    probe_start "$BUILD" || exit 1
    listen_start
    vt_sim_preload
    start_panel
    check "$name: \"$text\" with caption MESSAGE" probe messagebox-wait "$text" MESSAGE 30000
    printf '%s
' "$PROBE_OUT" | sed 's/^/     /'
    local box
    box=$(probe_get hwnd)
    shot "$name"
    probe toplevel
    check "$name: only one message box" eq \
        "$(echo "$PROBE_OUT" | grep $'\tclass=#32770\t' | grep -c $'\tvisible=1\t')" 1
    probe click-button "$box" - text=OK >/dev/null
    panel_wait
    check "$name: exit code 0 after OK" eq "$PANEL_RC" 0
    check "$name: the launcher heard 1027 once, and no 1026" eq \
        "$(listen_count 1027) $(listen_count 1026)" "1 0"
}

# no drive on any CD-ROM letter: every command fails at the transport
vt_sim_no_cdrom d
vt_sim_no_cdrom e
: >"$(vt_sim_gone).log"
expect_box none "DRIVE NOT FOUND!!"
check "none: the CD-ROM letters were asked for their status" \
    [ "$(grep -c 'cdb=ff07b1.*answer=gone' "$(vt_sim_gone).log")" -ge 2 ]

# a CD-ROM drive that does not complete the status read
vt_sim_drive d3 kind=twomode reject_status=1 >/dev/null
vt_sim_cdrom d d3
expect_box rejecting "DRIVE NOT FOUND!!"
check "rejecting: it was asked once, and not again" eq "$(vt_sim_count d3 'cdb=ff07b1')" 1
check "rejecting: nothing else was sent to it" eq "$(vt_sim_count d3)" 1

# the 95-family path, where Wine's own ASPI layer reports no adapters
vt_sim_drive d3 kind=twomode >/dev/null
vt_sim_win98 "$PANEL_EXE"
expect_box win98 "ASPI Not Found!!"
check "win98: the pass-through path was not used" eq "$(vt_sim_count d3)" 0

vt_end
