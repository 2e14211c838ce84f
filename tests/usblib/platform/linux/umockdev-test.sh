#!/bin/sh
# Runs a test program inside umockdev-wrapper. The umockdev preload library
# then comes before the AddressSanitizer runtime in the library list, which
# ASan refuses unless its link-order check is off.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export ASAN_OPTIONS
exec umockdev-wrapper "$@"
