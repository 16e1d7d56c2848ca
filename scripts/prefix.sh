#!/usr/bin/env bash
# Creates the build tree's Wine prefix once: prefix.sh PREFIX
# Needs DISPLAY; run it before a persistent wineserver is started, since it
# waits for the session that sets the prefix up to end.
set -euo pipefail
prefix=$1
stamp="$prefix/.hkb-prefix-v1"
[ -f "$stamp" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$prefix"
echo "prefix: creating $prefix" >&2
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
# Japanese dialog text: map the usual Japanese UI fonts onto the CJK font.
reg() { /usr/lib/wine/wine64 reg "$@" >/dev/null 2>&1; }
for face in "MS UI Gothic" "MS Gothic" "MS PGothic" "Meiryo" "Meiryo UI" "Yu Gothic UI"; do
  reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "Noto Sans CJK JP" /f
done
# No desktop integration or crash dialogs in a test prefix.
reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d "" /f
reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f
# Let everything the set-up started (services, device host) finish first.
/usr/lib/wine/wineserver64 -w
touch "$stamp"
