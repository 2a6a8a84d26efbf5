#!/usr/bin/env bash
# Starts the console from the build folder.
set -euo pipefail
build="${1:-build}"
console="$build/app/Vex_ComTest"
if [ ! -x "$console" ]; then
  echo "The console is not built yet ($console is missing)."
  exit 1
fi
exec "$console"
