#!/usr/bin/env bash
# Builds the installer from installer/ZEVHKB.wxs and the install-shaped output:
#   msi.sh DIST                  writes DIST/ZEVHKB.msi
#   msi.sh DIST VERSION OUTPUT   the same package with another version number
#                                (the installer test's later version), always built
# The version is the project's (CMakeLists.txt). DIST/ZEVHKB.msi is rebuilt only
# when the source or a packaged file is newer than the package.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dist=$(cd "$1" && pwd)
src=$root/installer/ZEVHKB.wxs
out=$dist/ZEVHKB.msi
version=$(sed -nE 's/^project\(ZEVHKB VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "msi: no project version in CMakeLists.txt" >&2; exit 1; }
always=0
if [ $# -ge 3 ]; then
  version=$2
  out=$(realpath -m "$3")
  always=1
fi

mapfile -t files < <(sed -nE 's/.*Source="([^"]+)".*/\1/p' "$src")
stale=0
[ -f "$out" ] && [ "$out" -nt "$src" ] && [ "$out" -nt "$0" ] || stale=1
for f in "${files[@]}"; do
  [ -f "$dist/$f" ] || { echo "msi: $dist/$f is missing" >&2; exit 1; }
  [ "$out" -nt "$dist/$f" ] || stale=1
done
[ "$stale" = 1 ] || [ "$always" = 1 ] || exit 0

# wixl reads the files relative to the current folder and leaves its scratch
# files there when it fails: it works in a folder of its own.
work=$(mktemp -d "${TMPDIR:-/tmp}/hkb-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT
for f in "${files[@]}"; do
  mkdir -p "$work/$(dirname "$f")"
  ln -s "$dist/$f" "$work/$f"
done
(cd "$work" && wixl -a x64 -D Version="$version" -o "$work/ZEVHKB.msi" "$src") || {
  echo "msi: wixl failed" >&2
  exit 1
}
mv "$work/ZEVHKB.msi" "$out"
echo "msi: built $out (version $version)" >&2
