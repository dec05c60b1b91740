#!/bin/sh
# Installs what is missing, then builds every build and runs every test:
# - native: unit tests, end-to-end cases, crash and concurrency tests;
# - native-asan: the same under AddressSanitizer and UBSan;
# - fuzz: each fuzz target for a bounded time;
# - win64: unit tests, end-to-end cases and window tests under Wine;
# - win32: checks of the shipped 32-bit program, and its release zip.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

run_preset() {
  echo "=== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

for preset in native native-asan fuzz win64 win32; do
  run_preset "$preset"
done
echo "=== release zip"
cpack --preset win32 | tail -1
echo "all tests passed"
