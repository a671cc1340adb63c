#!/bin/sh
# The system stage's initramfs side (busybox, process 1): the root file system
# (its writes go to QEMU's snapshot), the package installed with dpkg -i, the
# configuration, the rig's own unit, then systemd.
set -e
mount -t ext4 /dev/vda /newroot
rm -rf /newroot/vt
cp -a /payload /newroot/vt
mount --bind /proc /newroot/proc
PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot /newroot /usr/bin/dpkg -i /vt/velotune.deb >/newroot/vt/dpkg.log 2>&1 ||
    sed 's/^/VT-DPKG-FAILED /' /newroot/vt/dpkg.log
umount /newroot/proc
# The configuration is root's, 0644, as a trusted one must be.
cp /payload/velotune.conf /newroot/etc/velotune.conf
chown 0:0 /newroot/etc/velotune.conf
chmod 644 /newroot/etc/velotune.conf
cp /payload/vt-rig.service /newroot/etc/systemd/system/
ln -sf /etc/systemd/system/vt-rig.service /newroot/etc/systemd/system/multi-user.target.wants/
umount /sys /proc
mount -o move /dev /newroot/dev
exec switch_root /newroot /sbin/init
