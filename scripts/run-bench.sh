#!/usr/bin/env bash
# Runs the benchmarks from the build folder.
set -euo pipefail
build="${1:-build}"
exec "$build/bench/serial_bench"
