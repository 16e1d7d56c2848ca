#!/usr/bin/env bash
# Creates a Wine prefix of a build tree once: prefix.sh PREFIX (a folder
# directly in the build tree, whose Wine loaders it uses: scripts/wineenv.sh).
# A prefix made by loaders that cannot start 32-bit programs has no 32-bit
# system files, so it is always made by the ones the tests use.
# Needs DISPLAY; run it before a persistent wineserver is started, since it
# waits for the session that sets the prefix up to end.
set -euo pipefail
prefix=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wineenv.sh"
wine=$(wine_bin "$(dirname "$(realpath -m "$prefix")")")
stamp="$prefix/.hkb-prefix-v2"
[ -f "$stamp" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$prefix"
echo "prefix: creating $prefix" >&2
"$wine/wine64" wineboot -i >/dev/null 2>&1
# Japanese dialog text: map the usual Japanese UI fonts onto the CJK font.
reg() { "$wine/wine64" reg "$@" >/dev/null 2>&1; }
for face in "MS UI Gothic" "MS Gothic" "MS PGothic" "Meiryo" "Meiryo UI" "Yu Gothic UI"; do
  reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "Noto Sans CJK JP" /f
done
# No desktop integration or crash dialogs in a test prefix.
reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d "" /f
reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f
# Let everything the set-up started (services, device host) finish first.
"$wine/wineserver64" -w
touch "$stamp"
