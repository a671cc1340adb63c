#!/usr/bin/env bash
# tool_native.sh NATIVE_DIR WORK_DIR: the Linux velotune through its real SG_IO
# path into simulated drives (plain files named with --device, answered by the
# SG_IO emulator). Never lets the tool search the machine's devices.
set -u
native=$(cd "$1" && pwd)
work=$2
tool=$native/velotune
preload=$native/sim/libvtsim_sgio.so
if [ ! -x "$tool" ] || [ ! -f "$preload" ]; then
    echo "native part not built: $tool $preload"
    exit 1
fi
source "$(dirname "$0")/../system/lib.sh"
rm -rf "$work"
mkdir -p "$work/adir"
cd "$work" || exit 1

# expect NAME WANT HAVE
expect() { check "$1" eq "$3" "$2"; }
# what --version says: the version header's version and the commit built from
VERSION_LINE="velotune 1.0.1.3 (commit $(git -C "$(dirname "$0")" rev-parse --short=7 HEAD))"
# vt ARGS...: runs the tool; RC, OUT and ERR hold what it did
vt() {
    OUT=$(LD_PRELOAD=$preload "$tool" "$@" 2>"$work/err")
    RC=$?
    ERR=$(cat "$work/err")
}
drive() { # drive NAME KEY=VALUE...: writes a drive file and empties its log
    local name=$1
    shift
    printf '%s\n' "$@" >"$work/$name.drive"
    : >"$work/$name.drive.log"
}
# the command blocks a drive received, in order, one line
cdbs() { grep -o 'cdb=[0-9a-f]*' "$work/$1.drive.log" | sed 's/cdb=//' | tr '\n' ' ' | sed 's/ $//'; }
STATUS=ff07b100000000000000ffaa
INQUIRY=120000002400
SET_HIGH=ff07b0000000ff00000000aa
SET_SILENCE=ff07b00000000000000000aa
SET_16=ff07b00000001000000000aa

fresh() {
    drive two kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03
    drive list kind=speedlist speeds=8,16,24 current=24 vendor=TRELVIX "product=CD-RW TV-5200" \
        revision=2.10
    drive other kind=twomode reject_status=1 vendor=OTHERCO "product=DVD-ROM" revision=9.99
}

# --- help, version, usage ------------------------------------------------------
vt --version
expect "--version prints the version and the commit" "0|$VERSION_LINE" "$RC|$OUT"
mkdir -p "$work/unpacked-source"
cmake -DSOURCE="$work/unpacked-source" -DOUTPUT="$work/commit.h" \
    -P "$(dirname "$0")/../../cmake/commit.cmake"
expect "a source tree outside a git checkout of its own names no commit" \
    '#define VELOTUNE_COMMIT_STR "unknown commit"' "$(grep COMMIT_STR "$work/commit.h")"
vt --help
expect "--help shows the synopsis, one line per command" "0|4" \
    "$RC|$(grep -cE '^  velotune (list   \[-j\] \[-v\|-q\] \[--all\] \[DEV\.\.\.\]|status \[-j\] \[-v\|-q\] \[DEV\]|set \(high \| silence \| SPEED \| Nx \| NkB \| max\) \[-j\] \[-v\|-q\] \[DEV\]|-h \| --help \| -V \| --version)' <<<"$OUT")"
for args in "" "frobnicate" "list --bogus" "set" "status --device" "set high a b" \
    "status --device a --device b" "status -x" "status --quiet --verbose" "status --all"; do
    read -ra words <<<"$args"
    vt "${words[@]}"
    expect "usage error [$args]: exit 1, one line on stderr only" "1|yes|1|" \
        "$RC|$([[ $ERR == velotune:* ]] && echo yes)|$(wc -l <<<"$ERR")|$OUT"
done
vt list --bogus
expect "an unknown option: named, with a pointer to --help" \
    "velotune: unknown option '--bogus'; try 'velotune --help'" "$ERR"
vt set --help
expect "--help after a command" "0|5" "$RC|$(grep -c '^  velotune ' <<<"$OUT")"
vt -V
expect "-V, as --version" "0|$VERSION_LINE" "$RC|$OUT"

# --- list ------------------------------------------------------------------------
fresh
vt list --device two.drive --device other.drive --device list.drive --device "$work/none" --device "$work/adir"
expect "list: the maker's drives among several, in order; exit 2, the largest code of those it could not use" "2" "$RC"
expect "list: one aligned line each: device, model, kind, setting" \
    "two.drive   TRELVIX DVD-RW TV-1620  1.03  two-mode    high
list.drive  TRELVIX CD-RW TV-5200   2.10  speed-list  speed 24" "$OUT"
expect "list: the foreign drive got INQUIRY and the status read only" "$INQUIRY $STATUS" "$(cdbs other)"
expect "list: each of the maker's drives got INQUIRY and the status read" "$INQUIRY $STATUS|$INQUIRY $STATUS" \
    "$(cdbs two)|$(cdbs list)"
expect "list: what it could not use is named on stderr" "3" "$(grep -c '^velotune: ' <<<"$ERR")"
expect "list: a path that is not a SCSI device is told apart" "1" "$(grep -c 'adir: not a SCSI device' <<<"$ERR")"

fresh
vt list --json --device two.drive --device list.drive
expect "list --json: an array of drive objects" \
    '0[{"device": "two.drive", "vendor": "TRELVIX", "product": "DVD-RW TV-1620", "revision": "1.03", "model": "TRELVIX DVD-RW TV-1620  1.03", "kind": "two-mode", "mode": "high", "speed": null, "speeds": []}, {"device": "list.drive", "vendor": "TRELVIX", "product": "CD-RW TV-5200", "revision": "2.10", "model": "TRELVIX CD-RW TV-5200   2.10", "kind": "speed-list", "mode": null, "speed": 24, "speeds": [8, 16, 24]}]' \
    "$RC$OUT"
vt list --json --device other.drive
expect "list --json with only a foreign device: [] and exit 2" "2|[]" "$RC|$OUT"
vt list --device "$work/none"
expect "list of a missing device: exit 2" "2" "$RC"

# --- status --------------------------------------------------------------------------
fresh
vt status --device list.drive
expect "status: speed-list drive, with its speeds" "0|device:  list.drive
model:   TRELVIX CD-RW TV-5200   2.10
kind:    speed-list
speed:   24
speeds:  8 16 24" "$RC|$OUT"
expect "status sends exactly INQUIRY and the status read" "$INQUIRY $STATUS" "$(cdbs list)"
vt status --json --device two.drive
expect "status --json: two-mode drive" \
    '0|{"device": "two.drive", "vendor": "TRELVIX", "product": "DVD-RW TV-1620", "revision": "1.03", "model": "TRELVIX DVD-RW TV-1620  1.03", "kind": "two-mode", "mode": "high", "speed": null, "speeds": []}' \
    "$RC|$OUT"
drive odd kind=twomode mode=silence \
    "inquiry_hex=05 80 05 32 1f 00 00 00 41 22 42 5c 01 7f c3 a9 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"
vt status --json --device odd.drive
expect "status --json: the model escaped, control characters as \\u00XX, UTF-8 as characters" \
    '0|{"device": "odd.drive", "vendor": "A\"B\\\u0001\u007Fé", "product": "", "revision": "", "model": "A\"B\\\u0001\u007Fé", "kind": "two-mode", "mode": "silence", "speed": null, "speeds": []}' \
    "$RC|$OUT"
vt status --device other.drive
expect "status of another maker's drive: kind mmc, exit 0, no command that changes anything" \
    "0|mmc|120000002400 ff07b100000000000000ffaa 46020107000000002000 ac1000000000000000100000 5a082a00000000010000" \
    "$RC|$(sed -n 's/^kind: *//p' <<<"$OUT")|$(cdbs other)"
vt status --device "$work/none"
expect "status of a missing device: exit 2" "2|velotune: $work/none: no such device" "$RC|$ERR"
vt status --device "$work/adir"
expect "status of a directory: exit 2, not a SCSI device" "2|velotune: $work/adir: not a SCSI device" \
    "$RC|$ERR"
echo "plain text" >"$work/plain.txt"
vt status --device "$work/plain.txt"
expect "status of a plain file: exit 2, not a SCSI device" "2|velotune: $work/plain.txt: not a SCSI device" \
    "$RC|$ERR"

# --- set -------------------------------------------------------------------------------
fresh
vt set silence --device two.drive
expect "set silence: exit 0, the setting read back" "0|two.drive  silence" "$RC|$OUT"
expect "set sends INQUIRY, status read, mode set 00, status read" "$INQUIRY $STATUS $SET_SILENCE $STATUS" "$(cdbs two)"
expect "... and the drive took it" "mode=silence" "$(grep '^mode=' "$work/two.drive")"
: >"$work/two.drive.log"
vt set high --device two.drive
expect "set high: mode set FF" "0|$INQUIRY $STATUS $SET_HIGH $STATUS" "$RC|$(cdbs two)"
vt set 16 --device list.drive
expect "set 16 on a speed-list drive: exit 0" "0|list.drive  speed 16" "$RC|$OUT"
expect "... mode set with byte 6 = 0x10" "$INQUIRY $STATUS $SET_16 $STATUS" "$(cdbs list)"
fresh
vt set 17 --device list.drive
expect "a speed the drive does not list: exit 1 after the probe, naming its speeds" \
    "1|$INQUIRY $STATUS|1" "$RC|$(cdbs list)|$(grep -c 'accepts one of its speeds: 8, 16, 24' <<<"$ERR")"
fresh
vt set silence --device list.drive
expect "silence on a speed-list drive: refused, exit 1" "1|$INQUIRY $STATUS" "$RC|$(cdbs list)"
vt set 16 --device two.drive
expect "a speed on a two-mode drive: refused, exit 1" "1|$INQUIRY $STATUS|1" \
    "$RC|$(cdbs two)|$(grep -c 'accepts high or silence' <<<"$ERR")"
fresh
vt set fast --device two.drive
expect "a value that is neither high, silence nor a number: exit 1, nothing sent" "1|" "$RC|$(cdbs two)"
vt set silence --device other.drive
expect "set on a foreign device: exit 2, no mode set" "2|$INQUIRY $STATUS" "$RC|$(cdbs other)"
drive failing kind=twomode mode=high set_fails=1
vt set silence --device failing.drive
expect "a mode set that fails: exit 3" "3|$INQUIRY $STATUS $SET_SILENCE" "$RC|$(cdbs failing)"
drive stuck kind=twomode "status_hex=00 04 00 00 00 ff"
vt set silence --device stuck.drive
expect "a read-back that differs: exit 3, saying what the drive reports" "3|1" \
    "$RC|$(grep -c 'the drive reports high' <<<"$ERR")"

# --- devices that are not the maker's drives, drives that do not answer ---------------
drive disk kind=twomode mode=high type=0 vendor=DISKCO
vt set silence --device disk.drive
expect "a disk that answers the status read: INQUIRY only, exit 2" \
    "2|$INQUIRY|high|velotune: disk.drive: not an optical drive" "$RC|$(cdbs disk)|$(grep '^mode=' "$work/disk.drive" | cut -d= -f2)|$ERR"
drive busy kind=twomode busy=always
vt status --device busy.drive
expect "a busy drive: exit 3, said in plain words" "3|velotune: busy.drive: the drive is busy" "$RC|$ERR"
drive full kind=twomode busy=always busy_status=0x28
vt status --device full.drive
expect "TASK SET FULL: busy as well" "3|velotune: full.drive: the drive is busy" "$RC|$ERR"
drive slow kind=twomode hang_ms=60000
vt status --device slow.drive
expect "a drive that times out: exit 3" "3|velotune: slow.drive: no answer within 60 s" "$RC|$ERR"
drive hosterr kind=twomode host_status=7
vt status --device hosterr.drive
expect "a host error: exit 3" "3|1" "$RC|$(grep -c 'host adapter or driver error' <<<"$ERR")"
drive notready kind=twomode reject_status=1 status_sense=02,3a,00
vt status --device notready.drive
expect "a status read refused NOT READY: exit 3, not a foreign drive" \
    "3|velotune: notready.drive: the drive is not ready (sense 2/3A/00)" "$RC|$ERR"
drive ten kind=twomode mode=high inquiry_len=10 vendor=TRELVIX
vt status --json --device ten.drive
expect "a 10-byte INQUIRY: the two letters that came" '0|"model": "TR"' "$RC|$(grep -o '"model": [^,]*' <<<"$OUT")"
drive eight kind=twomode mode=high inquiry_len=8
vt list --device eight.drive
expect "no model at all: '-' in the table" "0|eight.drive  -  two-mode  high" "$RC|$OUT"
vt status --json --device eight.drive
expect "... null in JSON" '0|"model": null' "$RC|$(grep -o '"model": [^,]*' <<<"$OUT")"
vt set silence --device eight.drive
expect "... and the drive stays usable" "0|eight.drive  silence" "$RC|$OUT"
fresh
vt list --device two.drive --device busy.drive --device "$work/none"
expect "several named devices: the largest code of those that failed" "3|two.drive" "$RC|$(cut -d' ' -f1 <<<"$OUT")"
nl="$work/new"$'\n'"line.drive"
cp "$work/two.drive" "$nl"
vt list --device "$nl"
expect "a control character in a device name prints as ?" "$work/new?line.drive" "$(cut -d' ' -f1 <<<"$OUT")"
vt list --json --device "$nl" --device "$work/bad"$'\e'"[31m"
expect "... JSON escapes it" "1" "$(grep -c 'new\\u000Aline.drive' <<<"$OUT")"
expect "... and a message shows it as ?" "velotune: $work/bad?[31m: no such device" "$ERR"
LD_PRELOAD=$preload "$tool" status --device two.drive >/dev/full 2>"$work/err"
expect "a failed write to stdout: exit 1, said on stderr" "1|1" "$?|$(grep -c 'cannot write to standard output' "$work/err")"

# --- options: devices as arguments, --, values in any case, -v, -q, --all, JSON ----------
fresh
vt set HIGH -d two.drive
expect "values are case-insensitive; -d names the device" "0|two.drive  high" "$RC|$OUT"
vt set Silence two.drive
expect "the device as the last argument" "0|two.drive  silence" "$RC|$OUT"
cp "$work/two.drive" "$work/-dash.drive"
vt status -- -dash.drive
expect "-- ends the options" "0|device:  -dash.drive" "$RC|$(head -n 1 <<<"$OUT")"
fresh
vt status -v two.drive
expect "-v: each command on stderr with its CDB, SCSI status and bytes" \
    "0|velotune: two.drive: cdb 12 00 00 00 24 00: SCSI status 0x00, 36 of 36 bytes
velotune: two.drive: cdb FF 07 B1 00 00 00 00 00 00 00 FF AA: SCSI status 0x00, 6 of 255 bytes" "$RC|$ERR"
vt status -v other.drive
expect "-v: the sense of a refusal" "1" "$(grep -c 'cdb FF 07 B1.*SCSI status 0x02, sense 5/20/00, 0 of 255 bytes' <<<"$ERR")"
vt set silence -q two.drive
expect "-q: no output, the exit code only" "0||" "$RC|$OUT|$ERR"
vt status -q "$work/none"
expect "-q on failure: the exit code only" "2||" "$RC|$OUT|$ERR"
fresh
vt list --all two.drive other.drive
expect "list --all: other makers' drives as kind mmc, exit 0" "0|two.drive    TRELVIX DVD-RW TV-1620  1.03  two-mode  high
other.drive  OTHERCO DVD-ROM         9.99  mmc       -" "$RC|$OUT"
vt list --all -j other.drive
expect "... in JSON with nulls where the drive says nothing" '0|[{"device": "other.drive", "vendor": "OTHERCO", "product": "DVD-ROM", "revision": "9.99", "model": "OTHERCO DVD-ROM         9.99", "kind": "mmc", "mode": null, "speed": null, "speeds": [], "medium": "unknown", "speed_kbs": null, "max_kbs": null, "speeds_kbs": [], "note": null}]' "$RC|$OUT"
vt set high -j other.drive
expect "set --json on failure: an error object with the exit code" \
    '2|{"error": {"device": "other.drive", "code": 2, "message": "not this maker'"'"'s drive (it refuses the status read, sense 5/20/00)"}}' "$RC|$OUT"
vt set 16 -j list.drive
expect "set --json: the drive as read back" "0|16|[8, 16, 24]" \
    "$RC|$(grep -o '"speed": [0-9]*' <<<"$OUT" | cut -d' ' -f2)|$(grep -o '\[[0-9, ]*\]' <<<"$OUT")"
vt set 17 -j list.drive
expect "set --json refused: exit 1 in the error object" "1|1" "$RC|$(grep -c '"code": 1, "message": "it is a speed-list drive' <<<"$OUT")"

# --- any other optical drive (kind mmc): the table of drive kinds ----------------------
# mmc NAME KEYS "ARGS" WANT: a fresh drive (KEYS "-" keeps the last one's state, "+K=V"
# adds keys to it), the tool run once on it; WANT is "RC|COMMANDS SENT|STDOUT|STDERR",
# with @ for the device as printed and @@ for it as a message names it.
mmc() {
    local name=$1 keys=$2 args=$3 want=$4
    if [ "${keys:0:1}" = + ]; then
        read -ra extra <<<"${keys:1}"
        printf '%s\n' "${extra[@]}" >>"$work/$name.drive"
    elif [ "$keys" != - ]; then
        read -ra k <<<"$keys"
        drive "$name" "${k[@]}"
    fi
    : >"$work/$name.drive.log"
    read -ra words <<<"$args"
    vt "${words[@]}" "$name.drive"
    want=${want//@@/$name.drive:}
    expect "mmc $name: $args" "${want//@/$name.drive}" "$RC|$(cdbs "$name")|$OUT|$ERR"
}
# mmc_data NAME WANT: the data the last command with data out carried
mmc_data() { grep -o 'data=[0-9a-f]*' "$work/$1.drive.log" | cut -d= -f2; }
source "$(dirname "$0")/mmc_table.sh"
# apply: after a disc change the line is given again; an empty drive and one that
# takes no speed command are left alone, with exit 0 (the disc's arrival applies it)
printf '%s\n' '*changer.drive 8x' '*empty.drive 8x' '*refuse.drive max' >"$work/mmc.conf"
mmc changer +disc_change=1 "apply --config mmc.conf" "0|$INQUIRY $INQUIRY $GETCONF $CD8X $PAGE2A|@  8x|"
drive noconf kind=mmc getconf=0 perf=0 speed_kbs=704
echo '*noconf.drive 8x' >>"$work/mmc.conf"
vt apply --config mmc.conf empty.drive refuse.drive noconf.drive
expect "apply: an empty drive, one without speed commands, one without a medium for 8x: left alone, exit 0" "0||velotune: empty.drive: left alone: no disc: the drive takes a speed only with a disc in it
velotune: refuse.drive: left alone: the drive takes no speed command
velotune: noconf.drive: left alone: the drive does not say which medium it holds: give the speed in kB/s, such as 1411kB" "$RC|$OUT|$ERR"
mmc changer - "apply --config mmc.conf -j" '0|'"$INQUIRY $GETCONF $CD8X $PAGE2A"'|[{"device": "@", "vendor": "OTHERCO", "product": "CD-ROM", "revision": "1.00", "model": "OTHERCO CD-ROM          1.00", "kind": "mmc", "mode": null, "speed": 8, "speeds": [], "medium": "cd", "speed_kbs": 1411, "max_kbs": 8467, "speeds_kbs": [], "note": null, "confirmed": true}]|'

# --- apply: the configuration's first matching line, by the steps of set ------------------
fresh
drive plain kind=twomode mode=high vendor=TRELVIX "product=DVD-ROM TV-0001" revision=1.00
drive misfit kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-7777" revision=1.00
cat >"$work/velotune.conf" <<'CONF'
# the drives of this test

*/two.drive   SILENCE   # the path with its links resolved
*TV-5200*     16        # the model
*TV-7777*     24        # a speed for a two-mode drive
other.drive   high      # the path as given, another maker's drive
CONF
vt apply --config velotune.conf two.drive list.drive plain.drive misfit.drive other.drive
expect "apply: exit 0, each drive it switched as read back" "0|two.drive  silence
list.drive  speed 16" "$RC|$OUT"
expect "... the matching drives: INQUIRY, status read, mode set, read-back" \
    "$INQUIRY $STATUS $SET_SILENCE $STATUS|$INQUIRY $STATUS $SET_16 $STATUS" "$(cdbs two)|$(cdbs list)"
expect "... a drive no line names: INQUIRY only; the others: only what tells them apart" \
    "$INQUIRY|$INQUIRY $STATUS|$INQUIRY $STATUS" "$(cdbs plain)|$(cdbs misfit)|$(cdbs other)"
expect "... each left alone with its reason on stderr" \
    "velotune: plain.drive: left alone: no line of velotune.conf matches it
velotune: misfit.drive: left alone: velotune.conf line 5 asks for speed 24, but it is a two-mode drive, which accepts high or silence
velotune: other.drive: left alone: not this maker's drive (it refuses the status read, sense 5/20/00)" "$ERR"
fresh
vt apply --json --config velotune.conf two.drive plain.drive
expect "apply --json: the array of drives it switched" \
    '0|[{"device": "two.drive", "vendor": "TRELVIX", "product": "DVD-RW TV-1620", "revision": "1.03", "model": "TRELVIX DVD-RW TV-1620  1.03", "kind": "two-mode", "mode": "silence", "speed": null, "speeds": []}]' \
    "$RC|$OUT"
fresh
vt apply -q --config velotune.conf two.drive plain.drive
expect "apply -q: the exit code only" "0||" "$RC|$OUT|$ERR"
fresh
vt apply -v --config velotune.conf list.drive
expect "apply -v: each of the four commands on stderr" "4" "$(grep -c '^velotune: list.drive: cdb ' <<<"$ERR")"
drive failing kind=twomode mode=high set_fails=1
echo "*failing.drive silence" >"$work/failing.conf"
vt apply --config failing.conf two.drive failing.drive
expect "apply: a mode set that fails ends with exit 3" "3|$INQUIRY $STATUS $SET_SILENCE" "$RC|$(cdbs failing)"
fresh
printf '# nothing here\n#/dev/sr0 silence\n\n' >"$work/empty.conf"
vt apply --config empty.conf two.drive list.drive
expect "apply without an active line: exit 0, no command sent" "0|||" "$RC|$OUT|$(cdbs two)|$(cdbs list)"
printf '*two.drive silence\n\n/dev/sr0 fast\n' >"$work/bad.conf"
vt apply --config bad.conf two.drive
expect "a configuration error: exit 1 naming file and line, no command sent" \
    "1|velotune: bad.conf:3: MODE is high, silence, a speed from 1 to 255, Nx, NkB or max, not fast|" "$RC|$ERR|$(cdbs two)"
vt apply --config "$work/none.conf" two.drive
expect "a configuration that cannot be read: exit 1" "1|0" "$RC|$(grep -c . "$work/two.drive.log")"
vt apply --config /dev/zero two.drive
expect "a device is no configuration: exit 1" "1|velotune: /dev/zero: not used as the configuration: not a regular file" "$RC|$ERR"

# --- apply: lines matched before commands; a drive no line names gets INQUIRY at most --------
fresh
echo '/dev/disk/by-id/*NOTHERE* silence' >"$work/nothere.conf"
vt apply --config nothere.conf two.drive list.drive other.drive
expect "apply with a line that names no drive: only INQUIRY reaches the drives, exit 0" \
    "0|$INQUIRY|$INQUIRY|$INQUIRY" "$RC|$(cdbs two)|$(cdbs list)|$(cdbs other)"
expect "... each drive named as left alone, never 'no drive found'" "3|0" \
    "$(grep -c ': left alone: no line of nothere.conf matches it$' <<<"$ERR")|$(grep -c 'no drive found' <<<"$ERR")"
vt apply --config nothere.conf two.drive "$work/none"
expect "apply with a named device that is missing: exit 2" "2|1" "$RC|$(grep -c 'none: no such device' <<<"$ERR")"
fresh
printf '*/two.drive silence\n*TV-5200* 16\n*TV-1620* high\n*OTHERCO* high\n[oops high\n' >"$work/check.conf"
vt apply --check --config check.conf two.drive list.drive other.drive
expect "apply --check: each line and the drives it names" "0|check.conf:1: */two.drive silence: names two.drive
check.conf:2: *TV-5200* 16: names list.drive
check.conf:3: *TV-1620* high: names two.drive
check.conf:4: *OTHERCO* high: names other.drive
check.conf:5: [oops high: names no drive" "$RC|$OUT"
expect "... INQUIRY at most, and the drives as they were" "$INQUIRY|$INQUIRY|$INQUIRY|high" \
    "$(cdbs two)|$(cdbs list)|$(cdbs other)|$(grep '^mode=' "$work/two.drive" | cut -d= -f2)"
expect "... warnings with FILE:LINE: a '[' never closed, a drive two lines name" "2" \
    "$(grep -cE "^velotune: check.conf:5: warning: the '\[' in \[oops is never closed|^velotune: check.conf:3: warning: two.drive is named by line 1 already" <<<"$ERR")"
vt apply --check -j --config check.conf two.drive
expect "apply --check --json: an array of lines" "0|5|two.drive" \
    "$RC|$(jq length <<<"$OUT")|$(jq -r '.[0].devices[0]' <<<"$OUT")"

# --- the configuration is trusted only as a file of root's own --------------------------------
fresh
printf '*two.drive silence\n' >"$work/trust.conf"
chmod 0666 "$work/trust.conf"
vt apply --config trust.conf two.drive
expect "a world-writable configuration: refused, exit 1, nothing sent" \
    "1|velotune: trust.conf: not used as the configuration: writable by others (chmod go-w)|" "$RC|$ERR|$(cdbs two)"
chmod 0620 "$work/trust.conf"
vt apply --config trust.conf two.drive
expect "a group-writable configuration: refused" "1|1" "$RC|$(grep -c 'writable by its group' <<<"$ERR")"
chmod 0644 "$work/trust.conf"
chown nobody "$work/trust.conf"
vt apply --config trust.conf two.drive
expect "a configuration owned by another user: refused" \
    "1|velotune: trust.conf: not used as the configuration: owned by user $(id -u nobody), not by root|" "$RC|$ERR|$(cdbs two)"
chown root "$work/trust.conf"
mkfifo "$work/fifo.conf"
OUT=$(LD_PRELOAD=$preload timeout 10 "$tool" apply --config fifo.conf two.drive 2>"$work/err")
RC=$?
expect "a FIFO as the configuration: refused at once, not waited on" \
    "1|velotune: fifo.conf: not used as the configuration: not a regular file" "$RC|$(cat "$work/err")"
printf '\xef\xbb\xbf*two.drive silence\n' >"$work/bom.conf"
vt apply --config bom.conf two.drive
expect "a byte-order mark before the first line: skipped, the line applies" "0|two.drive  silence" "$RC|$OUT"
fresh
printf '*list.drive 16\n*\0garbage silence\n' >"$work/nul.conf"
vt apply --config nul.conf two.drive list.drive
expect "a NUL byte: an error with FILE:LINE, nothing sent" \
    "1|velotune: nul.conf:2: a NUL byte in the line: not a configuration||" "$RC|$ERR|$(cdbs two)|$(cdbs list)"

# --- two runs at once on one drive: the second waits, never a wrong read-back -----------------
fresh
printf '*two.drive silence\n' >"$work/race.conf"
for i in $(seq 1 25); do
    (LD_PRELOAD=$preload "$tool" apply --config race.conf two.drive >/dev/null 2>"$work/race-a$i"
        echo $? >>"$work/race-a$i") &
    (LD_PRELOAD=$preload "$tool" set high two.drive >/dev/null 2>"$work/race-s$i"
        echo $? >>"$work/race-s$i") &
done
wait
expect "50 runs at once: every one ends 0, none reads back what the other set" "50|0" \
    "$(cat "$work"/race-* | grep -cx 0)|$(cat "$work"/race-* | grep -c 'drive reports')"

# --- --json: every failure path writes one JSON document -----------------------------------------
fresh
printf '# nothing active\n' >"$work/none.conf"
chmod 0666 "$work/trust.conf"
for args in "status -j --bogus" "-j frobnicate" "list --bogus -j" "set fast -j two.drive" \
    "status -j $work/none" "set silence -j other.drive" "status -j busy.drive" "list -j $work/none" \
    "apply -j --config none.conf" "apply -j --config missing.conf" "apply -j --config bad.conf" \
    "apply -j --config trust.conf two.drive" "apply -j --config nothere.conf two.drive" \
    "apply -j --config velotune.conf $work/none" "set 99 -j list.drive"; do
    read -ra words <<<"$args"
    vt "${words[@]}"
    expect "--json [$args]: one JSON document on stdout, exit $RC" "1" "$(jq -s length <<<"$OUT" 2>&1)"
done
vt apply -j --config none.conf
expect "apply -j with no active line: []" "0|[]" "$RC|$OUT"
vt status -j --bogus
expect "status -j --bogus: the error document, code 1" "1|1" "$RC|$(jq .error.code <<<"$OUT")"
vt status -jq --bogus
expect "... and with -q, nothing on stdout" "1|" "$RC|$OUT"

# --- one exit code for one reply on both transports; -v shows every try -----------------------
drive busysense kind=twomode status_busy=always busy_sense=5,20,00
vt status busysense.drive
expect "BUSY with ILLEGAL REQUEST sense: busy (exit 3), not another maker's drive" \
    "3|velotune: busysense.drive: the drive is busy" "$RC|$ERR"
drive uav kind=twomode mode=high unit_attention=1
vt status -v uav.drive
expect "-v: every try of a repeated command" "2|1" \
    "$(grep -c 'cdb 12 00 00 00 24 00: ' <<<"$ERR")|$(grep -c 'cdb 12 00 00 00 24 00: SCSI status 0x02, sense 6/29/00' <<<"$ERR")"
drive bidi kind=twomode mode=high vendor=TRELVIX $'product=EVIL\xe2\x80\xaeTXT' revision=1.00
vt list bidi.drive
expect "a bidirectional control in a model prints as ?, as control characters do" "0|1" \
    "$RC|$(grep -c 'TRELVIX EVIL?TXT' <<<"$OUT")"

vt_end
