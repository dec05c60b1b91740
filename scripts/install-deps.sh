#!/bin/sh
# Installs the Debian packages that building and testing need, when any is
# missing. Needs root (or sudo) only when something must be installed.
# Usage: install-deps.sh [--native]   (--native: only what the POSIX build needs)
set -eu
PACKAGES="cmake ninja-build g++ python3 googletest libgtest-dev libgmock-dev acl attr pkg-config
libhivex-dev libhivex-bin libwin-hivex-perl"
if [ "${1:-}" != "--native" ]; then
  PACKAGES="$PACKAGES libbenchmark-dev clang libclang-rt-14-dev g++-mingw-w64-i686
g++-mingw-w64-x86-64 wine wine64 xvfb xdotool imagemagick zip time"
fi

missing=""
for package in $PACKAGES; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $package" ;;
  esac
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "these packages are missing and root is needed to install them:$missing" >&2
  exit 1
fi
$SUDO apt-get update -qq
# shellcheck disable=SC2086 # the list is split on purpose
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
