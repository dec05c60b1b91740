#!/bin/sh
# Installs what is missing, then builds every build and runs every test:
# the POSIX build's unit and end-to-end tests, the 64-bit Windows build's
# unit, end-to-end and window tests under Wine, and the checks of the
# shipped 32-bit Windows program.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

for preset in native win64 win32; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "all tests passed"
