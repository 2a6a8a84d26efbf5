#!/bin/busybox sh
# The guest's first process: mounts, loads the USB-serial driver, runs the test binary,
# reports its status and powers off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do insmod /modules/$m.ko; done
for i in $(seq 100); do [ -e /dev/ttyUSB0 ] && break; sleep 0.1; done
echo
echo RIG-BEGIN
COMTEST_REAL_LINES=ttyS1:ttyS2,ttyUSB0:ttyS3 /rig/test $(cat /rig/args)
status=$?
echo "RIG-STATUS $status"
poweroff -f
