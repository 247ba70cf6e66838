#!/bin/sh
# Builds the 64-bit program and its tests and runs every test under Wine,
# after every seed and regression input of the fuzz targets has gone once
# through its target (natively). Does its own set-up on a fresh Debian 12
# machine.
set -e
cd "$(dirname "$0")/.."
sh tools/setup-debian.sh
sh tools/run-fuzz.sh replay
cmake --preset win64 >/dev/null
cmake --build --preset win64
ctest --preset win64 "$@"
