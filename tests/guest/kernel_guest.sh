#!/bin/sh
# The kernel stage's guest side (busybox, process 1): waits for the drives,
# tells the harness which node is which drive, then runs the lines the harness
# sends, "N WHO ARGS...", one at a time: velotune ARGS as WHO (root; user, who
# may write the nodes; rawio, who may too and keeps CAP_SYS_RAWIO), its output
# as "VT-OUT N ..." lines and "VT-END N EXITCODE" after it.
want=$(sed -n 's/.*vt\.nodes=\([0-9]*\).*/\1/p' /proc/cmdline)
i=0
while [ "$(find /sys/class/scsi_generic -mindepth 1 | wc -l)" -lt "$want" ] && [ $i -lt 300 ]; do
    sleep 0.2
    i=$((i + 1))
done
sleep 1
# Group 24 (cdrom) may read and write every drive node; the users are not root.
chgrp 24 /dev/sr* /dev/sg* /dev/sd*
chmod 660 /dev/sr* /dev/sg* /dev/sd*
echo # after whatever the firmware left on the console's last line
for sg in /sys/class/scsi_generic/*; do
    hctl=$(basename "$(readlink "$sg/device")")
    host=$(cat "/sys/class/scsi_host/host${hctl%%:*}/proc_name")
    target=${hctl#*:*:}
    echo "VT-DEV $(basename "$sg") $(ls "$sg/device/block" 2>/dev/null || echo -) $host ${target%:*}"
done
stty -echo
echo VT-READY
while read -r n who args; do
    case $who in
    user) run="/payload/vt_become 1000 24 --" ;;
    rawio) run="/payload/vt_become 1001 24 rawio --" ;;
    quit) break ;;
    *) run="" ;;
    esac
    # shellcheck disable=SC2086 # the harness's words, split as sent
    $run /payload/velotune $args >/tmp/out 2>&1
    rc=$?
    sed "s/^/VT-OUT $n /" /tmp/out
    echo "VT-END $n $rc"
done
poweroff -f
