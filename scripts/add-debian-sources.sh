#!/usr/bin/env bash
# Lets apt fetch Debian's source packages: a deb-src entry for the release's main archive,
# with the archive and key of the machine's own deb entry.
set -euo pipefail
list=/etc/apt/sources.list.d/debian-src.sources
if [ -f "$list" ]; then exit 0; fi

sources=/etc/apt/sources.list.d/debian.sources
uri=$(awk '/^URIs:/ { print $2; exit }' "$sources")
key=$(awk '/^Signed-By:/ { print $2; exit }' "$sources")
. /etc/os-release
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
  "$uri" "$VERSION_CODENAME" "$key" | $sudo tee "$list" > /dev/null
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
