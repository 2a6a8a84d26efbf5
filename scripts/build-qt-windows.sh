#!/usr/bin/env bash
# Builds Debian's own qtbase source for 64-bit Windows with MinGW-w64: only what the console
# and its tests need. The result goes into a cache folder named after the Qt version and the
# options, so a later run with the same ones skips the build. Prints the folder on stdout.
#   scripts/build-qt-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The host's moc, rcc and uic build the target's Qt, so the source is the host's version.
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
upstream=${version%%+*}

options=(
  -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF -DFEATURE_testlib=ON
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF
  -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
  # Debian's repack drops the tablet headers the windows plugin would include.
  -DFEATURE_tabletevent=OFF
  # What the configure front end's -no-opengl sets: FEATURE_opengl=OFF alone keeps
  # dynamic OpenGL, which the windows plugin then half uses.
  -DINPUT_opengl=no
  # The DirectWrite font database is compiled only with Direct2D, but the plugin asks only
  # for directwrite3: both off keeps them consistent.
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
)
key=$( (echo "$version"; printf '%s\n' "${options[@]}"; cat cmake/mingw-w64-shared.cmake) \
  | sha256sum | cut -c1-12)
prefix=$HOME/.cache/comtest/qt-$upstream-mingw-$key

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

"$root/scripts/setup.sh" gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix ninja-build >&2
work=${COMTEST_QT_WORK:-$root/build-qt-windows}
mkdir -p "$work"
cd "$work"
if [ ! -d "qtbase-everywhere-src-$upstream" ]; then
  "$root/scripts/add-debian-sources.sh" >&2
  apt-get source --download-only "qt6-base=$version" >&2
  tar xf "qt6-base_${version%-*}.orig.tar.xz"
fi

started=$(date +%s)
rm -rf build "$prefix"
cmake -S "qtbase-everywhere-src-$upstream" -B build "${options[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-shared.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" > configure.log
steps=$(ninja -C build -n | grep -c '^\[')
echo "Qt for Windows: building $steps steps" >&2
cmake --build build -j 2 > build.log
cmake --install build > install.log
touch "$prefix/.complete"
echo "Qt for Windows: $steps steps in $(($(date +%s) - started)) s" >&2
echo "$prefix"
