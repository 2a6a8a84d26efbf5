#!/bin/busybox sh
# The guest's first process: mounts, loads the USB-serial driver, runs the test binary,
# reports its status and powers off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
# Loopback for the device-server cases, with an address of its own besides 127.0.0.1: a
# lookup that asks for configured addresses counts no other.
ip link set lo up && ip addr add 10.0.2.15/32 dev lo
for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do insmod /modules/$m.ko; done
# The adapters by what they say they are: QEMU's model, and the emulated chip whose
# controls are on the PCI UART (ttyS4) when the host runs it.
adapter() {
  for t in /sys/class/tty/ttyUSB*; do
    if [ "$(cat "$t/device/../../product" 2>/dev/null)" = "$1" ]; then basename "$t"; fi
  done
}
wanted=1
[ -e /dev/ttyS4 ] && wanted=2
for i in $(seq 100); do [ "$(ls /dev | grep -c '^ttyUSB')" -ge $wanted ] && break; sleep 0.1; done
model=$(adapter "QEMU USB SERIAL")
emulated=$(adapter "Emulated USB serial")
[ -n "$emulated" ] && export COMTEST_ADAPTER=$emulated COMTEST_ADAPTER_CONTROL=ttyS4
echo
echo RIG-BEGIN
COMTEST_REAL_LINES=ttyS1:ttyS2,${model:-ttyUSB0}:ttyS3 /rig/test $(cat /rig/args)
status=$?
echo "RIG-STATUS $status"
poweroff -f
