#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan+UBSan and runs each for a bounded
# time on its seed corpus. A crash stops the run; its input is left in the build folder
# and belongs in tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
targets=(ini codecs dcb sim_protocol frame telnet)

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCOMTEST_GUI=OFF -DCOMTEST_BENCH=OFF -DCOMTEST_FUZZ=ON \
  -DCOMTEST_SANITIZE=address,undefined > /dev/null
cmake --build "$build" -j 2 --target "${targets[@]/%/_fuzz}"

for t in "${targets[@]}"; do
  found="$build/fuzz-corpus/$t"
  mkdir -p "$found"
  echo "fuzzing $t for ${seconds}s"
  rc=0
  "$build/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/$t-" "$found" "tests/fuzz/corpus/$t" \
    > "$build/$t.log" 2>&1 || rc=$?
  grep -E '^stat::number_of_executed_units|ERROR|SUMMARY' "$build/$t.log" || true
  if [ "$rc" -ne 0 ]; then
    tail -n 40 "$build/$t.log"
    exit "$rc"
  fi
done
