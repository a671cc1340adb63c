#!/usr/bin/env bash
# rootfs.sh OUT: the system stage's root file system, an ext4 image made from a
# minimal Debian 12 (systemd, udev) without a loop mount. The guest rig keys
# its cache on this file, so a change here makes a new image.
set -euo pipefail
packages=systemd,systemd-sysv,udev,kmod
out=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
debootstrap --variant=minbase --include="$packages" bookworm "$tree" http://deb.debian.org/debian \
    >"$out.log" 2>&1
# The serial line is the rig's, not a login's; no log on the console.
ln -sf /dev/null "$tree/etc/systemd/system/serial-getty@ttyS0.service"
mkdir -p "$tree/etc/systemd/journald.conf.d"
printf '[Journal]\nForwardToConsole=no\nStorage=volatile\n' >"$tree/etc/systemd/journald.conf.d/rig.conf"
echo vtguest >"$tree/etc/hostname"
rm -rf "$tree"/var/cache/apt/archives/*.deb "$tree"/var/lib/apt/lists/*
mke2fs -q -t ext4 -L vtroot -d "$tree" "$out.$$" 1G
mv "$out.$$" "$out"
