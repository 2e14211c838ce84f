#!/usr/bin/env bash
# Builds Qt 6 base for Windows (MinGW-w64, posix threads) from Debian's own qt6-base source
# package, using Debian's host Qt 6 (same version) for moc/rcc/uic, and packs the result as
# OUT_DIR/qt6-mingw-<version>.tar.xz (the prefix inside carries README.txt and LICENSES/).
#
#   build-qt-mingw.sh OUT_DIR        (about 1-2 hours on 2 cores; needs ~4 GB of disk)
#
# Modules: Core, Gui, Widgets, Test and the Windows platform plugin (qwindows) with the
# Windows styles. Left out: network, sql, dbus, opengl, printsupport, concurrent, xml, vulkan,
# and tablet events (Debian's source drops the non-free wintab header they need).
# Qt is LGPL-3.0: the archive carries Qt's licence files; link dynamically and ship the DLLs.
set -euo pipefail
out=${1:?usage: build-qt-mingw.sh OUT_DIR}
mkdir -p "$out"; out=$(cd "$out" && pwd)
work=$out/work
mkdir -p "$work"
need=(g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools ninja-build cmake dpkg-dev)
apt-get install -y -qq "${need[@]}" >/dev/null
cd "$work"
# Debian's deb-src entry for the same suite as the installed Qt.
if ! apt-get source --download-only qt6-base >/dev/null 2>&1; then
  src_list=/etc/apt/sources.list.d/qrt-qt-src.sources
  sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/debian.sources | head -n 6 \
    | sed 's/^Types: deb$/Types: deb-src/' > "$src_list"
  apt-get update -qq
fi
ver=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/+.*//')
cd "$work"
apt-get source --download-only "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)" >/dev/null
tar xJf qt6-base_*.orig.tar.xz
srcdir=$(ls -d "$work"/qtbase-everywhere-src-*)
cat > "$work/mingw.cmake" <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC
prefix=$out/qt6-mingw-$ver
cmake -S "$srcdir" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_androiddeployqt=OFF -DFEATURE_tabletevent=OFF
cmake --build "$work/build" -j"$(nproc)"
cmake --install "$work/build"
mkdir -p "$prefix/LICENSES"
cp "$srcdir"/LICENSES/* "$prefix/LICENSES/"
cp "$work/mingw.cmake" "$prefix/"
cat > "$prefix/README.txt" <<README
Qt $ver (qtbase: Core, Gui, Widgets, Test, the Windows platform plugin and styles) for
Windows x86_64, built with MinGW-w64 (GCC, posix threads) from Debian's qt6-base
$(dpkg-query -W -f='${Version}' qt6-base-dev) source package, with Debian's host Qt $ver tools. Tablet events are off
(Debian's source drops the wintab header). Licences: LICENSES/ (Qt: LGPL-3.0-only; link
dynamically and ship the DLLs from bin/ and plugins/). mingw.cmake is the toolchain file it
was built with.

Use: unpack anywhere; configure with your MinGW toolchain file and
  -DCMAKE_PREFIX_PATH=<this folder> -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
(with CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY, add this folder to CMAKE_FIND_ROOT_PATH too).
Debian's qt6-base-dev and qt6-base-dev-tools ($ver) must be installed for moc/rcc/uic.
Rebuild: tools/build-qt-mingw.sh OUT_DIR.
README
tar -C "$out" -cJf "$out/qt6-mingw-$ver.tar.xz" "qt6-mingw-$ver"
echo "$out/qt6-mingw-$ver.tar.xz"
