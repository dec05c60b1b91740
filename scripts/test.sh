#!/bin/sh
# Installs what is missing, then builds every build and runs every test:
# - native: unit tests, end-to-end cases, crash and concurrency tests;
# - native-asan: the same under AddressSanitizer and UBSan;
# - fuzz: each fuzz target for a bounded time;
# - win64: unit tests, end-to-end cases and window tests under 64-bit Wine;
# - win32, the shipped program: the same under 32-bit Wine (set up by
#   scripts/setup-wine32.sh when missing, which needs root), checks of the
#   program, and its release zip, which must hold the program the tests ran.
# When 32-bit Wine cannot run, this fails and says why. On a machine of your
# own, BRINDLEX_SKIP_WIN32_WINE=1 skips the win32 tests under Wine (and says
# so); the release zip is then checked against the built program only.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

skip_win32_wine=0
if [ "${BRINDLEX_SKIP_WIN32_WINE:-}" = 1 ]; then
  skip_win32_wine=1
  echo "BRINDLEX_SKIP_WIN32_WINE=1: SKIPPING the 32-bit program's tests under Wine"
elif ! scripts/setup-wine32.sh; then
  echo "error: 32-bit Wine cannot run here (see above), so the shipped 32-bit program" \
       "cannot be tested. To skip its tests under Wine on your own machine, run" \
       "BRINDLEX_SKIP_WIN32_WINE=1 scripts/test.sh" >&2
  exit 1
fi

run_preset() { # run_preset PRESET [ctest arguments...]
  preset=$1
  shift
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  start=$(date +%s)
  ctest --preset "$preset" "$@"
  echo "=== $preset: tests took $(($(date +%s) - start)) s"
}

for preset in native native-asan fuzz win64; do
  run_preset "$preset"
done
if [ "$skip_win32_wine" = 1 ]; then
  run_preset win32 --label-exclude wine
else
  run_preset win32
fi

echo "=== release zip"
zip=$(cpack --preset win32 | sed -n 's/^CPack: - package: \(.*\.zip\) generated\.$/\1/p')
[ -n "$zip" ] || { echo "error: cpack made no zip" >&2; exit 1; }
tested=""
if [ "$skip_win32_wine" = 0 ]; then
  for harness in e2e window large_inputs; do
    tested="$tested --tested build/win32/artifacts/tested/$harness.sha256"
  done
fi
# shellcheck disable=SC2086 # the list is split on purpose
python3 tests/pe/check_release.py --zip "$zip" --exe build/win32/Brindlex.exe $tested
if [ "$skip_win32_wine" = 1 ]; then
  echo "all tests passed, except the 32-bit program's under Wine: SKIPPED (BRINDLEX_SKIP_WIN32_WINE=1)"
else
  echo "all tests passed"
fi
