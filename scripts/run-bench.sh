#!/usr/bin/env bash
# Runs the benchmarks from the build folder. The console is compared with terminals a
# technician would pick instead; those and the X server they run under are the bench's
# own needs, installed here rather than by the test set-up.
set -euo pipefail
build="${1:-build}"
"$(dirname "$0")/setup.sh" xvfb xdotool cutecom gtkterm
"$build/bench/serial_bench"
"$build/bench/peers/serial_compare"
"$build/bench/peers/network_compare"
"$build/bench/console_load" --seconds "${LOAD_SECONDS:-60}"
# TERMINALS_OPTIONS, e.g. "--seconds 10 --only console,gtkterm --baseline OTHER/app/Vex_ComTest"
read -r -a terminal_options <<< "${TERMINALS_OPTIONS:-}"
"$build/bench/terminals/terminal_compare" "${terminal_options[@]}"
