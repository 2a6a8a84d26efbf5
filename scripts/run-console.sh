#!/usr/bin/env bash
# Starts the console. Without a Main.Ini beside it, it is wired to the instrument
# simulator: a Main.Ini naming the simulator's port is written and the simulator started.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
console="$build/app/Vex_ComTest"
simulator="$build/tools/instrument-sim"
ini="$build/app/Main.Ini"
link="$build/instrument-sim-port"

if [ ! -x "$console" ]; then
  echo "The console is not built yet ($console is missing)." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: start the console from a desktop session (or set QT_QPA_PLATFORM)." >&2
  exit 1
fi

if [ ! -f "$ini" ]; then
  printf '[ComPort1]\nPort=%s\n' "$link" > "$ini"
fi

if grep -qE "^[[:space:]]*[Pp][Oo][Rr][Tt][[:space:]]*=[[:space:]]*$link[[:space:]]*$" "$ini"; then
  coproc SIMULATOR { exec "$simulator" --link "$link"; }
  trap 'kill "$SIMULATOR_PID" 2>/dev/null || true' EXIT
  # The simulator says where it linked once it is ready.
  if ! read -r -t 10 ready <&"${SIMULATOR[0]}"; then
    echo "The instrument simulator did not start." >&2
    exit 1
  fi
  echo "$ready"
fi

"$console"
