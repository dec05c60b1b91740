#!/bin/sh
# Runs a 64-bit Windows program under Wine, in a private prefix that is made
# on first use: $WINEPREFIX when set, else one beside this build's tests.
# Usage: wine_run.sh program.exe [arguments...]
set -eu
WINE=/usr/lib/wine/wine64
: "${WINEPREFIX:=${TMPDIR:-/tmp}/brindlex-wine-$(id -u)}"
export WINEPREFIX
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
fi
exec "$WINE" "$@"
