#!/usr/bin/env bash
# The scripted run: the product installed with its MSI into a fresh Wine
# prefix, the outside world's stand-ins started, and a morning at the keyboard
# played by build/win64/tests/morning.exe.
#   run.sh BUILD DIST        (DISPLAY must name a running X server)
# Everything goes to BUILD/run: transcript.txt, screens/NN-*.png,
# contact-sheet.png, msiexec-install.log, work/ (the button service's log, the
# stand-ins' records) and prefix/. Exit code 0 when every step happened as
# expected.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$1
dist=$2
out=$build/run
prefix=$out/prefix
transcript=$out/transcript.txt
. "$root/scripts/wineenv.sh"
wine64=$(wine_bin "$build")/wine64
wineserver=$(wine_bin "$build")/wineserver64
t0=$(date +%s%N)

elapsed() {
  local ms=$((($(date +%s%N) - t0) / 1000000))
  printf '%d.%02d s' $((ms / 1000)) $((ms % 1000 / 10))
}
say() { printf '[%s] %s\n' "$(elapsed)" "$*" | tee -a "$transcript"; }
winpath() {
  local p=${1//\//\\}
  printf 'Z:%s' "$p"
}

mkdir -p "$out"
rm -rf "$out/screens" "$out/work" "$transcript" "$out/contact-sheet.png"
mkdir -p "$out/screens" "$out/work"
say "ZEV HKB: the scripted run"

# A machine on which nothing of the product is installed yet.
"$root/scripts/freshprefix.sh" "$build/wineprefix-template" "$prefix" >"$out/prefix.log" 2>&1 || {
  say "FAILED: no fresh Wine prefix (see $out/prefix.log)"
  exit 1
}
say "a fresh Wine prefix: $prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
"$wineserver" -p </dev/null >/dev/null 2>&1
trap '"$wineserver" -k >/dev/null 2>&1; timeout 20 "$wineserver" -w >/dev/null 2>&1' EXIT
# The session's background processes start here, with their output discarded.
"$wine64" "$build/win64/tests/hkb_warmup.exe" </dev/null >/dev/null 2>&1
# No window manager on this screen: Wine draws the windows' frames and captions.
"$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f </dev/null >/dev/null 2>&1

# The installation, as a user would make it.
version=$(msiinfo export "$dist/ZEVHKB.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
t=$(date +%s%N)
"$wine64" msiexec /i "$(winpath "$dist/ZEVHKB.msi")" /qn /l*v "$(winpath "$out/msiexec-install.log")" \
  </dev/null >/dev/null 2>&1
rc=$?
say "msiexec /i ZEVHKB.msi (version $version): exit code $rc after $((($(date +%s%N) - t) / 1000000)) ms"
if [ "$rc" != 0 ]; then
  say "FAILED: the installation (see $out/msiexec-install.log)"
  exit 1
fi

# The morning. Its output goes to the transcript file (a pipe could be held
# open by a background Wine process) and is shown as it grows.
export HKB_STANDINS HKB_STANDINS32 HKB_ARTIFACTS
HKB_STANDINS="$(winpath "$build/win64/standins")\\"
HKB_STANDINS32="$(winpath "$build/win32/standins")\\"
HKB_ARTIFACTS="$(winpath "$out/screens")\\"
shown=$(stat -c %s "$transcript")
timeout 900 "$wine64" "$build/win64/tests/morning.exe" "$(winpath "$out/work")\\" </dev/null >>"$transcript" 2>&1 &
morning=$!
tail -c +$((shown + 1)) --pid="$morning" -f "$transcript" 2>/dev/null &
follower=$!
wait "$morning"
rc=$?
sleep 0.5
kill "$follower" 2>/dev/null
wait "$follower" 2>/dev/null

"$wineserver" -k >/dev/null 2>&1
timeout 20 "$wineserver" -w >/dev/null 2>&1
trap - EXIT

# Screenshots as PNG, and all of them on one sheet.
shopt -s nullglob
shots=()
for f in "$out"/screens/*.bmp; do
  /usr/bin/convert "$f" "${f%.bmp}.png" && rm -f "$f" && shots+=("${f%.bmp}.png")
done
if [ ${#shots[@]} -gt 0 ]; then
  font=$(fc-match -f '%{file}' 'DejaVu Sans')
  /usr/bin/montage -font "$font" -pointsize 16 -label '%t' "${shots[@]}" -tile 3x -geometry 416x333+8+8 \
    -background '#e8e8e8' -title 'ZEV HKB: a morning at the keyboard' "$out/contact-sheet.png" 2>>"$out/prefix.log" ||
    say "the contact sheet could not be made"
fi
say "${#shots[@]} screenshots in $out/screens; contact sheet $out/contact-sheet.png"
if [ "$rc" = 0 ]; then
  say "the run ended as expected"
else
  say "FAILED: the run did not go as expected (exit code $rc)"
fi
exit "$rc"
