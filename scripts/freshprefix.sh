#!/usr/bin/env bash
# A fresh Wine prefix, as on a machine where nothing of the product has been
# installed yet: freshprefix.sh TEMPLATE DEST
# TEMPLATE is made once (scripts/prefix.sh, the same set-up as the test prefix)
# and copied to DEST, which is replaced (its Wine session is ended first).
# Needs DISPLAY the first time.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
template=$(realpath -m "$1")
dest=$(realpath -m "$2")
. "$root/scripts/wineenv.sh"
wine=$(wine_bin "$(dirname "$template")")
mkdir -p "$(dirname "$template")" "$(dirname "$dest")"
exec 9>"$template.lock"
flock 9
if [ ! -f "$template/.hkb-prefix-v2" ]; then
  rm -rf "$template"
  "$root/scripts/prefix.sh" "$template"
fi
if [ -d "$dest" ]; then
  WINEPREFIX=$dest "$wine/wineserver64" -k >/dev/null 2>&1 || true
  WINEPREFIX=$dest timeout 20 "$wine/wineserver64" -w >/dev/null 2>&1 || true
  rm -rf "$dest"
fi
cp -a "$template" "$dest"
