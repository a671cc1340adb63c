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
    "$RC|$(grep -cE '^  velotune (list   \[--json\] \[--device DEV\]\.\.\.|status \[--json\] \[--device DEV\]|set \(high \| silence \| SPEED\) \[--device DEV\]|--help \| --version)' <<<"$OUT")"
for args in "" "frobnicate" "list --bogus" "set" "status --device" "set high low" \
    "status --device a --device b" "--version list"; do
    read -ra words <<<"$args"
    vt "${words[@]}"
    expect "usage error [$args]: exit 1, message on stderr only" "1|yes|" \
        "$RC|$([[ $ERR == velotune:* ]] && echo yes)|$OUT"
done

# --- list ------------------------------------------------------------------------
fresh
vt list --device two.drive --device other.drive --device list.drive --device "$work/none" --device "$work/adir"
expect "list: the maker's drives among several, in order, exit 0" "0" "$RC"
expect "list: one aligned line each: device, model, kind, setting" \
    "two.drive   TRELVIX DVD-RW TV-1620  1.03  two-mode    high
list.drive  TRELVIX CD-RW TV-5200   2.10  speed-list  speed 24" "$OUT"
expect "list: the foreign drive got the status read only" "$STATUS" "$(cdbs other)"
expect "list: each of the maker's drives got status read and INQUIRY" "$STATUS $INQUIRY|$STATUS $INQUIRY" \
    "$(cdbs two)|$(cdbs list)"
expect "list: what it could not use is named on stderr" "3" "$(grep -c '^velotune: ' <<<"$ERR")"
expect "list: a path that is not a SCSI device is told apart" "1" "$(grep -c 'adir: not a SCSI device' <<<"$ERR")"

fresh
vt list --json --device two.drive --device list.drive
expect "list --json: an array of drive objects" \
    '0[{"device": "two.drive", "model": "TRELVIX DVD-RW TV-1620  1.03", "kind": "two-mode", "mode": "high"}, {"device": "list.drive", "model": "TRELVIX CD-RW TV-5200   2.10", "kind": "speed-list", "speed": 24, "speeds": [8, 16, 24]}]' \
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
expect "status sends exactly status read and INQUIRY" "$STATUS $INQUIRY" "$(cdbs list)"
vt status --json --device two.drive
expect "status --json: two-mode drive" \
    '0|{"device": "two.drive", "model": "TRELVIX DVD-RW TV-1620  1.03", "kind": "two-mode", "mode": "high"}' \
    "$RC|$OUT"
drive odd kind=twomode mode=silence \
    "inquiry_hex=05 80 05 32 1f 00 00 00 41 22 42 5c 01 7f c3 a9 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"
vt status --json --device odd.drive
expect "status --json: the model escaped, bytes outside printable ASCII as \\u00XX" \
    '0|{"device": "odd.drive", "model": "A\"B\\\u0001\u007F\u00C3\u00A9", "kind": "two-mode", "mode": "silence"}' \
    "$RC|$OUT"
vt status --device other.drive
expect "status of a foreign device: exit 2, status read only" "2|$STATUS" "$RC|$(cdbs other)"
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
expect "set sends status read, mode set 00, status read" "$STATUS $SET_SILENCE $STATUS" "$(cdbs two)"
expect "... and the drive took it" "mode=silence" "$(grep '^mode=' "$work/two.drive")"
: >"$work/two.drive.log"
vt set high --device two.drive
expect "set high: mode set FF" "0|$STATUS $SET_HIGH $STATUS" "$RC|$(cdbs two)"
vt set 16 --device list.drive
expect "set 16 on a speed-list drive: exit 0" "0|list.drive  speed 16" "$RC|$OUT"
expect "... mode set with byte 6 = 0x10" "$STATUS $SET_16 $STATUS" "$(cdbs list)"
fresh
vt set 17 --device list.drive
expect "a speed the drive does not list: exit 1 after the probe, naming its speeds" \
    "1|$STATUS|1" "$RC|$(cdbs list)|$(grep -c 'accepts one of its speeds: 8, 16, 24' <<<"$ERR")"
fresh
vt set silence --device list.drive
expect "silence on a speed-list drive: refused, exit 1" "1|$STATUS" "$RC|$(cdbs list)"
vt set 16 --device two.drive
expect "a speed on a two-mode drive: refused, exit 1" "1|$STATUS|1" \
    "$RC|$(cdbs two)|$(grep -c 'accepts high or silence' <<<"$ERR")"
fresh
vt set fast --device two.drive
expect "a value that is neither high, silence nor a number: exit 1, nothing sent" "1|" "$RC|$(cdbs two)"
vt set silence --device other.drive
expect "set on a foreign device: exit 2, no mode set" "2|$STATUS" "$RC|$(cdbs other)"
drive failing kind=twomode mode=high set_fails=1
vt set silence --device failing.drive
expect "a mode set that fails: exit 3" "3|$STATUS $SET_SILENCE" "$RC|$(cdbs failing)"
drive stuck kind=twomode "status_hex=00 04 00 00 00 ff"
vt set silence --device stuck.drive
expect "a read-back that differs: exit 3, saying what the drive reports" "3|1" \
    "$RC|$(grep -c 'the drive reports high' <<<"$ERR")"

# --- the Debian package (built by scripts/build.sh), unpacked, not installed ----------
deb=$(find "$native" -maxdepth 1 -name 'velotune_*_*.deb' | head -n 1)
if [ -n "$deb" ]; then
    expect "the package is named velotune_<version>_<arch>.deb" "velotune_1.0.1.3_$(dpkg --print-architecture).deb" \
        "$(basename "$deb")"
    expect "it holds the program, the man page and the udev example (documentation only)" \
        "./usr/bin/velotune ./usr/share/doc/velotune/60-velotune.rules.example ./usr/share/man/man1/velotune.1" \
        "$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -E 'bin/velotune$|velotune.1|rules' | sort | tr '\n' ' ' | sed 's/ $//')"
    expect "no udev rule is installed active" "" "$(dpkg-deb -c "$deb" | grep -E 'lib/udev|etc/udev')"
    rm -rf "$work/unpacked"
    dpkg-deb -x "$deb" "$work/unpacked"
    expect "the packaged program runs" "$VERSION_LINE" "$("$work/unpacked/usr/bin/velotune" --version)"
else
    check "a Debian package in $native (scripts/build.sh builds it)" false
fi
vt_end
