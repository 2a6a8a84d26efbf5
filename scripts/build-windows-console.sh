#!/usr/bin/env bash
# The console, its setup dialog and their Windows suites cross-built with MinGW-w64 against
# the Qt that scripts/build-qt-windows.sh builds from Debian's source. The engine's own
# suites are the engine leg's (scripts/run-windows-tests.sh).
#   scripts/build-windows-console.sh [BUILD_DIR]     (default build-windows/console)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-windows/console}")

scripts/setup.sh gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
qt=$(scripts/build-qt-windows.sh)

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-shared.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCOMTEST_GUI=ON \
  -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_FIND_ROOT_PATH="$qt" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine > /dev/null
cmake --build "$build" -j 2 --target Vex_ComTest console_tests cportsetup_tests \
  console_under_wine
