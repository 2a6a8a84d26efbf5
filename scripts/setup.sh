#!/usr/bin/env bash
# Installs with apt what a fresh Debian 12 machine lacks for building, testing and running,
# and the packages named on the command line (a test leg's own needs).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev
  fonts-nanum fontconfig
  clang-14 libclang-rt-14-dev
  qemu-system-x86 busybox-static cpio xz-utils
  libserialport-dev qt6-serialport-dev libusbredirparser-dev
  ser2net python3-serial
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
