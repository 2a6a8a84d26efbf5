#!/usr/bin/env bash
# The console's Windows leg: Qt built from Debian's source (or taken from its cache), the
# console and its suites cross-built with MinGW-w64, the suites run under Wine (offscreen),
# the console on a COM port Wine maps to the instrument simulator (windows plugin, under
# Xvfb), and the zip.
#   scripts/run-windows-console-tests.sh [BUILD_DIR]     (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-windows}")
console=$build/console
started=$(date +%s)

scripts/setup.sh gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb zip
zip=$(scripts/package-windows.sh "$build")
qt=$(scripts/build-qt-windows.sh)

# One display and one Wine session for every test process, so each ends at once.
exec 3< <(exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2> /dev/null)
xvfb=$!
read -r -t 30 display <&3 || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display
export WINEPREFIX=$console/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineserver -p 2> "$console/wineserver.log"
wine wineboot --init > /dev/null 2>&1

# The test programs load Qt's and MinGW's DLLs from where they were built.
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
winepath="Z:$qt/bin;Z:$(realpath "$runtime");Z:$(realpath "$pthread")"
export WINEPATH=${winepath//\//\\}

# The simulator is a program of the native build; its pseudo-terminal is Wine's COM30.
# Wine's serial driver asks for the modem lines, which a pty has not: the shim answers for
# them, as a three-wire port would.
make -s configure
cmake --build build --target instrument-sim pty_modem_shim > /dev/null
exec 4< <(exec build/tools/instrument-sim --link "$WINEPREFIX/dosdevices/com30")
simulator=$!
trap 'kill $simulator 2>/dev/null; wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
read -r -t 10 linked <&4 && [[ $linked == *"linked at"* ]] || { echo "no simulator" >&2; exit 1; }
export COMTEST_WINE_PORT=COM30 COMTEST_SCREENSHOT=$console/console-under-wine.png

(cd "$console" && ctest --output-on-failure -j 1 -R '^(console_tests|cportsetup_tests)$')
shim=$PWD/build/tools/libpty_modem_shim.so
(cd "$console" && LD_PRELOAD=$shim ctest --output-on-failure -R '^console_under_wine$')
echo "Screenshot of the console under Wine: $COMTEST_SCREENSHOT"

echo "Package: $zip ($(du -h "$zip" | cut -f1))"
echo "Windows console leg: $(($(date +%s) - started)) s"
