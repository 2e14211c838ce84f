#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 and runs the
# tests under wine (the "windows" presets, build/windows), then the window
# itself on an X display of its own (scripts/check-window-windows.sh).
#   scripts/test-windows.sh
# QRT_WERROR=1 turns compiler warnings into errors (CI does).
# The window links Qt 6 for MinGW from the archive QRT_QT_MINGW_ARCHIVE
# (default ../shared/qt6-mingw-6.4.2.tar.xz beside the source tree; made by
# tools/build-qt-mingw.sh). Without it the window's Windows build is skipped
# with a note, unless QRT_REQUIRE_QT_MINGW=1.
# Needs g++-mingw-w64-x86-64, wine, Xvfb and a CJK font; installs what is
# missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)  # wine64 alone puts no wine on PATH
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v xdotool >/dev/null || need+=(xdotool)
command -v import >/dev/null || need+=(imagemagick)
[ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
if [ ${#need[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

# One X display of our own for the whole run: the window and the tests on
# Qt's windows platform draw on it, and wine's desktop process is started
# with it.
if [ -z "${QRT_TEST_WINDOWS_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    env QRT_TEST_WINDOWS_DISPLAY=1 bash "$0" "$@"
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

# The header-only libraries: Debian's headers and relocatable CMake configs,
# copied into the prefix (the cross build looks only there and in mingw's).
if [ ! -f "$deps/share/cmake/CLI11/CLI11Config.cmake" ]; then
  mkdir -p "$deps/include" "$deps/share/cmake"
  cp -r /usr/include/CLI /usr/include/nlohmann "$deps/include/"
  cp -r /usr/share/cmake/CLI11 /usr/share/cmake/nlohmann_json "$deps/share/cmake/"
fi

extra=()
if [ "${QRT_WERROR:-0}" = "1" ]; then extra+=(-DQRT_WERROR=ON); fi
archive=${QRT_QT_MINGW_ARCHIVE:-$root/../shared/qt6-mingw-6.4.2.tar.xz}
if [ -f "$archive" ]; then
  extra+=(-DQRT_BUILD_GUI=ON "-DQRT_QT_MINGW_ARCHIVE=$(realpath "$archive")")
  window=1
elif [ "${QRT_REQUIRE_QT_MINGW:-0}" = "1" ]; then
  echo "test-windows: Qt 6 for MinGW is missing ($archive); make it with tools/build-qt-mingw.sh OUT_DIR and set QRT_QT_MINGW_ARCHIVE" >&2
  exit 1
else
  echo "test-windows: Qt 6 for MinGW is missing ($archive): the window's Windows build is skipped. Make it with tools/build-qt-mingw.sh OUT_DIR (about an hour) and set QRT_QT_MINGW_ARCHIVE to the .tar.xz it writes." >&2
  extra+=(-DQRT_BUILD_GUI=OFF)
  window=0
fi
cmake --preset windows "${extra[@]}"
cmake --build --preset windows

# A wine prefix of our own (created on first use, ~5 s) and one wineserver
# kept alive for the whole run: without it every test start pays for a new
# server.
export WINEPREFIX=${WINEPREFIX:-$root/build/windows-deps/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A server may still run for this prefix (a run that was cut short, or one
# beside this one): use it, and stop at the end only the server we started.
# Its output goes nowhere, so it holds no pipe of the caller open.
stop_server() { :; }
if wineserver -p </dev/null >/dev/null 2>&1; then
  stop_server() { wineserver -k 2>/dev/null || true; }
else
  echo "test-windows: using the wineserver already running for $WINEPREFIX" >&2
fi
trap stop_server EXIT
# Plain wineboot: "-i" starts a second set of services beside the running
# one, and wine's virtual HID devices then come and go under the tests.
wineboot >/dev/null 2>&1
# A CJK font in the prefix's own Fonts folder, so the window's Chinese
# captions are drawn with glyphs whatever the host's fonts are.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
# Qt Test writes its lines to the debugger output when stderr is no console
# (a pipe here) unless QT_FORCE_STDERR_LOGGING is set, and wine passes no
# QT_* variable from Linux: the prefix's own environment holds it.
wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null 2>&1
ctest --preset windows -j "$(nproc)"

# The program itself under wine, against the Linux build's: the same JSON
# document byte for byte (stdout is binary, so no CR LF), and a read, write
# and verify of the simulated chip through a drive-letter path with
# backslashes (wine maps Z:\ to /).
linux_cli=$root/build/default/src/cli/qrt4250-cli
win_cli=$root/build/windows/src/cli/qrt4250-cli.exe
if [ ! -x "$linux_cli" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target qrt4250-cli
fi
scratch=$(mktemp -d)
trap 'stop_server; rm -rf "$scratch"' EXIT
fail() { echo "test-windows: $*" >&2; exit 1; }
"$linux_cli" show --builtin --json >"$scratch/linux.json"
"$root/scripts/wine-run.sh" "$win_cli" show --builtin --json >"$scratch/windows.json" 2>"$scratch/err.txt" ||
  fail "show --builtin --json failed under wine: $(cat "$scratch/err.txt")"
cmp "$scratch/linux.json" "$scratch/windows.json" ||
  fail "show --builtin --json differs between the Linux and the Windows build"
winpath="Z:${scratch//\//\\}\\x.bin"
savedpath="Z:${scratch//\//\\}\\saved.bin"
"$root/scripts/wine-run.sh" "$win_cli" read --simulate --eeprom 24C16 --sim-eeprom 24C16 -o "$winpath" >/dev/null 2>&1 ||
  fail "read --simulate failed under wine"
[ "$(stat -c %s "$scratch/x.bin")" = 2048 ] || fail "read did not write 2048 bytes to $winpath"
"$linux_cli" read --simulate --eeprom 24C16 --sim-eeprom 24C16 -o "$scratch/linux.bin" >/dev/null 2>&1
cmp "$scratch/x.bin" "$scratch/linux.bin" || fail "read gives other bytes than the Linux build"
# An edited image (another VID) written with verify into a chip that holds
# the default: the chip must end up holding the edited file.
editpath="Z:${scratch//\//\\}\\edited.bin"
"$root/scripts/wine-run.sh" "$win_cli" set "$winpath" "$editpath" vid=1234 >/dev/null 2>&1 || fail "set failed under wine"
cmp -s "$scratch/x.bin" "$scratch/edited.bin" && fail "set did not change the image"
"$root/scripts/wine-run.sh" "$win_cli" write --simulate --sim-eeprom 24C16 --sim-save "$savedpath" "$editpath" \
  >"$scratch/write.txt" 2>&1 || fail "write --simulate failed under wine: $(cat "$scratch/write.txt")"
grep -q verified "$scratch/write.txt" || fail "write did not verify: $(cat "$scratch/write.txt")"
cmp "$scratch/edited.bin" "$scratch/saved.bin" || fail "the simulated chip does not hold the written image"
echo "test-windows: the Windows CLI matches the Linux build (show, read, write + verify)"

# The window itself, installed as the package lays it out, on the display.
if [ "$window" = 1 ]; then
  scripts/check-window-windows.sh
fi
