#!/usr/bin/env bash
# The console's Windows leg: Qt built from Debian's source (or taken from its cache), the
# console and its suites cross-built with MinGW-w64, the suites run under Wine (offscreen),
# and the zip.
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
(cd "$console" && ctest --output-on-failure -j 1 -R '^(console_tests|cportsetup_tests)$')

echo "Package: $zip ($(du -h "$zip" | cut -f1))"
echo "Windows console leg: $(($(date +%s) - started)) s"
