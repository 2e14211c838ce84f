#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 and runs the
# tests under wine (the "windows" presets, build/windows).
#   scripts/test-windows.sh
# QRT_WERROR=1 turns compiler warnings into errors (CI does).
# Needs g++-mingw-w64-x86-64 and wine; installs them when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)  # wine64 alone puts no wine on PATH
if [ ${#need[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

# GoogleTest from Debian's sources, cross-built once into the prefix.
deps=$root/build/windows-deps
if [ ! -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
  cmake --build "$deps/googletest-build"
  cmake --install "$deps/googletest-build"
fi

extra=()
if [ "${QRT_WERROR:-0}" = "1" ]; then extra+=(-DQRT_WERROR=ON); fi
cmake --preset windows "${extra[@]}"
cmake --build --preset windows

# A wine prefix of our own (created on first use, ~5 s) and one wineserver
# kept alive for the whole run: without it every test start pays for a new
# server. No display is needed.
export WINEPREFIX=${WINEPREFIX:-$root/build/windows-deps/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
# Plain wineboot: "-i" starts a second set of services beside the running
# one, and wine's virtual HID devices then come and go under the tests.
wineboot >/dev/null 2>&1
ctest --preset windows -j "$(nproc)"
