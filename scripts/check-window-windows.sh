#!/usr/bin/env bash
# Compiles every source of the window (src/app with its platform/windows
# files, main.cpp and DemoPlatform.cpp, and the moc output) with the mingw-w64
# compiler and -fsyntax-only against the host's Qt 6 headers, warnings as
# errors. Debian has no Qt for mingw, so the window is never linked for
# Windows here; this keeps its Windows code compiling.
#   scripts/check-window-windows.sh
# The configuration is the "windows" preset with the window switched on
# (build/windows-window), so the include paths and definitions are those of
# src/app's WIN32 branch; cmake/WindowSyntaxCheck.cmake lends it the host's
# Qt. Qt's headers arrive with -isystem as in every build, so no warning is
# silenced. Needs build/windows-deps as scripts/test-windows.sh leaves it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/windows-window

fail() { echo "check-window-windows: $*" >&2; exit 1; }
[ -f "$root/build/windows-deps/share/cmake/CLI11/CLI11Config.cmake" ] ||
  fail "build/windows-deps is not prepared: run scripts/test-windows.sh first"

cmake --preset windows -B "$build" -DQRT_BUILD_GUI=ON -DQRT_BUILD_TESTS=OFF \
  -DQRT_WERROR=ON -DCMAKE_PROJECT_INCLUDE="$root/cmake/WindowSyntaxCheck.cmake" >/dev/null

# The objects of the window's two targets; none is written, so each check
# runs every time.
mapfile -t objects < <(ninja -C "$build" -t targets all |
  grep -o '^src/app/CMakeFiles/\(qrt_app\|qrt4250-config\)\.dir/[^:]*\.obj')
[ "${#objects[@]}" -gt 0 ] || fail "no source of the window in $build"
ninja -C "$build" -k 0 "${objects[@]}" || fail "the window does not compile for Windows (above)"
echo "check-window-windows: ${#objects[@]} sources of the window compile with the Windows compiler"
