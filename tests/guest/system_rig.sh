#!/bin/bash
# The system stage's guest side, in Debian under systemd (vt-rig.service, on
# the serial line). It tells the harness, in "VT-..." lines, what the units did
# at boot; asks it ("VT-ASK WHAT") to hot-plug, change discs and remove drives
# through QMP; and tells what followed each, every wait bounded.
say() { echo "VT-$*"; }
unit() { echo "velotune-apply@$1.service"; }
# wait_for SECONDS COMMAND...: polls COMMAND every 50 ms
wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.05
    done
}
# runs UNIT: how many times UNIT was started
runs() {
    journalctl -q -u "$1" -o export | sed -n 's/^_\{0,1\}\(SYSTEMD_\)\{0,1\}INVOCATION_ID=//p' |
        sort -u | wc -l
}
# settled UNIT: UNIT has run and ended. The journal tells, not systemctl show:
# an instance that has ended is unloaded, and then shows as never started.
settled() { journalctl -q -u "$1" -o cat | grep -qE '^(Finished|Failed to start) '; }
# outcome UNIT: "success" or the result systemd gave, and the exit status
outcome() {
    local log
    log=$(journalctl -q -u "$1" -o cat)
    if grep -q 'Deactivated successfully' <<<"$log"; then
        echo "success 0"
    else
        echo "$(sed -n "s/.*Failed with result '\(.*\)'.*/\1/p" <<<"$log" | tail -n 1)" \
            "$(sed -n 's/.*status=\([0-9]*\).*/\1/p' <<<"$log" | tail -n 1)"
    fi
}
# at REGEX: the monotonic time, in microseconds, of the first journal line
# matching REGEX (journalctl ARGS before it)
at() {
    local regex=$1
    shift
    journalctl -q -o short-monotonic "$@" | grep -m 1 -E "$regex" |
        sed 's/^\[ *\([0-9]*\)\.\([0-9]*\)\].*/\1\2/'
}
# where srN: the drive's host adapter and target
where() {
    local hctl
    hctl=$(basename "$(readlink -f "/sys/block/$1/device")")
    echo "$(cat "/sys/class/scsi_host/host${hctl%%:*}/proc_name") $(cut -d: -f3 <<<"$hctl")"
}
# report srN: the drive, its unit's state and log
report() {
    local u
    u=$(unit "$1")
    say "DEV $1 $(where "$1")"
    say "UNIT $1 $(outcome "$u") runs=$(runs "$u")"
    journalctl -q -u "$u" -o cat | sed "s/^/VT-LOG $1 /"
}
drives() { find /sys/block -maxdepth 1 -name 'sr*' -printf '%f\n' | sort; }
# new_drive BEFORE: a drive that is not in the list BEFORE
new_drive() { comm -13 <(echo "$1") <(drives) | grep .; }
# a_disc FROM DRIVE: a uevent since line FROM that tells of DRIVE's new disc
a_disc() {
    tail -n "+$1" /tmp/uevents | awk -v d="DEVNAME=/dev/$2" '/^UDEV/ {dev = 0; mc = 0}
        $0 == d {dev = 1} /^DISK_MEDIA_CHANGE=1/ {mc = 1} dev && mc {found = 1} END {exit !found}'
}
# events FROM DRIVE: the number of DRIVE's change events since line FROM
events() { tail -n "+$1" /tmp/uevents | grep -c "^UDEV .* change .*/block/$2 (block)"; }
# gone DRIVE: the drive has left
gone() { [ ! -e "/sys/block/$1" ]; }
# plug WHAT: asks for a drive, waits for it and its unit; tells how long after
# the kernel attached it the unit started
plug() {
    local before new attached started
    before=$(drives)
    say "ASK $1"
    wait_for 60 new_drive "$before" >/dev/null || { say "NO-DRIVE $1"; return; }
    new=$(new_drive "$before" | head -n 1)
    wait_for 90 settled "$(unit "$new")" || say "NOT-RUN $new"
    attached=$(at "Attached scsi CD-ROM $new\$" -k)
    started=$(at ' Starting ' -u "$(unit "$new")")
    report "$new"
    say "PLUGGED $1 $new latency_ms=$(((started - attached) / 1000)) attached_us=$attached started_us=$started"
    plugged+=("$new")
}
# change N DRIVE: asks for disc change N; tells whether udev saw a change event
# and how often each unit wanted on it has run since
change() {
    local mark before_apply before_probe
    mark=$(wc -l </tmp/uevents)
    before_apply=$(runs "$(unit "$2")") before_probe=$(runs "vt-change@$2.service")
    say "ASK change-$1"
    wait_for 60 a_disc "$mark" "$2" || say "NO-EVENT $2"
    sleep 3 # what follows from it
    local media applies
    media=$(tail -n "+$mark" /tmp/uevents | grep -c '^DISK_MEDIA_CHANGE=1')
    applies=$(($(runs "$(unit "$2")") - before_apply))
    # Starts asked for while a run is under way merge into it: at least one
    # run, and never more than the medium changes.
    local within=no
    [ "$applies" -ge 1 ] && [ "$applies" -le "$media" ] && within=yes
    say "CHANGED $1 $2 events=$(events "$mark" "$2")" "media_change=$media" \
        "apply_runs=$applies" "runs_within_changes=$within" \
        "probe_runs=$(($(runs "vt-change@$2.service") - before_probe))"
}

echo
timeout 300 systemctl is-system-running --wait >/dev/null
say "BOOTED $(cut -d' ' -f1 /proc/uptime) $(systemctl --version | head -n 1)"
grep -q 'Setting up velotune' /vt/dpkg.log && say "INSTALLED $(dpkg-query -W velotune)"
for d in $(drives); do
    wait_for 90 settled "$(unit "$d")" || say "NOT-RUN $d"
    report "$d"
done
systemctl show "$(unit sr0)" | sed -n 's/^\(DevicePolicy\|DeviceAllow\|ProtectSystem\|ProtectHome\|PrivateNetwork\|NoNewPrivileges\|CapabilityBoundingSet\|PrivateDevices\|User\|DynamicUser\)=/VT-SANDBOX \1=/p'
say "BOOT-DONE"

plugged=()
# systemd's own rules tag every block device for systemd. While the SCSI drive
# comes, they are set aside: the package's rule must tag it by itself.
ln -s /dev/null /etc/udev/rules.d/99-systemd.rules
udevadm control --reload
plug plug-scsi
rm /etc/udev/rules.d/99-systemd.rules
udevadm control --reload
plug plug-usb

# A probe of how systemd acts on SYSTEMD_WANTS at a change event: a unit
# wanted on every change event of a drive.
printf '[Service]\nType=oneshot\nExecStart=/bin/true\n' >/etc/systemd/system/vt-change@.service
echo 'SUBSYSTEM=="block", KERNEL=="sr[0-9]*", ACTION=="change", TAG+="systemd", ENV{SYSTEMD_WANTS}+="vt-change@%k.service"' \
    >/etc/udev/rules.d/99-vt-change.rules
systemctl daemon-reload
udevadm control --reload
stdbuf -oL udevadm monitor --udev --property --subsystem-match=block >/tmp/uevents 2>&1 &
sleep 1
# the empty drive: the harness names its target
for d in $(drives); do
    [ "$(where "$d")" = "virtio_scsi $(cat /vt/empty-target)" ] && empty=$d
done
change 1 "$empty"
change 2 "$empty"
# The tool's own writable open and close of the drive (the configuration
# leaves it alone: no vendor command)
mark=$(wc -l </tmp/uevents)
velotune apply --device "/dev/$empty" >/dev/null 2>&1
sleep 3
say "TOOL-OPEN $empty events=$(events "$mark" "$empty")"

# A failing run shows in systemctl --failed.
cp /etc/velotune.conf /tmp/velotune.conf
echo "/dev/$empty fastest" >>/etc/velotune.conf
systemctl start "$(unit "$empty")"
say "FAILED $(systemctl --failed --plain --no-legend | awk '{print $1}' | tr '\n' ' ')"
cp /tmp/velotune.conf /etc/velotune.conf
systemctl reset-failed

say "ASK unplug ${plugged[*]}"
for d in "${plugged[@]}"; do
    wait_for 30 gone "$d" || say "STILL-THERE $d"
done
sleep 1
say "UNPLUGGED running=$(systemctl list-units --plain --no-legend --state=activating,active,deactivating 'velotune-apply@*' | wc -l)" \
    "jobs=$(systemctl list-jobs --no-legend | wc -l)"
say "FIN"
systemctl poweroff --force --force
