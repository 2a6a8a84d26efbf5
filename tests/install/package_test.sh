#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and starts the installed
# console offscreen against the installed simulator: an installed console keeps its
# settings in the configuration folder across starts, and a copy beside a writable
# Main.Ini uses that file instead.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" > /dev/null)
deb=$(ls "$work"/pkg/*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'qt6-qpa-plugins' || { echo "no plugin dependency"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || { echo "no Qt dependency"; exit 1; }
dpkg -x "$deb" "$work/root"
bin=$work/root/usr/bin
test -f "$work/root/usr/share/applications/Vex_ComTest.desktop"

export XDG_CONFIG_HOME=$work/config HOME=$work/home QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"

# Waits up to 20 s for a line to appear in a file.
wait_for_line() {
  for _ in $(seq 200); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for '$2' in $1" >&2
  return 1
}

"$bin/instrument-sim" --link "$work/instrument" > "$work/sim.out" &
wait_for_line "$work/sim.out" "linked at"

# Starts a console, waits until it has filled its settings file, and stops it.
start_console() {
  local exe=$1 ini=$2
  "$exe" > "$work/console.out" 2>&1 &
  local pid=$!
  wait_for_line "$ini" '^FlowControl='
  kill "$pid"
  wait "$pid" || true
}

# Seeded with the simulator's port: a console never opens the machine's own COM1 in a test.
config_ini=$XDG_CONFIG_HOME/Vex_ComTest/Main.Ini
mkdir -p "$(dirname "$config_ini")"
printf '[ComPort1]\nPort=%s\n' "$work/instrument" > "$config_ini"
start_console "$bin/Vex_ComTest" "$config_ini"
grep -q "^Port=$work/instrument\$" "$config_ini" || { echo "port not kept"; exit 1; }
first=$(cat "$config_ini")
start_console "$bin/Vex_ComTest" "$config_ini"
[ "$(cat "$config_ini")" = "$first" ] || { echo "settings changed between starts"; exit 1; }
[ ! -e "$bin/Main.Ini" ] || { echo "wrote beside the installed program"; exit 1; }

mkdir "$work/portable"
cp "$bin/Vex_ComTest" "$work/portable/"
printf '[ComPort1]\nPort=%s\n' "$work/instrument" > "$work/portable/Main.Ini"
start_console "$work/portable/Vex_ComTest" "$work/portable/Main.Ini"
[ "$(cat "$config_ini")" = "$first" ] || { echo "the portable copy used the config folder"; exit 1; }
echo "package installs and runs: $(basename "$deb")"
