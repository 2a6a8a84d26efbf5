#!/usr/bin/env bash
# Runs a test binary on the kernel's own serial drivers: Debian's kernel boots in a QEMU
# guest (software emulation) whose devices are the 8250 driver's ttyS1 on an emulated
# 16550 wired to ttyS2, and the ftdi_sio driver's ttyUSB0 on QEMU's FTDI model wired to
# ttyS3, and with COMTEST_RIG_EMULATOR an emulated FT232B. The binary runs inside with its
# arguments; its output and exit status come back.
#   run-rig.sh TEST_BINARY [ARGUMENTS...]
set -euo pipefail
binary=$(readlink -f "$1")
shift
here=$(cd "$(dirname "$0")" && pwd)
cache=${COMTEST_RIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/comtest-rig}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

need=()
for p in qemu-system-x86 busybox-static cpio xz-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" > /dev/null
fi

# Debian's kernel and its USB modules, unpacked from the package, never installed.
package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
kernel=$cache/$package
if [ ! -f "$kernel/vmlinux" ]; then
  mkdir -p "$kernel"
  (cd "$kernel" && apt-get download "$package" > /dev/null 2>&1)
  dpkg-deb --fsys-tarfile "$kernel"/"$package"_*.deb |
    tar -x -C "$kernel" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/usb/*'
  rm -f "$kernel"/"$package"_*.deb
  # The bzImage holds an xz stream; its ELF boots at once, without decompressing under TCG.
  vmlinuz=$(ls "$kernel"/boot/vmlinuz-*)
  offset=$(LC_ALL=C grep -obUaP -m 1 '\xfd7zXZ\x00' "$vmlinuz" | cut -d: -f1 | sed -n 1p)
  tail -c +$((offset + 1)) "$vmlinuz" > "$work/vmlinux.xz"
  xz -dc --single-stream "$work/vmlinux.xz" > "$kernel/vmlinux.part"
  mv "$kernel/vmlinux.part" "$kernel/vmlinux"
fi

root=$work/root
mkdir -p "$root"/{bin,modules,rig,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
  find "$kernel/lib/modules" -name "$m.ko" -exec cp {} "$root/modules/" \;
done
cp "$binary" "$root/rig/test"
for lib in $(ldd "$binary" | grep -oE '/[^ ]+'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
# ser2net and the gensio modules it loads, at their own paths, for the device-server cases.
if [ -x /usr/sbin/ser2net ]; then
  served=(/usr/sbin/ser2net /usr/libexec/*/gensio/*/libgensio_{net,telnet,serialdev}.so)
  for f in "${served[@]}" $(ldd "${served[@]}" | grep -oE '=> /[^ ]+' | cut -c4- | sort -u); do
    mkdir -p "$root$(dirname "$f")"
    cp -L "$f" "$root$f"
  done
fi
printf '%s\n' "$@" > "$root/rig/args"
cp "$here/guest-init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initrd"

# QEMU's FTDI model and the 16550 at its far end meet through a relay, never directly.
exec 4< <(exec "$here/byte_relay.py" "$work/ftdi" "$work/far")
relay=$!
read -r -t 10 ready <&4 && [ "$ready" = ready ] || { echo "the relay did not start" >&2; exit 1; }
trap 'kill $relay 2>/dev/null || true; rm -rf "$work"' EXIT

# With COMTEST_RIG_EMULATOR, a second adapter: an FT232B emulated on the host behind QEMU's
# usb-redir device, its controls reached from the guest through a PCI UART (ttyS4).
emulated=()
if [ -n "${COMTEST_RIG_EMULATOR:-}" ]; then
  exec 3< <(exec "$COMTEST_RIG_EMULATOR" "$work/redir" "$work/control" 2> "$work/emulator.log")
  emulator=$!
  trap 'kill $emulator $relay 2>/dev/null || true; rm -rf "$work"' EXIT
  read -r -t 10 ready <&3 && [ "$ready" = ready ] || { echo "the emulator did not start" >&2; exit 1; }
  emulated=(-chardev socket,id=redir,path="$work/redir"
            -device usb-redir,chardev=redir,bus=xhci.0
            -chardev socket,id=control,path="$work/control"
            -device pci-serial,chardev=control)
fi

qemu-system-x86_64 -accel tcg -m 256 -nodefaults -no-reboot -nographic -serial stdio \
  -kernel "$kernel/vmlinux" -initrd "$work/initrd" \
  -append "console=ttyS0 quiet panic=-1 8250.nr_uarts=5" \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  -chardev socket,id=uart1,path="$work/uart",server=on,wait=off \
  -device isa-serial,chardev=uart1,index=1 \
  -chardev socket,id=uart2,path="$work/uart" \
  -device isa-serial,chardev=uart2,index=2,iobase=0x3e8,irq=5 \
  -chardev socket,id=ftdi,path="$work/ftdi" \
  -device qemu-xhci,id=xhci -device usb-serial,bus=xhci.0,chardev=ftdi \
  -chardev socket,id=uart3,path="$work/far" \
  -device isa-serial,chardev=uart3,index=3,iobase=0x2e8,irq=7 \
  "${emulated[@]}" \
  < /dev/null > "$work/console" 2>&1 || true

[ -z "${COMTEST_RIG_CONSOLE:-}" ] || cp "$work/console" "$COMTEST_RIG_CONSOLE"
tr -d '\r' < "$work/console" | sed -n '/^RIG-BEGIN$/,/^RIG-STATUS/p' | sed '1d;$d'
status=$(tr -d '\r' < "$work/console" | sed -n 's/^RIG-STATUS \([0-9]*\)$/\1/p')
if [ -z "$status" ]; then
  echo "the guest did not report a status; its console:" >&2
  tail -n 40 "$work/console" >&2
  exit 1
fi
exit "$status"
