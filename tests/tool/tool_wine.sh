#!/usr/bin/env bash
# tool_wine.sh BUILD_DIR SOURCE_DIR [NATIVE_DIR]: velotune.exe under Wine, through
# the real pass-through path to simulated drives on drive letters: D: two-mode,
# E: speed-list, F: a drive of another maker. Every device is named with --device.
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
fresh() {
    vt_sim_drive tw kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
    vt_sim_drive ts kind=speedlist speeds=8,16,24 current=24 vendor=TRELVIX \
        "product=CD-RW TV-5200" revision=2.10 >/dev/null
    vt_sim_drive tf kind=twomode reject_status=1 vendor=OTHERCO "product=DVD-ROM" >/dev/null
}
STATUS=ff07b100000000000000ffaa
INQUIRY=120000002400

[ -f "$TOOL" ] || { echo "not built: $TOOL"; exit 1; }

# The program itself: a console program, run with the caller's rights, importing
# only DLLs that every Windows has as known system DLLs.
expect "a console program" "Windows CUI" \
    "$(x86_64-w64-mingw32-objdump -p "$TOOL" | sed -n 's/^Subsystem.*(\(.*\))$/\1/p')"
expect "imports only KERNEL32 and msvcrt" "KERNEL32.dll msvcrt.dll" \
    "$(x86_64-w64-mingw32-objdump -p "$TOOL" | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' ' | sed 's/ $//')"
expect "its manifest asks for asInvoker" "1" \
    "$(grep -ac 'requestedExecutionLevel level="asInvoker"' "$TOOL")"
fresh
vt_sim_cdrom d tw
vt_sim_cdrom e ts
vt_sim_cdrom f tf
vt_sim_cdrom g tx
# H: to O: the drive kinds of other makers (tests/tool/mmc_table.sh)
MMC_LETTERS="cd:H dvd:I dvdcd:J round:K refuse:L empty:M nocur:N changer:O"
for pair in $MMC_LETTERS; do vt_sim_cdrom "$(tr '[:upper:]' '[:lower:]' <<<"${pair#*:}")" "m_${pair%%:*}"; done
remove_letters() {
    local l
    for l in d e f g h i j k l m n o; do vt_sim_no_cdrom "$l"; done
}
trap remove_letters EXIT
vt_sim_preload

vt --version
expect "velotune.exe --version: version and commit" \
    "0|velotune 1.0.1.3 (commit $(git -C "$SRC" rev-parse --short=7 HEAD))" "$RC|$OUT"

vt list --device d --device f --device E:
expect "list: the two drives of the maker, by the names given; the other maker's drive named sets exit 2" "2|D:  TRELVIX DVD-RW TV-1620  1.03  two-mode    high
E:  TRELVIX CD-RW TV-5200   2.10  speed-list  speed 24" "$RC|$OUT"
expect "list: the other maker's drive got INQUIRY and the status read only" "$INQUIRY $STATUS" "$(cdbs tf)"

fresh
vt list --json --device e
expect "list --json" '0|[{"device": "E:", "vendor": "TRELVIX", "product": "CD-RW TV-5200", "revision": "2.10", "model": "TRELVIX CD-RW TV-5200   2.10", "kind": "speed-list", "mode": null, "speed": 24, "speeds": [8, 16, 24]}]' "$RC|$OUT"

fresh
vt status --json --device d:
expect "status --json of the two-mode drive" '0|{"device": "D:", "vendor": "TRELVIX", "product": "DVD-RW TV-1620", "revision": "1.03", "model": "TRELVIX DVD-RW TV-1620  1.03", "kind": "two-mode", "mode": "high", "speed": null, "speeds": []}' "$RC|$OUT"
expect "status sends INQUIRY and the status read" "$INQUIRY $STATUS" "$(cdbs tw)"
vt status --device e
expect "status of the speed-list drive lists its speeds" "0|speeds:  8 16 24" "$RC|$(grep speeds <<<"$OUT")"

fresh
vt set silence --device d
expect "set silence on the two-mode drive" "0|D:  silence|silence" "$RC|$OUT|$(vt_sim_get tw mode)"
expect "... INQUIRY, status read, mode set 00, status read" \
    "$INQUIRY $STATUS ff07b00000000000000000aa $STATUS" "$(cdbs tw)"
vt set 16 --device e
expect "set 16 on the speed-list drive" "0|E:  speed 16|16" "$RC|$OUT|$(vt_sim_get ts current)"
vt set high --device e
expect "high on the speed-list drive: refused (exit 1)" "1|16" "$RC|$(vt_sim_get ts current)"
fresh
vt set silence --device f
expect "set on the other maker's drive: exit 2, no mode set" "2|$INQUIRY $STATUS" "$RC|$(cdbs tf)"
vt status --device q
expect "a letter without a drive: exit 2, said on stderr" "2|velotune: Q: no such device" "$RC|$ERR"
vt list --all -j d f
expect "list --all: the other maker's drive as kind mmc" "0|1" "$RC|$(grep -c '"device": "F:", "vendor": "OTHERCO".*"kind": "mmc", "mode": null, "speed": null, "speeds": \[\], "medium": "unknown"' <<<"$OUT")"
vt set HIGH -v d
expect "-v under Wine: the four commands on stderr, with their bytes" "0|4|2" \
    "$RC|$(grep -c '^velotune: D: cdb ' <<<"$ERR")|$(grep -c 'cdb FF 07 B1 00 00 00 00 00 00 00 FF AA: SCSI status 0x00, 6 of 255 bytes' <<<"$ERR")"

# G: one device after another: what the Windows tool must tell apart.
vt_sim_drive tx kind=twomode mode=high status_len=2 >/dev/null
vt set silence --device g
expect "a status read that ends GOOD with 2 bytes is no answer: exit 2, no mode set" \
    "2|$INQUIRY $STATUS|velotune: G: not this maker's drive (its status reply is too short)" "$RC|$(cdbs tx)|$ERR"
vt_sim_drive tx kind=twomode mode=high type=0 >/dev/null
vt set silence --device g
expect "a direct-access device that answers the status read: INQUIRY only, exit 2" \
    "2|$INQUIRY|high" "$RC|$(cdbs tx)|$(vt_sim_get tx mode)"
vt_sim_drive tx kind=twomode busy=always >/dev/null
vt status --device g
expect "a busy drive: exit 3" "3|velotune: G: the drive is busy" "$RC|$ERR"
vt_sim_drive tx kind=twomode status_busy=always busy_sense=5,20,00 >/dev/null
vt status --device g
expect "BUSY with ILLEGAL REQUEST sense: busy (exit 3), as through SG_IO on Linux" \
    "3|velotune: G: the drive is busy" "$RC|$ERR"
vt_sim_drive tx kind=twomode mode=high unit_attention=1 sense_format=descriptor >/dev/null
vt set silence -v --device g
expect "unit attention once in descriptor format: sent again" \
    "0|$INQUIRY $INQUIRY $STATUS ff07b00000000000000000aa $STATUS" "$RC|$(cdbs tx)"
expect "... and -v shows both tries" "2" "$(grep -c '^velotune: G: cdb 12 00 00 00 24 00: ' <<<"$ERR")"
vt_sim_drive tx kind=twomode mode=high inquiry_len=10 >/dev/null
vt status --json --device g
expect "a 10-byte INQUIRY: the two letters that came" '0|"model": "TR"' "$RC|$(grep -o '"model": [^,]*' <<<"$OUT")"

# --- the drive kinds of other makers, through pass-through ---------------------------
# mmc NAME KEYS "ARGS" WANT, as in tool_native.sh: the drive on its letter.
mmc() {
    local name=m_$1 keys=$2 args=$3 want=$4 letter="" pair
    for pair in $MMC_LETTERS; do [ "${pair%%:*}" = "$1" ] && letter=${pair#*:}:; done
    if [ "${keys:0:1}" = + ]; then
        # shellcheck disable=SC2086 # the keys are words
        vt_sim_set "$name" ${keys:1}
    elif [ "$keys" != - ]; then
        # shellcheck disable=SC2086
        vt_sim_drive "$name" $keys >/dev/null
    fi
    vt_sim_log_clear "$name"
    read -ra words <<<"$args"
    vt "${words[@]}" "$letter"
    want=${want//@@/$letter}
    expect "mmc $1: $args" "${want//@/$letter}" "$RC|$(cdbs "$name")|$OUT|$ERR"
}
mmc_data() { vt_sim_log "m_$1" | grep -o 'data=[0-9a-f]*' | cut -d= -f2; }
source "$SRC/tests/tool/mmc_table.sh"

vt_end
