#!/bin/sh
# Runs a Windows program under one kind of Wine, in a private prefix that is
# made on first use: $WINEPREFIX when set, else one per user and kind.
# Usage: wine_run.sh KIND program.exe [arguments...]
#   KIND  win64: x86_64 programs under the host's 64-bit Wine;
#         win32: i686 programs under 32-bit Wine, whose i386 Linux processes
#         are emulated by qemu-i386 (scripts/setup-wine32.sh prepares it) and
#         served by the host's wineserver64.
# winehost.py holds the same two recipes for the Python harnesses.
set -eu
die() { echo "wine_run.sh: $*" >&2; exit 125; }

[ $# -ge 2 ] || die "usage: wine_run.sh win32|win64 program.exe [arguments...]"
kind=$1
shift
case "$kind" in
  win64)
    WINE=/usr/lib/wine/wine64
    ;;
  win32)
    root=${BRINDLEX_WINE32_ROOT:-/opt/brindlex-wine32}
    WINE=$root/root/usr/lib/wine/wine
    export QEMU_LD_PREFIX="$root/root" WINEARCH=win32 WINESERVER=/usr/lib/wine/wineserver64
    QEMU_LD_PREFIX="$root/root" "$WINE" --version >/dev/null 2>&1 ||
      die "32-bit Wine does not run here: run scripts/setup-wine32.sh (as root)"
    ;;
  *) die "unknown Wine kind '$kind' (win32 or win64)" ;;
esac
: "${WINEPREFIX:=${TMPDIR:-/tmp}/brindlex-wine-$kind-$(id -u)}"
export WINEPREFIX
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1 || die "wineboot -i failed in $WINEPREFIX"
fi
exec "$WINE" "$@"
