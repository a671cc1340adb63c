#!/usr/bin/env bash
# The guest rig's library, for both stages: the kernel and its modules, the
# initramfs, a guest under QEMU (serial console, QMP, trace of the commands its
# devices receive), bounded waits, and the cached images.
#
# Images are built once and kept in VELOTUNE_GUEST_CACHE (default
# /var/cache/velotune-guest), keyed by the kernel's version and the hash of the
# rig's own files; they are rebuilt when either changes.
# shellcheck source=tests/system/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"
vt_rig=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VT_CACHE=${VELOTUNE_GUEST_CACHE:-/var/cache/velotune-guest}
vt_guest_pid=""

# vt_log TEXT: a line of the rig's own, with the seconds since it started.
vt_log() { echo "[guest rig +${SECONDS}s] $*" >&2; }

# vt_trim TEXT: TEXT without the blanks around it (table cells)
vt_trim() {
    local text
    read -r text <<<"$1"
    echo "$text"
}

# vt_key FILES...: a short hash of the rig's files and the kernel's version.
vt_key() { cat "$@" | { cat; echo "$vt_kver"; } | sha256sum | cut -c1-12; }

vt_kernel_version() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -n 1
}

# vt_kernel: the kernel that linux-image-amd64 depends on, unpacked (not
# installed) into the cache with its modules.dep; sets vt_kver and vt_kdir.
vt_kernel() {
    vt_kver=$(vt_kernel_version)
    [ -n "$vt_kver" ] || { apt-get update -qq && vt_kver=$(vt_kernel_version); }
    [ -n "$vt_kver" ] || { vt_log "linux-image-amd64 names no kernel (apt-get update?)"; return 1; }
    vt_kdir=$VT_CACHE/kernel-$vt_kver
    [ -f "$vt_kdir/ready" ] && return 0
    vt_log "fetching linux-image-$vt_kver"
    rm -rf "$vt_kdir" && mkdir -p "$vt_kdir/deb" || return 1
    (cd "$vt_kdir/deb" && apt-get download -q "linux-image-$vt_kver" >/dev/null 2>&1) || return 1
    dpkg-deb -x "$vt_kdir"/deb/*.deb "$vt_kdir/root" && busybox depmod -b "$vt_kdir/root" "$vt_kver" &&
        rm -rf "$vt_kdir/deb" && touch "$vt_kdir/ready"
}

# The drivers both stages load, by name; their dependencies come from modules.dep.
vt_modules=(virtio_pci virtio_scsi virtio_blk sd_mod sr_mod sg ata_piix xhci_pci usb_storage uas
            ext4 crc32c_generic)

# vt_initramfs: the busybox initramfs with the modules and init.sh, in the
# cache; echoes its path.
vt_initramfs() {
    local out tree m dep mods=$vt_kdir/root/lib/modules/$vt_kver
    out=$VT_CACHE/initramfs-$(vt_key "$vt_rig/init.sh" "$vt_rig/lib.sh").cpio.gz
    if [ ! -f "$out" ]; then
        tree=$(mktemp -d) && chmod 755 "$tree" || return 1
        mkdir -p "$tree"/{bin,dev,proc,sys,tmp,newroot,lib/modules/"$vt_kver"}
        cp /bin/busybox "$tree/bin/" && ln -s busybox "$tree/bin/sh"
        cp "$vt_rig/init.sh" "$tree/init" && chmod 755 "$tree/init"
        for m in "${vt_modules[@]}"; do
            # the module's line of modules.dep: itself, then what it needs
            grep -E "/${m//_/[_-]}\.ko(\.[gx]z)?:" "$mods/modules.dep"
        done | sort -u >"$tree/lib/modules/$vt_kver/modules.dep"
        for dep in $(tr -d ':' <"$tree/lib/modules/$vt_kver/modules.dep" | tr ' ' '\n' | sort -u); do
            mkdir -p "$tree/lib/modules/$vt_kver/$(dirname "$dep")"
            cp "$mods/$dep" "$tree/lib/modules/$vt_kver/$dep"
            grep -q "^$dep:" "$tree/lib/modules/$vt_kver/modules.dep" || echo "$dep:" \
                >>"$tree/lib/modules/$vt_kver/modules.dep"
        done
        rm -f "$VT_CACHE"/initramfs-*.cpio.gz # those of earlier rig files
        (cd "$tree" && set -o pipefail && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null |
            gzip -1) >"$out.$$" && mv "$out.$$" "$out"
        rm -rf "$tree"
    fi
    echo "$out"
}

# vt_rootfs: the system stage's root file system (rootfs.sh), in the cache;
# echoes its path.
vt_rootfs() {
    local out
    out=$VT_CACHE/rootfs-$(vt_key "$vt_rig/rootfs.sh").ext4
    if [ ! -f "$out" ]; then
        vt_log "making the root file system (debootstrap, a few minutes)"
        rm -f "$VT_CACHE"/rootfs-*.ext4
        "$vt_rig/rootfs.sh" "$out" >&2 || { vt_log "rootfs.sh failed: see $out.log"; return 1; }
    fi
    echo "$out"
}

# vt_payload DIR OUT: DIR's files as /payload of an initramfs appended to the
# base one (the kernel unpacks both, in order): what changes at each run.
vt_payload() {
    local tmp
    tmp=$(mktemp -d) && cp -a "$1" "$tmp/payload" && chmod 755 "$tmp/payload" &&
        (cd "$tmp" && set -o pipefail && find payload | busybox cpio -o -H newc -R 0:0 2>/dev/null |
            gzip -1) >"$2"
    rm -rf "$tmp"
}

# vt_accel: kvm when a bounded probe boot comes up with it, tcg otherwise;
# the answer is cached per kernel and QEMU version.
vt_accel() {
    local answer
    answer=$VT_CACHE/accel-$vt_kver-$(qemu-system-x86_64 --version | head -n 1 | tr -c 'a-zA-Z0-9.\n' _)
    if [ ! -f "$answer" ]; then
        local w rd
        w=$(mktemp -d)
        echo tcg >"$answer"
        if [ -w /dev/kvm ]; then
            rd=$(vt_initramfs)
            vt_log "probing KVM (one boot of at most 40 s)"
            timeout 40 qemu-system-x86_64 -accel kvm -m 256 -nographic -no-reboot -kernel \
                "$vt_kdir/root/boot/vmlinuz-$vt_kver" -initrd "$rd" \
                -append "console=ttyS0 panic=-1 vt.probe=1" >"$w/console" 2>&1 </dev/null
            grep -q '^VT-PROBED' "$w/console" && echo kvm >"$answer"
        fi
        rm -rf "$w"
    fi
    cat "$answer"
}

# The trace events that name every command a device receives: SCSI devices by
# target, the ATAPI drive by its own event.
vt_trace_events=(scsi_req_parsed scsi_req_parse_bad ide_atapi_cmd)

# vt_start WORK KERNEL_ARGS INITRD [QEMU ARGS...]: starts the guest in the
# background. WORK receives console (what the guest wrote), trace (QEMU's log),
# qmp.sock and con.in/con.out (the serial line).
vt_start() {
    local w=$1 append=$2 initrd=$3 accel
    shift 3
    accel=$(vt_accel)
    printf '%s\n' "${vt_trace_events[@]}" >"$w/events"
    rm -f "$w/con.in" "$w/con.out" "$w/console" "$w/trace"
    mkfifo "$w/con.in" "$w/con.out"
    vt_log "starting the guest ($accel)"
    qemu-system-x86_64 -accel "$accel" -smp 2 -m 1024 -nographic -no-reboot -nodefaults \
        -kernel "$vt_kdir/root/boot/vmlinuz-$vt_kver" -initrd "$initrd" \
        -append "console=ttyS0 panic=-1 loglevel=4 $append" \
        -chardev pipe,id=con,path="$w/con" -serial chardev:con \
        -qmp unix:"$w/qmp.sock",server=on,wait=off -trace events="$w/events" -D "$w/trace" \
        -pidfile "$w/qemu.pid" "$@" </dev/null >"$w/qemu.log" 2>&1 &
    vt_guest_pid=$!
    cat "$w/con.out" >"$w/console" &
    exec {vt_con}>"$w/con.in"
    vt_work=$w
}

# vt_send LINE: a line to the guest's console.
vt_send() { printf '%s\n' "$1" >&"$vt_con"; }

# vt_wait PATTERN SECONDS: waits until a console line matches PATTERN (an
# extended regex) and echoes the last such line; fails when the time is up or
# the guest has ended.
vt_wait() {
    local deadline=$((SECONDS + $2)) line
    while [ "$SECONDS" -le "$deadline" ]; do
        line=$(tr -d '\r' <"$vt_work/console" | grep -E -- "$1" | tail -n 1)
        [ -n "$line" ] && { echo "$line"; return 0; }
        kill -0 "$vt_guest_pid" 2>/dev/null || break
        sleep 0.2
    done
    return 1
}

# vt_console_tail: the guest's last console lines, for a failure.
vt_console_tail() {
    echo "--- the guest's last console lines ---"
    tr -d '\r' <"$vt_work/console" | tail -n "${1:-25}"
    echo "--- QEMU ---"
    tail -n 5 "$vt_work/qemu.log"
}

# vt_stop: ends the guest by its PID (it should have powered off already).
vt_stop() {
    [ -n "$vt_guest_pid" ] || return 0
    exec {vt_con}>&-
    local i
    for i in 1 2 3 4 5 6 7 8 9 10; do
        kill -0 "$vt_guest_pid" 2>/dev/null || break
        [ "$i" -eq 10 ] && { vt_log "the guest did not end: killed"; kill -9 "$vt_guest_pid"; }
        sleep 0.5
    done
    wait "$vt_guest_pid" 2>/dev/null
    vt_guest_pid=""
}

# vt_fail WHY: the test fails here, with the guest's last console lines.
vt_fail() {
    check "$1" false
    vt_console_tail
    [ -n "$vt_guest_pid" ] && kill -9 "$vt_guest_pid" 2>/dev/null
    vt_stop
    vt_end
}

# vt_qmp COMMAND [ARGUMENTS-JSON]: one QMP command; echoes its answer line.
vt_qmp() {
    printf '{"execute":"qmp_capabilities"}\n{"execute":"%s","arguments":%s}\n' "$1" "${2:-{\}}" |
        timeout 10 socat -t 3 - UNIX-CONNECT:"$vt_work/qmp.sock" | grep -E '"(return|error)"' |
        tail -n 1
}

# vt_commands [FROM_LINE]: the commands QEMU's devices received since the trace's
# line FROM_LINE, one "DEVICE OPCODE" line each (opcode in hex): "t<N>" for
# the SCSI target N, "atapi" for the ATAPI drive.
vt_commands() {
    tail -n "+${1:-1}" "$vt_work/trace" | sed -nE \
        -e 's/.*scsi_req_parse(d|_bad) target ([0-9]+) lun [0-9]+ tag -?[0-9]+ command ([0-9]+).*/t\2 \3/p' \
        -e 's/.*ide_atapi_cmd IDEState: [^;]*; cmd: 0x([0-9a-f]+).*/atapi x\1/p' |
        while read -r dev op; do
            case $op in x*) echo "$dev ${op#x}" ;; *) printf '%s %02x\n' "$dev" "$op" ;; esac
        done
}

# vt_trace_lines: the number of lines in the trace so far.
vt_trace_lines() { wc -l <"$vt_work/trace"; }

# vt_tally [FROM_LINE]: per device, each opcode with how often it came.
vt_tally() {
    vt_commands "$@" | sort | uniq -c | awk '{d[$2] = d[$2] " " $3 "x" $1} END {for (k in d) print k ":" d[k]}' |
        sort
}
