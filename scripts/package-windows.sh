#!/usr/bin/env bash
# The Windows zip: the console, the Qt and MinGW runtime DLLs it loads (stripped), the
# platform and style plugins, the Korean fonts and the README, in one folder to unpack
# anywhere. The instrument simulator is a POSIX program and is not in it.
#   scripts/package-windows.sh [BUILD_DIR]     (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-windows}")

scripts/setup.sh zip
scripts/build-windows-console.sh "$build/console" >&2
qt=$(scripts/build-qt-windows.sh)
version=$(sed -n 's/^project(ComTest VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=comtest_${version}_win64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage/platforms" "$stage/styles"

cp "$build/console/app/Vex_ComTest.exe" README.md "$stage/"
cp -r "$build/console/app/fonts" "$stage/"
cp "$qt"/bin/Qt6{Core,Gui,Widgets}.dll "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  cp "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)" "$stage/"
done
find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

(cd "$build" && zip -qr "$name.zip" "$name")
echo "$build/$name.zip"
