#!/usr/bin/env bash
# Runs the benchmarks from the build folder.
set -euo pipefail
build="${1:-build}"
"$build/bench/serial_bench"
"$build/bench/peers/serial_compare"
"$build/bench/console_load" --seconds "${LOAD_SECONDS:-60}"
