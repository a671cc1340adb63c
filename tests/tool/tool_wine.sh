#!/usr/bin/env bash
# tool_wine.sh BUILD_DIR SOURCE_DIR [NATIVE_DIR]: velotune.exe under Wine, through
# the real pass-through path (IOCTL_SCSI_PASS_THROUGH_DIRECT, which Wine hands to
# SG_IO) to simulated drives on drive letters. What the tool makes of a reply is
# tool_native.sh's, on the same simulated drives; here is what the Windows
# transport adds: the program file, drive letters, command blocks, directions
# and lengths in and out of the call, sense data, the time-out, the cdrom
# driver's requests that fall back to pass-through, and the exit codes of what
# the call gives back. D: two-mode, E: speed-list, F: a drive of another maker,
# G: one device after another, H:, I:, J: other makers' kinds (mmc).
set -u
source "$(dirname "$0")/../system/lib.sh"
VT_SIM_DIR=$(cd "$1" && pwd)/simdrives/tool
vt_setup "$@"
TOOL=$BUILD/dist/velotune.exe
# expect NAME WANT HAVE
expect() { check "$1" eq "$3" "$2"; }
# vt ARGS...: runs the tool once (through files, never pipes); RC, OUT and ERR
vt() {
    (cd "$BUILD/dist" && timeout 60 wine "$TOOL" "$@" >"$VT_SIM_DIR/out" 2>"$VT_SIM_DIR/err" </dev/null)
    RC=$?
    # A crash ends with status 0 under Wine; its report tells it.
    vt_crashed "$VT_SIM_DIR/err" && RC=crashed
    OUT=$(tr -d '\r' <"$VT_SIM_DIR/out")
    ERR=$(tr -d '\r' <"$VT_SIM_DIR/err")
}
cdbs() { vt_sim_log "$1" | grep -o 'cdb=[0-9a-f]*' | sed 's/cdb=//' | tr '\n' ' ' | sed 's/ $//'; }
STATUS=ff07b100000000000000ffaa
INQUIRY=120000002400
# shellcheck source=tests/tool/mmc_commands.sh
source "$SRC/tests/tool/mmc_commands.sh"

[ -f "$TOOL" ] || { echo "not built: $TOOL"; exit 1; }

# The program itself: a console program, run with the caller's rights, importing
# only DLLs that every Windows has as known system DLLs.
expect "a console program" "Windows CUI" \
    "$(x86_64-w64-mingw32-objdump -p "$TOOL" | sed -n 's/^Subsystem.*(\(.*\))$/\1/p')"
expect "imports only KERNEL32 and msvcrt" "KERNEL32.dll msvcrt.dll" \
    "$(x86_64-w64-mingw32-objdump -p "$TOOL" | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' ' | sed 's/ $//')"
expect "its manifest asks for asInvoker" "1" \
    "$(grep -ac 'requestedExecutionLevel level="asInvoker"' "$TOOL")"

vt_sim_drive tw kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_drive ts kind=speedlist speeds=8,16,24 current=24 vendor=TRELVIX \
    "product=CD-RW TV-5200" revision=2.10 >/dev/null
vt_sim_drive tf kind=twomode reject_status=1 vendor=OTHERCO "product=DVD-ROM" >/dev/null
vt_sim_drive tx kind=twomode mode=high >/dev/null
vt_sim_cdrom d tw
vt_sim_cdrom e ts
vt_sim_cdrom f tf
vt_sim_cdrom g tx
MMC_LETTERS="cd:H dvd:I empty:J"
for pair in $MMC_LETTERS; do vt_sim_cdrom "$(tr '[:upper:]' '[:lower:]' <<<"${pair#*:}")" "m_${pair%%:*}"; done
remove_letters() {
    local l
    for l in d e f g h i j; do vt_sim_no_cdrom "$l"; done
}
trap remove_letters EXIT
vt_sim_preload

# --- drive letters ------------------------------------------------------------------
vt list --device d --device f: --device E:
expect "list: a letter in each form names its drive, printed as X:; the other maker's drive sets exit 2" \
    "2|D:  TRELVIX DVD-RW TV-1620  1.03  two-mode    high
E:  TRELVIX CD-RW TV-5200   2.10  speed-list  speed 24" "$RC|$OUT"
expect "... which got INQUIRY and the status read only, and whose sense came through" \
    "$INQUIRY $STATUS|1" "$(cdbs tf)|$(grep -c '^velotune: F: not this maker.s drive (it refuses the status read, sense 5/20/00)$' <<<"$ERR")"
vt status --device q
expect "a letter without a drive: exit 2, said on stderr" "2|velotune: Q: no such device" "$RC|$ERR"

# --- the call: command blocks, directions, lengths, time-out ------------------------------
vt_sim_log_clear tw
vt set silence -v d:
expect "set -v: four commands; of the status reads' 255 bytes 6 came; the drive took the mode set" \
    "0|4|2|silence" \
    "$RC|$(grep -c '^velotune: D: cdb ' <<<"$ERR")|$(grep -c 'cdb FF 07 B1 00 00 00 00 00 00 00 FF AA: SCSI status 0x00, 6 of 255 bytes' <<<"$ERR")|$(vt_sim_get tw mode)"
expect "... each asked with the 60 s time-out, in the direction and length of its data" \
    "dir=in len=36 timeout=60000|dir=in len=255 timeout=60000|dir=in len=1024 timeout=60000" \
    "$(vt_sim_log tw | grep -o 'cdb=12[0-9a-f]* dir=[a-z]* len=[0-9]* timeout=[0-9]*' | head -n 1 | cut -d' ' -f2-)|$(vt_sim_log tw | grep -o "cdb=$STATUS dir=[a-z]* len=[0-9]* timeout=[0-9]*" | head -n 1 | cut -d' ' -f2-)|$(vt_sim_log tw | grep -o 'cdb=ff07b0[0-9a-f]* dir=[a-z]* len=[0-9]* timeout=[0-9]*' | cut -d' ' -f2-)"

# G: one device after another: what the Windows tool must tell apart.
vt_sim_drive tx kind=twomode mode=high status_len=2 >/dev/null
vt set silence --device g
expect "a status read that ends GOOD with 2 bytes is no answer: exit 2, no mode set" \
    "2|$INQUIRY $STATUS|velotune: G: not this maker's drive (its status reply is too short)" "$RC|$(cdbs tx)|$ERR"
vt_sim_drive tx kind=twomode mode=high inquiry_len=10 >/dev/null
vt status --json --device g
expect "a 10-byte INQUIRY: the two letters that came" '0|"model": "TR"' "$RC|$(grep -o '"model": [^,]*' <<<"$OUT")"
# (Wine hands the timed-out call back as ERROR_GEN_FAILURE, so the words differ
# from Windows' ERROR_SEM_TIMEOUT, which tool_windows_unit gives the seam.)
vt_sim_drive tx kind=twomode mode=high hang_ms=61000 >/dev/null
vt set silence --device g
expect "a drive past the 60 s time-out: exit 3 after the INQUIRY timed out, no mode set" \
    "3|1|$INQUIRY|high" \
    "$RC|$(vt_sim_log tx | grep -c "^cdb=$INQUIRY .*timeout=60000.*answer=timeout")|$(cdbs tx)|$(vt_sim_get tx mode)"
vt_sim_drive tx kind=twomode busy=always >/dev/null
vt status --device g
expect "a busy drive: exit 3" "3|velotune: G: the drive is busy" "$RC|$ERR"
vt_sim_drive tx kind=twomode mode=high unit_attention=1 sense_format=descriptor >/dev/null
vt set silence -v --device g
expect "unit attention once in descriptor format: sent again" \
    "0|$INQUIRY $INQUIRY $STATUS ff07b00000000000000000aa $STATUS" "$RC|$(cdbs tx)"
expect "... and -v shows both tries, the first with its sense" "2|1" \
    "$(grep -c '^velotune: G: cdb 12 00 00 00 24 00: ' <<<"$ERR")|$(grep -c 'cdb 12 00 00 00 24 00: SCSI status 0x02, sense 6/29/00' <<<"$ERR")"

# --- the cdrom driver's requests: Wine has none of them, so each command falls ---------
# back to pass-through and reaches the drive as the command block.
# mmc NAME KEYS "ARGS" WANT, as in tool_native.sh: the drive on its letter.
mmc() {
    local name=m_$1 keys=$2 args=$3 want=$4 letter="" pair
    for pair in $MMC_LETTERS; do [ "${pair%%:*}" = "$1" ] && letter=${pair#*:}:; done
    if [ "$keys" != - ]; then
        # shellcheck disable=SC2086 # the keys are words
        vt_sim_drive "$name" $keys >/dev/null
    fi
    vt_sim_log_clear "$name"
    read -ra words <<<"$args"
    vt "${words[@]}" "$letter"
    want=${want//@@/$letter}
    expect "mmc $1: $args" "${want//@/$letter}" "$RC|$(cdbs "$name")|$OUT|$ERR"
}
mmc_data() { vt_sim_log "m_$1" | grep -o 'data=[0-9a-f]*' | cut -d= -f2; }
# INQUIRY, GET CONFIGURATION, GET PERFORMANCE (type 0 and 3), SET CD SPEED, READ
# CAPACITY and SET STREAMING with its data out; MODE SENSE never had a request.
# shellcheck source=tests/tool/mmc_driver_rows.sh
source "$SRC/tests/tool/mmc_driver_rows.sh"
# A refusal with NOT READY sense, where the driver's own request would say ERROR_NOT_READY.
mmc empty "kind=mmc profile=0 needs_disc=1 perf=0 max_kbs=8467" "set 8x" \
    "3|$INQUIRY $GETCONF $CD8X||velotune: @@ no disc: the drive takes a speed only with a disc in it"

vt_end
