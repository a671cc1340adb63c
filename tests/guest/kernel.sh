#!/usr/bin/env bash
# kernel.sh NATIVE_DIR WORK_DIR: the tool, built static, in a busybox initramfs
# on a real kernel under QEMU, against QEMU's own drives through the kernel's
# CD-ROM, SCSI generic, libata and USB storage drivers. Each case below runs in
# one boot; QEMU's trace of the commands each device received is the witness.
set -u
source "$(dirname "$0")/lib.sh"
native=$(cd "$1" && pwd)
w=$2
rm -rf "$w" && mkdir -p "$w/payload" || exit 1

# The drives: label, how QEMU makes it, and the trace's name for it.
drives=(empty iso disk ide usb)
declare -A qdev=(
    [empty]="-drive if=none,id=empty,media=cdrom,readonly=on -device scsi-cd,bus=vs.0,scsi-id=1,drive=empty"
    [iso]="-drive if=none,id=iso,media=cdrom,readonly=on,format=raw,file=$w/disc.iso -device scsi-cd,bus=vs.0,scsi-id=2,drive=iso"
    [disk]="-drive if=none,id=disk,format=raw,file=$w/disk.img -device scsi-hd,bus=vs.0,scsi-id=3,drive=disk"
    [ide]="-drive if=none,id=ide,media=cdrom,readonly=on,format=raw,file=$w/disc.iso -device ide-cd,bus=ide.1,drive=ide"
    [usb]="-device usb-bot,id=ub,bus=xhci.0 -drive if=none,id=usb,media=cdrom,readonly=on,format=raw,file=$w/disc.iso -device scsi-cd,bus=ub.0,scsi-id=0,drive=usb"
)
declare -A traced=([empty]=t1 [iso]=t2 [disk]=t3 [ide]=atapi [usb]=t0)
cds="iso,empty,ide,usb"

# The cases. WHO: root; user (may write the node); rawio (may write it, and
# keeps CAP_SYS_RAWIO). DRIVES and NODE (sr, sg or sd): the drives the row runs
# on, each through that node, which replaces @; "-" for a search, whose
# commands are checked on every CD drive. EXIT, WORDS (";" between them, all in
# the output), and the opcodes (hex) the drive must and must not receive.
# QEMU's drives are not this maker's: they refuse the vendor opcode ff.
cases="
# who            | drives  | node | command                             | exit | words                                   | must  | must not
root,rawio       | $cds    | sr   | status --device @                   | 0    | kind:    mmc;medium:                    | 12 ff | -
root,user,rawio  | $cds    | sg   | status --device @                   | 0    | kind:    mmc                            | 12 ff | -
user             | $cds    | sr   | status --device @                   | 0    | kind:    mmc;the maker's modes need root | 12   | ff
root,user,rawio  | $cds    | sg   | status --json --device @            | 0    | \"kind\": \"mmc\";\"max_kbs\"         | 12 ff | -
user             | $cds    | sr   | status --json --device @            | 0    | \"note\": \"the maker's modes need root\" | 12 | ff
root,rawio       | $cds    | sr   | set high --device @                 | 2    | not this maker's drive                  | 12 ff | -
root,user        | $cds    | sg   | set silence --device @              | 2    | not this maker's drive                  | 12 ff | -
user             | $cds    | sr   | set high --device @                 | 4    | not permitted                           | 12    | ff
root,rawio       | $cds    | sr   | list --device @                     | 2    | not this maker's drive                  | 12 ff | -
root,user        | $cds    | sg   | list --all --device @               | 0    | QEMU;mmc                                | 12 ff | -
user             | $cds    | sr   | list --all --device @               | 0    | QEMU;mmc                                | 12    | ff
root             | $cds    | sg   | list --all --json --device @        | 0    | QEMU;\"device\"                         | 12 ff | -
root,user,rawio  | $cds    | sg   | apply --config /payload/vt.conf --device @ | 0 | left alone: not this maker's drive | 12 ff | -
root             | $cds    | sr   | apply --config /payload/vt.conf --device @ | 0 | left alone: not this maker's drive | 12 ff | -
user             | $cds    | sr   | apply --config /payload/vt.conf --device @ | 4 | not permitted                      | 12    | ff
root,rawio       | -       | -    | list                                | 2    | optical drives of other makers          | 12 ff | -
root             | -       | -    | list --all                          | 0    | /dev/sr0;/dev/sr3;QEMU                  | 12 ff | -
user             | -       | -    | list --all --json                   | 0    | the maker's modes need root             | 12    | ff
root             | -       | -    | apply --config /payload/vt.conf     | 0    | left alone                              | 12 ff | -
root             | $cds    | sr   | apply --config /payload/none.conf --device @ | 0 | left alone                         | -     | ff
root,user        | -       | -    | apply --config /payload/none.conf   | 0    | left alone                              | -     | ff
root,user,rawio  | disk    | sg   | status --device @                   | 2    | not an optical drive                    | 12    | ff
root             | disk    | sd   | list --all --device @               | 2    | not an optical drive                    | 12    | ff
# read speeds: no vendor command; the SCSI drive refuses the speed commands,
# the ATAPI drive takes SET CD SPEED and keeps its speed
root,user        | iso,usb | sr   | set 8x --device @                   | 2    | the drive takes no speed command        | 46 bb | ff b6
user             | iso     | sg   | set max --device @                  | 2    | the drive takes no speed command        | 46 bb | ff
root             | empty   | sr   | set 8x --device @                   | 3    | no disc: the drive takes a speed only with a disc in it | bb | ff
root,user        | ide     | sr   | set 1411kB --device @               | 0    | 1411 kB/s asked, the drive reads at 704 kB/s | bb | ff b6
root             | ide     | sr   | set max --json --device @           | 0    | \"speed_kbs\": 704;\"confirmed\": true  | bb    | ff
root             | ide     | sr   | set 8x --device @                   | 1    | kB                                      | 46    | ff bb
root             | iso     | sr   | apply --config /payload/speed.conf --device @ | 0 | left alone: the drive takes no speed command | bb | ff
root             | ide     | sr   | apply --config /payload/speed.conf --device @ | 0 | 704 kB/s                         | bb    | ff
"

# --- the images and the payload ------------------------------------------------
start=$SECONDS
vt_kernel || vt_fail "the kernel is fetched and unpacked"
initrd=$(vt_initramfs) || vt_fail "the initramfs is built"
vt_log "images ready in $((SECONDS - start)) s (kernel $vt_kver)"
mkdir -p "$w/disc" && echo "a disc of the guest rig" >"$w/disc/README.TXT"
genisoimage -quiet -V VTDISC -o "$w/disc.iso" "$w/disc" || vt_fail "the disc image is made"
truncate -s 16M "$w/disk.img"
cp "$native/guest/velotune" "$native/guest/vt_become" "$w/payload/" || vt_fail "the static tool is built"
cp "$vt_rig/kernel_guest.sh" "$w/payload/guest.sh"
# a line for every drive, and a line for none of them
echo "* high" >"$w/payload/vt.conf"
echo "/dev/nothing high" >"$w/payload/none.conf"
echo "* 1411kB" >"$w/payload/speed.conf"
chmod 644 "$w/payload/vt.conf" "$w/payload/none.conf" "$w/payload/speed.conf"
vt_payload "$w/payload" "$w/payload.cpio.gz"
cat "$initrd" "$w/payload.cpio.gz" >"$w/initrd"

# --- one boot for every case ------------------------------------------------------
devargs=()
for d in "${drives[@]}"; do read -ra more <<<"${qdev[$d]}" && devargs+=("${more[@]}"); done
booted=$SECONDS
vt_start "$w" "vt.nodes=${#drives[@]}" "$w/initrd" -device virtio-scsi-pci,id=vs \
    -device qemu-xhci,id=xhci "${devargs[@]}"
vt_wait '^VT-READY' 240 >/dev/null || vt_fail "the guest comes up with its drives"
vt_log "the guest is up after $((SECONDS - booted)) s"
# Which node is which drive: "VT-DEV sgN srN|sdX|- HOST TARGET".
declare -A node
while read -r _ sg blk host target; do
    case $host:$target in
    virtio_scsi:1) d=empty ;; virtio_scsi:2) d=iso ;; virtio_scsi:3) d=disk ;;
    ata_piix:*) d=ide ;; usb-storage:*) d=usb ;; *) continue ;;
    esac
    node[$d:sg]=/dev/$sg
    case $blk in sr*) node[$d:sr]=/dev/$blk ;; sd*) node[$d:sd]=/dev/$blk ;; esac
done < <(tr -d "\r" <"$w/console" | grep -o "VT-DEV .*")
for d in "${drives[@]}"; do
    [ -n "${node[$d:sg]:-}" ] || vt_fail "the guest has the drive '$d'"
done
ready_line=$(($(vt_trace_lines) + 1))

# got DEVICE OPCODES FROM: whether each opcode came to DEVICE since trace line FROM
got() {
    local op seen
    seen=$(vt_commands "$3" | awk -v d="$1" '$1 == d {print $2}' | sort -u)
    for op in $2; do [ "$op" = - ] || grep -qx "$op" <<<"$seen" || return 1; done
}
# verdict N DRIVES EXIT WORDS MUST MUSTNOT FROM: the checks of one case
verdict() {
    local out rc d word
    out=$(tr -d '\r' <"$w/console" | sed -n "s/^VT-OUT $1 //p")
    rc=$(vt_wait "^VT-END $1 " 1 | cut -d' ' -f3)
    [ "$rc" = "$3" ] || { echo "exit code $rc, not $3: $out"; return 1; }
    IFS=';' read -ra words <<<"$4"
    for word in "${words[@]}"; do
        grep -qF -- "$word" <<<"$out" || { echo "no '$word' in: $out"; return 1; }
    done
    for d in $2; do
        got "${traced[$d]}" "$5" "$7" || { echo "$d did not receive all of $5"; return 1; }
        [ "$6" = - ] && continue
        for word in $6; do
            not got "${traced[$d]}" "$word" "$7" || { echo "$d received $word"; return 1; }
        done
    done
}

n=0
passed=0
while IFS='|' read -r who ds kind command rc words must mustnot; do
    who=$(vt_trim "$who") ds=$(vt_trim "$ds") kind=$(vt_trim "$kind") command=$(vt_trim "$command")
    { [ -z "$who" ] || [ "${who:0:1}" = "#" ]; } && continue
    for user in ${who//,/ }; do
        for d in ${ds//,/ }; do
            n=$((n + 1))
            args=$command checked=$d
            if [ "$d" = - ]; then
                checked=${cds//,/ }
            else
                args=${command//@/${node[$d:$kind]}}
            fi
            from=$(($(vt_trace_lines) + 1))
            vt_send "$n $user $args"
            vt_wait "^VT-END $n " 60 >/dev/null || vt_fail "case $n ($user: velotune $args) ends"
            why=$(verdict "$n" "$checked" "$(vt_trim "$rc")" "$(vt_trim "$words")" "$(vt_trim "$must")" \
                "$(vt_trim "$mustnot")" "$from")
            check "$n. $user: velotune $args${why:+ -- $why}" eq "$why" "" && passed=$((passed + 1))
        done
    done
done <<<"$cases"
vt_send "0 quit"
exec {vt_con}>&-
vt_wait '^VT-EXIT|reboot: Power down' 30 >/dev/null
vt_stop
in_guest=$((SECONDS - booted))

vt_section "the disk: INQUIRY only"
# (35, SYNCHRONIZE CACHE, is the block layer's own when a writable open of
# /dev/sdX is closed.)
check "the disk received nothing but INQUIRY from the tool's cases" eq \
    "$(vt_commands "$ready_line" | awk '$1 == "t3" && $2 != "35" {print $2}' | sort -u | tr '\n' ' ')" "12 "
vt_section "figures"
echo "cases passed: $passed of $n"
echo "seconds in the guest: $in_guest (booted with $(vt_accel))"
echo "commands seen by each device during the cases (opcode x count):"
for d in "${drives[@]}"; do
    echo "  $d (${traced[$d]}): $(vt_tally "$ready_line" | sed -n "s/^${traced[$d]}: //p")"
done
vt_end
