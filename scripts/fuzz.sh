#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (ASan + UBSan) and runs each for
# the given number of seconds (default 60). A finding fails the script and
# leaves the crashing input under build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
extra=()
if [ "${QRT_WERROR:-0}" = "1" ]; then extra+=(-DQRT_WERROR=ON); fi
cmake --preset fuzz "${extra[@]}"
cmake --build --preset fuzz
mkdir -p build/fuzz/findings
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d tests/data ] && seeds+=(tests/data)
  echo "== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -artifact_prefix=build/fuzz/findings/ \
    -print_final_stats=1 "$corpus" "${seeds[@]}"
done
