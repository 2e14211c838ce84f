#!/usr/bin/env bash
# Builds the default preset and shows the built-in default EEPROM image.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/src/cli/qrt4250-cli show --builtin "$@"
