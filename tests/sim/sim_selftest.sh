#!/usr/bin/env bash
# sim_selftest.sh BUILD_DIR NATIVE_DIR: checks the SG_IO emulator and the sim.sh
# helpers on Linux, without Wine, through vtsim_send.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../system/wineenv.sh"
vt_init "$1"
# No Wine here: a prefix that does not exist, so the helpers' clean-up of what
# an earlier script left in the tests' prefix has nothing to do and starts no
# Wine (this test runs after the shared Wine environment has been taken down).
WINEPREFIX=$VT_BUILD/simdrives/selftest-no-prefix
export WINEPREFIX
source "$here/../system/lib.sh"
source "$here/sim.sh"
VT_SIM_DIR=$VT_BUILD/simdrives/selftest
rm -rf "$VT_SIM_DIR"
vt_sim_init "${2:-$VT_BUILD/native}"
send_tool=$(dirname "$VT_SIM_LIB")/vtsim_send

expect() { check "$1" eq "$3" "$2"; } # expect NAME EXPECTED ACTUAL

send() { LD_PRELOAD=$VT_SIM_LIB "$send_tool" "$(vt_sim_path "$1")" "${@:2}"; }
field() { tr ' ' '\n' | sed -n "s/^$1=//p"; }

STATUS=ff07b100000000000000ffaa
INQUIRY=120000002400
set_cdb() { echo "ff07b0000000${1}00000000aa"; }

if [ ! -x "$send_tool" ] || [ ! -f "$VT_SIM_LIB" ]; then
    echo "native part not built"
    exit 1
fi

# Two-mode drive: status read, mode set, persisted state, log lines.
vt_sim_drive two kind=twomode mode=high >/dev/null
expect "two-mode reply" "rc=0 errno=0 status=0 resid=249 sense=00/00/00 sb= reply=0004000000ff" \
    "$(send two $STATUS 255)"
expect "log line" "cdb=$STATUS dir=in len=255 timeout=60000 sense_max=24 answer=good" "$(vt_sim_log two)"
send two "$(set_cdb 00)" 1024 >/dev/null
expect "mode set stored" silence "$(vt_sim_get two mode)"
expect "silence reply" 000400000000 "$(send two $STATUS 255 | field reply)"
send two "$(set_cdb ff)" 1024 >/dev/null
expect "high again" high "$(vt_sim_get two mode)"
expect "command count" 4 "$(vt_sim_count two)"
expect "mode sets counted" 2 "$(vt_sim_count two 'cdb=ff07b0')"
expect "timeout carried" "30000" "$(send two $STATUS 255 in 30000 >/dev/null; vt_sim_log two | tail -1 | field timeout)"
vt_sim_log_clear two
expect "log cleared" 0 "$(vt_sim_count two)"

# Speed-list drive.
vt_sim_drive list kind=speedlist speeds=8,16,24,40 current=24 >/dev/null
expect "speed-list reply" 00080000001808101828 "$(send list $STATUS 255 | field reply)"
send list "$(set_cdb 28)" 1024 >/dev/null
expect "speed stored" 40 "$(vt_sim_get list current)"
vt_sim_drive empty kind=speedlist current=16 >/dev/null
expect "empty list is not two-mode" 010400000010 "$(send empty $STATUS 255 | field reply)"

# Failures and sense data.
vt_sim_drive rej reject_status=1 >/dev/null
expect "rejected status read" "rc=0 errno=0 status=2 resid=255 sense=05/20/00 sb=700005000000000a00000000200000000000 reply=" "$(send rej $STATUS 255)"
expect "logged as check" check "$(vt_sim_log rej | field answer)"
vt_sim_set rej status_sense=03,11,05
expect "own sense" 03/11/05 "$(send rej $STATUS 255 | field sense)"
vt_sim_unset rej reject_status
expect "unset" 0004000000ff "$(send rej $STATUS 255 | field reply)"
expect "unknown opcode" "2 05/20/00" "$(send rej 000000000000 0 none | field status) $(send rej 000000000000 0 none | field sense)"
vt_sim_drive desc unit_attention=1 sense_format=descriptor >/dev/null
expect "unit attention in descriptor format: 8 bytes, key/ASC/ASCQ in bytes 1 to 3, then good" \
    "2 7206290000000000|0004000000ff" \
    "$(send desc $STATUS 255 | field status) $(vt_sim_set desc unit_attention=1; send desc $STATUS 255 | field sb)|$(send desc $STATUS 255 | field reply)"
vt_sim_drive busy busy=1 >/dev/null
expect "busy once: status 8 without sense, then good" "8| good" \
    "$(send busy $STATUS 255 | field status)|$(send busy $STATUS 255 | field sb) $(vt_sim_log busy | tail -1 | field answer)"
vt_sim_drive tsf busy=always busy_status=0x28 >/dev/null
expect "task set full" 40 "$(send tsf $STATUS 255 | field status)"
vt_sim_drive host host_status=7 >/dev/null
expect "host error: no status, no data" "0 255 host" \
    "$(send host $STATUS 255 | field status) $(send host $STATUS 255 | field resid) $(vt_sim_log host | tail -1 | field answer)"
vt_sim_drive gone gone=1 >/dev/null
expect "gone drive" "rc=-1 errno=5" "$(send gone $STATUS 255 | cut -d' ' -f1-2)"
expect "gone logged" gone "$(vt_sim_log gone | field answer)"
vt_sim_drive hang hang_ms=20 >/dev/null
expect "slow drive answers" 0 "$(send hang $STATUS 255 | field status)"

# INQUIRY.
vt_sim_drive inq vendor=ACME product="CD WRITER" revision=1.2 type=5 >/dev/null
reply=$(send inq $INQUIRY 36 | field reply)
expect "inquiry length" 72 "${#reply}"
expect "inquiry type" 05 "${reply:0:2}"
expect "inquiry text" "ACME    CD WRITER       1.2 " "$(printf '%b' "$(printf '%s\n' "${reply:16}" | sed 's/../\\x&/g')")"
expect "allocation length" 058000321f "$(send inq 120000000500 36 | field reply)"
vt_sim_set inq inquiry_len=10
expect "inquiry cut to 10 bytes" 058000321f0000004143 "$(send inq $INQUIRY 36 | field reply)"
vt_sim_unset inq inquiry_len
vt_sim_set inq inquiry_fails=1
expect "inquiry fails" "2 05/24/00" "$(send inq $INQUIRY 36 | field status) $(send inq $INQUIRY 36 | field sense)"

# Raw and short replies never run past the buffer.
vt_sim_drive raw status_hex="01 ff 00 00 00 10 01 02 03 04 05 06 07 08 09 0a" >/dev/null
expect "raw reply cut to the length" "0 01ff00000010" \
    "$(send raw $STATUS 6 | grep -c OVERRUN) $(send raw $STATUS 6 | field reply)"
vt_sim_set raw status_len=3
expect "short reply" 01ff00 "$(send raw $STATUS 255 | field reply)"

# Only SG_IO on drive files is answered; everything else goes to the system.
expect "other ioctl passes through" "rc=-1 errno=25" "$(send two other)"
plain=$VT_SIM_DIR/plain.txt
echo data >"$plain"
expect "plain file passes through" "-1 25" \
    "$(LD_PRELOAD=$VT_SIM_LIB "$send_tool" "$plain" $STATUS 255 | field rc) $(LD_PRELOAD=$VT_SIM_LIB "$send_tool" "$plain" $STATUS 255 | field errno)"
expect "nothing logged for them" 0 "$(vt_sim_count two)"

# Registry and ASPI helpers (files only; nothing is started).
vt_sim_aspi_config adapters=2 delay_ms=3
vt_sim_aspi_target 0:1 two
expect "aspi config" "adapters=2|delay_ms=3|target=0:1 $(vt_sim_path two)" "$(paste -sd'|' "$VT_SIM_DIR/aspi.ini")"
expect "winpath" 'Z:\a\b c' "$(vt_sim_winpath '/a/b c')"

vt_end
