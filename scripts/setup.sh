#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12. Idempotent: when
# every package is present it only checks and returns.
#
# A fresh machine may meet a package index that is mid-sync (one architecture's
# index fails with "File has unexpected size"). The 64-bit packages still install
# from what was fetched; the 32-bit Wine packages then cannot be resolved against
# the newer 64-bit security versions, but install from the release's main archive,
# which keeps both architectures' shared libraries at the same version.
set -uo pipefail

PKGS=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev
  wine wine64 wine32:i386
  xvfb xauth x11-utils imagemagick fonts-noto-cjk fonts-dejavu-core fontconfig
  cmake ninja-build googletest libbenchmark-dev
  clang libclang-rt-14-dev clang-format libxml2-utils python3
  wixl msitools
)
# Named with the fallback install so that both architectures of this shared
# library come from the release archive at the same version (a 64-bit copy from
# the security archive would keep the 32-bit Wine packages out).
FALLBACK_PINNED=(libgstreamer-plugins-base1.0-0:i386 libgstreamer-plugins-base1.0-0:amd64)
RELEASE=bookworm

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_pkgs() {
  local p
  for p in "${PKGS[@]}"; do installed "$p" || printf '%s\n' "$p"; done
}
say() { printf 'setup: %s\n' "$*" >&2; }

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
mapfile -t missing < <(missing_pkgs)
if [ "$need_i386" = 0 ] && [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp /tmp/hkb-setup.XXXXXX)
trap 'rm -f "$log"' EXIT
if [ "$need_i386" = 1 ]; then
  $SUDO dpkg --add-architecture i386 || { say "cannot add the i386 architecture"; exit 1; }
fi
say "installing ${missing[*]}"

# An index that fails to update is often a mirror mid-sync: try again a few
# times, then go on with what was fetched.
for attempt in 1 2 3; do
  if $SUDO apt-get update -qq >"$log" 2>&1; then break; fi
  say "package index update failed (attempt $attempt): $(grep -m1 -E '^(E|W):' "$log")"
  [ "$attempt" = 3 ] || sleep $((attempt * 5))
done

apt_install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" >>"$log" 2>&1; }

if ! apt_install "${missing[@]}"; then
  say "normal install failed; trying the 32-bit Wine packages from the $RELEASE archive"
  pinned=()
  for p in "${FALLBACK_PINNED[@]}"; do pinned+=("$p/$RELEASE"); done
  if ! apt_install --allow-downgrades -t "$RELEASE" "${missing[@]}" "${pinned[@]}"; then
    say "that failed too; installing what can be installed alone"
    for p in "${missing[@]}"; do installed "$p" || apt_install "$p" || true; done
  fi
fi

mapfile -t still < <(missing_pkgs)
if [ ${#still[@]} -gt 0 ]; then
  say "could not install: ${still[*]} (package manager output: see below)"
  tail -n 15 "$log" >&2
  exit 1
fi
say "all packages installed"
