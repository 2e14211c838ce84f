#!/usr/bin/env bash
# Configures, builds and runs every test of one preset (default: "default").
#   scripts/test.sh            # optimised build with debug info
#   scripts/test.sh asan       # AddressSanitizer + UndefinedBehaviorSanitizer
# QRT_WERROR=1 turns compiler warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
extra=()
if [ "${QRT_WERROR:-0}" = "1" ]; then extra+=(-DQRT_WERROR=ON); fi
cmake --preset "$preset" "${extra[@]}"
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
