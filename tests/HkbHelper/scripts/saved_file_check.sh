#!/usr/bin/env bash
# Saves the sample catalogue with the library under Wine, then reads the file
# back with an independent parser (libxml2's xmllint): well-formed, UTF-8,
# the element and attribute names of the catalogue format, and the texts as
# they were written. Saving and checking are one test, so it depends on no
# other test.
#   saved_file_check.sh WINRUN TREE DIST TOOL SCHEMA OUTPUT
set -euo pipefail
winrun=$1 tree=$2 dist=$3 tool=$4 schema=$5 out=$6
fail() { echo "FAIL: $*"; exit 1; }
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

mkdir -p "$(dirname "$out")"
rm -f "$out"
"$winrun" 64 --tree="$tree" --dist="$dist" "$tool" save-sample "$(winpath "$out")" </dev/null
[ -s "$out" ] || fail "no file was saved"

xmllint --noout --schema "$schema" "$out"
iconv -f UTF-8 -t UTF-8 "$out" >/dev/null || fail "not UTF-8"
head -c 64 "$out" | sed 's/^\xEF\xBB\xBF//' | head -n1 | grep -q '^<?xml version="1.0" encoding="UTF-8"?>' \
  || fail "declaration: $(head -n1 "$out")"

expect() {  # XPATH EXPECTED
  local got
  got=$(xmllint --xpath "$1" "$out")
  [ "$got" = "$2" ] || fail "$1 gave '$got', expected '$2'"
  echo "ok: $1 = $2"
}
expect 'count(/Applications/MetroApps/Package)' 3
expect 'count(/Applications/MetroApps/Package/MetroApp)' 3
expect 'count(/Applications/DesktopApps/DesktopApp)' 4
expect 'string(/Applications/MetroApps/Package[1]/@Version)' '10.1910.3.7'
expect 'string(/Applications/MetroApps/Package[1]/MetroApp[2]/@DisplayName)' 'notes & <clips>'
expect 'string(/Applications/MetroApps/Package[1]/MetroApp[2]/@ShortName)' '"clips"'
expect 'string(/Applications/MetroApps/Package[2]/MetroApp/@DisplayName)' '天気予報'
expect 'string(/Applications/MetroApps/Package[2]/@NeedReserve)' '1'
expect 'string(/Applications/MetroApps/Package[2]/@IsInstalled)' '0'
expect 'count(/Applications/MetroApps/Package[3]/*)' 0
expect 'string(/Applications/DesktopApps/DesktopApp[2]/@LocalizeName)' 'メール'
expect 'string(/Applications/DesktopApps/DesktopApp[4]/@IsDualMode)' '1'
expect 'count(//@*[.=""])' 0
echo "saved catalogue read back by xmllint: $out"
