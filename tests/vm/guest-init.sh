#!/bin/sh
# /init of the VM tests' guest: the kernel's file systems, the HID modules, the test's steps
# (/steps.sh), then power off. Every line for the host starts with "KORVEL-VM ".
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
for module in $(cat /etc/modules); do
  insmod "/lib/modules/$module.ko" || echo "KORVEL-VM init: insmod $module failed"
done
echo "KORVEL-VM init: kernel $(uname -r), uptime $(cut -d' ' -f1 /proc/uptime) s"
cd /run
sh /steps.sh
echo "KORVEL-VM end: steps exit $? at uptime $(cut -d' ' -f1 /proc/uptime) s"
poweroff -f
