#!/bin/sh
# qrt4250-config without a display server: one line and exit status 1, not
# Qt's plugin list and an abort (exit 134).
#   without_display.sh QRT4250_CONFIG
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" --simulate 2>&1)
code=$?
expected="qrt4250-config: no display (DISPLAY / WAYLAND_DISPLAY not set)"
if [ "$code" -ne 1 ] || [ "$out" != "$expected" ]; then
  echo "exit $code, output:"
  echo "$out"
  exit 1
fi
echo "$out"
