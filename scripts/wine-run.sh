#!/usr/bin/env bash
# Runs a Windows program under wine for ctest (the cross build's emulator)
# and for scripts/test-windows.sh:
#   scripts/wine-run.sh PROGRAM.exe ARGS...
# Once in many starts, more often under load, a wine process ends at once
# with a failure status and no output at all, before the program's first
# line (seen both at ctest's test discovery and in test runs of programs
# that pass alone). Such a start is tried once more, with a note on stderr.
# A program that printed anything keeps its status and its output.
set -u
scratch=$(mktemp -d) || exit 125
trap 'rm -rf "$scratch"' EXIT
for attempt in 1 2; do
  wine "$@" >"$scratch/out" 2>"$scratch/err" </dev/null
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$scratch/out" ] || [ -s "$scratch/err" ] || [ "$attempt" -eq 2 ]; then
    break
  fi
  echo "wine-run: $1 ended with status $status and no output; starting it once more" >&2
done
cat "$scratch/out"
cat "$scratch/err" >&2
exit "$status"
