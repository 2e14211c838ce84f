#!/usr/bin/env bash
# Builds the default preset and starts the window on the simulated QRT4250
# (one device, VID 3A7C PID 4250, a 24C02 holding the default image). Extra
# arguments go to qrt4250-config, e.g. --sim-eeprom 24C16 or --sim-fault flip:0x40.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/src/app/qrt4250-config --simulate "$@"
