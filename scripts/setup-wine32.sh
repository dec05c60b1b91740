#!/bin/sh
# Makes this machine able to run the shipped 32-bit (i686) program under
# 32-bit Wine, and checks that it can. Quick when everything is in place;
# otherwise needs root. Written for Debian 12 (bookworm) on amd64.
#
# These machines' kernels refuse 32-bit Linux programs (ENOEXEC), so Debian's
# wine32 cannot start as it is. Its i386 programs run instead under qemu's
# user-mode emulator, which the kernel starts for them through binfmt_misc:
#  - an i386 root in $ROOT/root holds wine32 of exactly the host's wine64
#    version and the i386 libraries it loads, fetched from Debian's archive
#    with a private apt state and unpacked with dpkg-deb. The host's dpkg is
#    not touched: adding the i386 architecture to it would tie every
#    Multi-Arch: same library to the host's version;
#  - $ROOT/qemu-i386 comes from bookworm-backports' qemu-user (qemu 10).
#    Debian 12's own qemu 7.2 treats Wine's MAP_FIXED_NOREPLACE reservations
#    as hints, and Wine then takes minutes to start;
#  - i386 ELF programs are registered to that qemu-i386 in binfmt_misc with
#    flag F (the kernel opens the interpreter at registration, so the entry
#    works in any mount namespace). The entry is lost at reboot; the next run
#    of this script registers it again.
# The host's wineserver64 serves the 32-bit Wine processes: one Wine version,
# one protocol. tests/wine/wine_run.sh win32 runs a program this way.
#
# The package archives are those of the host's own apt sources.
# Usage: setup-wine32.sh [--check | --refresh]
#   --check    only check; exit 1 saying what is missing
#   --refresh  fetch and unpack everything again
# Environment: BRINDLEX_WINE32_ROOT (default /opt/brindlex-wine32)
set -eu

ROOT=${BRINDLEX_WINE32_ROOT:-/opt/brindlex-wine32}
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=brindlex-i386
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
# The ELF header of an i386 executable or shared object (ET_EXEC or ET_DYN).
MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The X libraries winex11.drv loads when present, as the host's wine64 has them.
X_LIBS="libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1"

say() { echo "setup-wine32: $*"; }
die() { echo "setup-wine32: error: $*" >&2; exit 1; }

mode=install
case "${1:-}" in
  --check) mode=check ;;
  --refresh) mode=refresh ;;
  "") ;;
  *) die "usage: setup-wine32.sh [--check | --refresh]" ;;
esac

wine_version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
[ -n "$wine_version" ] || die "wine64 is not installed (scripts/install-deps.sh installs it)"
stamp="$ROOT/installed"
want="wine32 $wine_version"

root_ready() {
  [ -x "$ROOT/qemu-i386" ] && [ -x "$ROOT/root/usr/lib/wine/wine" ] &&
    [ -f "$stamp" ] && grep -qx "$want" "$stamp"
}
entry_ready() {
  grep -qsx enabled "$BINFMT/$ENTRY" && grep -qsx "interpreter $ROOT/qemu-i386" "$BINFMT/$ENTRY" &&
    grep -qsx "flags: F" "$BINFMT/$ENTRY"
}
# Another enabled handler of i386 ELF programs, which would take them first.
other_handlers() {
  for entry in "$BINFMT"/*; do
    name=${entry##*/}
    case "$name" in register | status | "$ENTRY") continue ;; esac
    if grep -qsx enabled "$entry" &&
       grep -qsx 'magic 7f454c4601010100000000000000000002000300' "$entry"; then
      printf ' %s' "$name"
    fi
  done
}
loader_runs() {
  QEMU_LD_PREFIX="$ROOT/root" "$ROOT/root/usr/lib/wine/wine" --version >/dev/null 2>&1
}

if [ "$mode" != refresh ] && root_ready && entry_ready && [ -z "$(other_handlers)" ] && loader_runs; then
  say "ready: wine32 $wine_version in $ROOT, i386 programs run by $ROOT/qemu-i386"
  exit 0
fi
if [ "$mode" = check ]; then
  root_ready || die "no wine32 $wine_version in $ROOT"
  entry_ready || die "i386 programs are not registered to $ROOT/qemu-i386 in binfmt_misc"
  [ -z "$(other_handlers)" ] || die "other binfmt_misc handlers take i386 programs:$(other_handlers)"
  die "the i386 Wine loader does not run under $ROOT/qemu-i386"
fi

[ "$(id -u)" -eq 0 ] || die "root is needed to set up 32-bit Wine (apt-get, binfmt_misc)"
[ "$(dpkg --print-architecture)" = amd64 ] || die "written for an amd64 host"
# shellcheck disable=SC1091 # the machine's own file
. /etc/os-release
[ "${VERSION_CODENAME:-}" = bookworm ] || die "written for Debian 12 (bookworm), this is ${PRETTY_NAME:-unknown}"
grep -qw binfmt_misc /proc/filesystems || die "this kernel has no binfmt_misc"

# The URI that serves SUITE in the host's apt sources (deb822 or one-line form).
host_uri() { # host_uri SUITE
  {
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v suite="$1" '
      /^[ \t]*$/ { uri = ""; found = 0 }
      /^URIs:/ { uri = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) found = 1 }
      found && uri != "" { print uri; found = 0 }'
    grep -hsE "^deb +(\[[^]]*\] +)?[^ ]+ +$1( |$)" /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
      sed -E 's/^deb +(\[[^]]*\] +)?([^ ]+).*/\2/'
  } | head -n 1
}

# A private apt: its own sources, lists, cache and an empty dpkg status, so
# that the host's apt state is neither consulted nor changed.
private_apt() { # private_apt DIR ARCH apt-get-arguments...
  dir=$1 arch=$2
  shift 2
  apt-get -q -o APT::Architecture="$arch" -o APT::Architectures="$arch" \
    -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/sources.list.d" \
    -o Dir::Etc::Preferences="$dir/preferences" -o Dir::Etc::PreferencesParts="$dir/preferences.d" \
    -o Dir::State="$dir/state" -o Dir::State::Lists="$dir/lists" \
    -o Dir::State::status="$dir/status" -o Dir::Cache="$dir/cache" \
    -o APT::Sandbox::User=root "$@"
}
private_apt_init() { # private_apt_init DIR ARCH SOURCES
  mkdir -p "$1/sources.list.d" "$1/preferences.d" "$1/state" "$1/lists/partial" \
    "$1/cache/archives/partial"
  : >"$1/status"
  printf '%s\n' "$3" >"$1/sources.list"
  # A failing index (a mirror mid-sync) is reported by the fetch below if it matters.
  private_apt "$1" "$2" update -qq || say "warning: apt-get update ($2) reported errors"
}

if [ "$mode" = refresh ] || ! root_ready; then
  mirror=$(host_uri bookworm)
  security=$(host_uri bookworm-security)
  [ -n "$mirror" ] || die "the host's apt sources have no bookworm archive"
  [ -n "$security" ] || security=$mirror-security
  [ -f "$KEYRING" ] || die "no $KEYRING (package debian-archive-keyring)"
  mkdir -p "$ROOT"
  rm -rf "$ROOT/apt" "$ROOT/root.new" "$ROOT/qemu-i386.new"

  say "fetching wine32 $wine_version and its i386 libraries"
  private_apt_init "$ROOT/apt/i386" i386 "deb [arch=i386 signed-by=$KEYRING] $mirror bookworm main
deb [arch=i386 signed-by=$KEYRING] $mirror bookworm-updates main
deb [arch=i386 signed-by=$KEYRING] $security bookworm-security main"
  # shellcheck disable=SC2086 # the list is split on purpose
  private_apt "$ROOT/apt/i386" i386 install -y -qq --download-only --no-install-recommends \
    "wine32=$wine_version" "libwine=$wine_version" $X_LIBS >/dev/null ||
    die "could not fetch wine32 $wine_version for i386"
  new="$ROOT/root.new"
  mkdir -p "$new/usr/bin" "$new/usr/sbin" "$new/usr/lib" "$new/etc"
  for dir in bin sbin lib; do ln -s "usr/$dir" "$new/$dir"; done  # a merged /usr
  count=0
  for deb in "$ROOT/apt/i386/cache/archives/"*.deb; do
    # The files only: no maintainer script runs.
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$new" --keep-directory-symlink
    count=$((count + 1))
  done
  # What the maintainer scripts would have done that Wine needs: the dynamic
  # linker's cache of the i386 library folders...
  echo 'include /etc/ld.so.conf.d/*.conf' >"$new/etc/ld.so.conf"
  ldconfig -r "$new" -X
  # ...and libwine's builtin copies of MinGW's zlib1.dll (its postinst): the
  # DLL with "Wine builtin DLL" written at offset 64.
  for pair in i686:i386 x86_64:x86_64; do
    in="$new/usr/${pair%%:*}-w64-mingw32/lib/zlib1.dll"
    out="$new/usr/lib/i386-linux-gnu/wine/${pair##*:}-windows/zlib1.dll"
    if [ ! -f "$in" ] || [ ! -d "${out%/*}" ]; then continue; fi
    { head -c 64 "$in"; printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
      tail -c +97 "$in"; } >"$out"
  done

  say "fetching qemu-user from bookworm-backports"
  private_apt_init "$ROOT/apt/qemu" amd64 \
    "deb [arch=amd64 signed-by=$KEYRING] $mirror bookworm-backports main"
  (cd "$ROOT/apt/qemu/cache" && private_apt "$ROOT/apt/qemu" amd64 download qemu-user >/dev/null) ||
    die "could not fetch qemu-user from bookworm-backports"
  qemu_deb=$(ls "$ROOT/apt/qemu/cache/"qemu-user_*.deb)
  qemu_version=$(dpkg-deb -f "$qemu_deb" Version)
  case "${qemu_version#*:}" in  # the version without its epoch
    [1-9][0-9]* | [89]*) ;;
    *) die "bookworm-backports' qemu-user is $qemu_version; Wine needs qemu 8 or later" ;;
  esac
  mkdir -p "$ROOT/apt/qemu/files"
  dpkg-deb --fsys-tarfile "$qemu_deb" | tar -x -C "$ROOT/apt/qemu/files" ./usr/bin/qemu-i386
  install -m 755 "$ROOT/apt/qemu/files/usr/bin/qemu-i386" "$ROOT/qemu-i386.new"

  # The new files replace the old ones only once they are all there.
  rm -f "$stamp"
  rm -rf "$ROOT/root"
  mv "$new" "$ROOT/root"
  mv -f "$ROOT/qemu-i386.new" "$ROOT/qemu-i386"
  rm -rf "$ROOT/apt"
  printf '%s\nqemu %s\n' "$want" "$qemu_version" >"$stamp"
  say "installed $count i386 packages in $ROOT/root and qemu-i386 $qemu_version"
  # A registration made with flag F holds the old qemu-i386 file open.
  [ ! -e "$BINFMT/$ENTRY" ] || echo -1 >"$BINFMT/$ENTRY"
fi

if [ ! -e "$BINFMT/register" ]; then
  mount -t binfmt_misc binfmt_misc "$BINFMT" || die "could not mount binfmt_misc on $BINFMT"
  say "mounted binfmt_misc on $BINFMT"
fi
[ "$(cat "$BINFMT/status")" = enabled ] || die "binfmt_misc is disabled ($BINFMT/status)"
others=$(other_handlers)
[ -z "$others" ] || die "other binfmt_misc handlers take i386 programs:$others"
if ! entry_ready; then
  [ ! -e "$BINFMT/$ENTRY" ] || echo -1 >"$BINFMT/$ENTRY"
  printf '%s' ":$ENTRY:M::$MAGIC:$MASK:$ROOT/qemu-i386:F" >"$BINFMT/register"
  say "registered i386 programs to $ROOT/qemu-i386 ($BINFMT/$ENTRY)"
fi
loader_runs || die "the i386 Wine loader does not run under $ROOT/qemu-i386"
say "ready: wine32 $wine_version in $ROOT, i386 programs run by $ROOT/qemu-i386"
