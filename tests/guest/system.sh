#!/usr/bin/env bash
# system.sh NATIVE_DIR WORK_DIR: the package on Debian 12 under QEMU, with the
# real systemd and udev: the unit at boot for every drive, hot-plug of a SCSI
# and a USB CD drive, disc changes and removal, all through QMP in one boot.
# The guest side (system_rig.sh) reports in VT-... lines; QEMU's trace of the
# commands each device received is the witness of what the tool sent.
set -u
source "$(dirname "$0")/lib.sh"
native=$(cd "$1" && pwd)
w=$2
rm -rf "$w" && mkdir -p "$w/payload" || exit 1

# The drives at boot; "named" is the one drive the configuration names (by its
# model, so whatever node it gets). Hot-plugged: "hot" (SCSI) and "usb".
declare -A traced=([named]=t1 [empty]=t2 [ide]=atapi [hot]=t4 [usb]=t0)
declare -A where=([named]="virtio_scsi 1" [empty]="virtio_scsi 2" [ide]="ata_piix 0"
                  [hot]="virtio_scsi 4" [usb]="usb-storage 0")
config="*VT-2250A*  high"

# The cases: what, and the console line (an extended regex; @LABEL is that
# drive's srN) that shows it; "!" before it: no line may match.
cases="
the package installs with dpkg -i                     | ^VT-INSTALLED velotune.1\.0
dpkg -i reports no failure                            | !^VT-DPKG-FAILED
systemd 252 runs the guest                            | ^VT-BOOTED .* systemd 252
the unit ran at boot for the named drive              | ^VT-UNIT @named success 0 runs=1$
the unit ran at boot for the empty drive              | ^VT-UNIT @empty success 0 runs=1$
the unit ran at boot for the ATAPI drive              | ^VT-UNIT @ide success 0 runs=1$
journalctl -u shows what it did with the named drive  | ^VT-LOG @named .*/dev/@named: .*not this maker's drive
journalctl -u shows that other drives match no line   | ^VT-LOG @empty .*no line of /etc/velotune.conf matches it
the unit ran for a hot-plugged SCSI drive (own tag, and at its disc) | ^VT-UNIT @hot success 0 runs=[12]$
the unit ran for the hot-plugged USB drive (and at its disc) | ^VT-UNIT @usb success 0 runs=[12]$
within 15 s of the SCSI drive's arrival               | ^VT-PLUGGED plug-scsi @hot latency_ms=(1[0-4]|[0-9])?[0-9]{1,3} 
within 15 s of the USB drive's arrival                | ^VT-PLUGGED plug-usb @usb latency_ms=(1[0-4]|[0-9])?[0-9]{1,3} 
a disc change is a change event with DISK_MEDIA_CHANGE | ^VT-CHANGED 1 @empty events=[1-9][0-9]* media_change=[1-9]
a disc change runs the unit once                        | ^VT-CHANGED 1 @empty .* media_change=1 apply_runs=1 runs_within_changes=yes
... the next, at most once a medium change             | ^VT-CHANGED 2 @empty .* runs_within_changes=yes probe_runs
SYSTEMD_WANTS at a change event starts the wanted unit | ^VT-CHANGED 1 @empty events=1 .* probe_runs=1$
... and again at the next disc change                  | ^VT-CHANGED 2 @empty events=[1-9][0-9]* .* probe_runs=[1-9][0-9]*$
the tool's own open and close make no change event    | ^VT-TOOL-OPEN @empty events=0$
systemctl show reports the unit's sandbox              | ^VT-SANDBOX DevicePolicy=(closed|strict)
the unit's failure shows in systemctl --failed         | ^VT-FAILED .*velotune-apply@@empty.service
after device_del no unit is left running, no job waits | ^VT-UNPLUGGED running=0 jobs=0$
"
# The commands each drive must and must not receive (opcodes in hex), over
# the whole boot: only the named drive gets the vendor commands.
commands="
named | 12 ff | -
empty | -     | ff
ide   | -     | ff
hot   | -     | ff
usb   | -     | ff
"

# --- the images and the payload ------------------------------------------------
start=$SECONDS
vt_kernel || vt_fail "the kernel is fetched and unpacked"
initrd=$(vt_initramfs) || vt_fail "the initramfs is built"
rootfs=$(vt_rootfs) || vt_fail "the root file system is built"
vt_log "images ready in $((SECONDS - start)) s"
deb=$(find "$native" -maxdepth 1 -name 'velotune_*.deb' | head -n 1)
[ -n "$deb" ] || vt_fail "the package is built (cpack in $native)"
cp "$deb" "$w/payload/velotune.deb"
cp "$vt_rig/system_boot.sh" "$w/payload/guest.sh"
cp "$vt_rig/system_rig.sh" "$vt_rig/vt-rig.service" "$w/payload/"
echo "$config" >"$w/payload/velotune.conf"
echo "${where[empty]#* }" >"$w/payload/empty-target"
vt_payload "$w/payload" "$w/payload.cpio.gz"
cat "$initrd" "$w/payload.cpio.gz" >"$w/initrd"
for disc in disc disc2; do
    mkdir -p "$w/$disc" && echo "$disc of the guest rig" >"$w/$disc/README.TXT"
    genisoimage -quiet -V "$disc" -o "$w/$disc.iso" "$w/$disc" || vt_fail "the disc image is made"
done
truncate -s 16M "$w/disk.img"

# --- one boot ---------------------------------------------------------------------
booted=$SECONDS
vt_start "$w" "systemd.show_status=0" "$w/initrd" \
    -drive if=none,id=root,format=raw,snapshot=on,file="$rootfs" -device virtio-blk-pci,drive=root \
    -device virtio-scsi-pci,id=vs -device qemu-xhci,id=xhci \
    -drive if=none,id=named,media=cdrom,readonly=on,format=raw,file="$w/disc.iso" \
    -device scsi-cd,bus=vs.0,scsi-id=1,drive=named,product=VT-2250A \
    -drive if=none,id=empty,media=cdrom,readonly=on -device scsi-cd,bus=vs.0,scsi-id=2,drive=empty,id=emptycd \
    -drive if=none,id=disk,format=raw,file="$w/disk.img" -device scsi-hd,bus=vs.0,scsi-id=3,drive=disk \
    -drive if=none,id=ide,media=cdrom,readonly=on,format=raw,file="$w/disc.iso" -device ide-cd,bus=ide.1,drive=ide
vt_wait '^VT-BOOT-DONE' 420 >/dev/null || vt_fail "the guest boots and its units run"
vt_log "the guest is up after $((SECONDS - booted)) s"
# ask WHAT QMP...: waits for the guest's VT-ASK WHAT, then sends each QMP
# command ("COMMAND ARGUMENTS-JSON"), each of which must succeed
ask() {
    local what=$1 step answer deadline
    shift
    vt_wait "^VT-ASK $what" 120 >/dev/null || vt_fail "the guest asks for $what"
    for step in "$@"; do
        deadline=$((SECONDS + 30))
        # A drive whose door the guest locked opens when asked: QEMU asks the
        # guest, as the eject button would, and the medium changes once it has.
        until answer=$(vt_qmp "${step%% *}" "${step#* }") && ! grep -q 'is locked' <<<"$answer" ||
            [ "$SECONDS" -gt "$deadline" ]; do
            sleep 0.5
        done
        grep -q '"return"' <<<"$answer" || vt_fail "QMP $step: $answer"
    done
}
ro='"read-only-mode":"read-only","format":"raw"'
ask plug-scsi \
    "blockdev-add {\"driver\":\"raw\",\"node-name\":\"hot\",\"read-only\":true,\"file\":{\"driver\":\"file\",\"filename\":\"$w/disc.iso\",\"read-only\":true}}" \
    'device_add {"driver":"scsi-cd","bus":"vs.0","scsi-id":4,"drive":"hot","id":"hotcd"}'
ask plug-usb \
    "human-monitor-command {\"command-line\":\"drive_add 0 if=none,id=usb,media=cdrom,readonly=on,format=raw,file=$w/disc.iso\"}" \
    'device_add {"driver":"usb-storage","bus":"xhci.0","drive":"usb","id":"usbcd"}'
ask change-1 "blockdev-change-medium {\"id\":\"emptycd\",\"filename\":\"$w/disc.iso\",$ro}"
ask change-2 "blockdev-change-medium {\"id\":\"emptycd\",\"filename\":\"$w/disc2.iso\",$ro}"
ask unplug 'device_del {"id":"hotcd"}' 'device_del {"id":"usbcd"}'
vt_wait '^VT-FIN' 120 >/dev/null || vt_fail "the guest ends its cases"
vt_wait 'reboot: Power down' 30 >/dev/null
vt_stop
in_guest=$((SECONDS - booted))

# --- the verdicts -------------------------------------------------------------------
console=$(tr -d '\r' <"$w/console" | grep -o 'VT-.*')
# Which srN each drive got: "VT-DEV srN HOST TARGET".
declare -A node
for d in "${!where[@]}"; do
    node[$d]=$(sed -n "s/^VT-DEV \(sr[0-9]*\) ${where[$d]}\$/\1/p" <<<"$console" | head -n 1)
done
n=0 passed=0
while IFS='|' read -r what pattern; do
    [ -n "${pattern:-}" ] || continue
    pattern=$(vt_trim "$pattern")
    for d in "${!node[@]}"; do pattern=${pattern//@$d/${node[$d]:-none}}; done
    n=$((n + 1))
    if [ "${pattern:0:1}" = "!" ]; then
        check "$n. $(vt_trim "$what")" not grep -qE -- "${pattern:1}" <<<"$console"
    else
        check "$n. $(vt_trim "$what")" grep -qE -- "$pattern" <<<"$console"
    fi && passed=$((passed + 1))
done <<<"$cases"
while IFS='|' read -r d must mustnot; do
    d=$(vt_trim "$d")
    [ -n "$d" ] || continue
    seen=$(vt_commands 1 | awk -v t="${traced[$d]}" '$1 == t {print $2}' | sort -u | tr '\n' ' ')
    for op in $must; do
        [ "$op" = - ] && continue
        n=$((n + 1))
        check "$n. the $d drive received $op" grep -qw "$op" <<<"$seen" && passed=$((passed + 1))
    done
    for op in $mustnot; do
        [ "$op" = - ] && continue
        n=$((n + 1))
        check "$n. the $d drive never received $op" not grep -qw "$op" <<<"$seen" && passed=$((passed + 1))
    done
done <<<"$commands"

vt_section "figures"
echo "cases passed: $passed of $n"
echo "seconds in the guest: $in_guest (booted with $(vt_accel))"
grep -E '^VT-(BOOTED|PLUGGED|CHANGED|TOOL-OPEN|SANDBOX|FAILED|UNPLUGGED)' <<<"$console" | sed 's/^/  /'
echo "commands seen by each device (opcode x count):"
for d in named empty ide hot usb; do
    echo "  $d (${node[$d]:-?}, ${traced[$d]}): $(vt_tally 1 | sed -n "s/^${traced[$d]}: //p")"
done
vt_end
