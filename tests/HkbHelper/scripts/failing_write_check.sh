#!/usr/bin/env bash
# A save whose writes start failing part-way (the file-size limit of the
# process, ulimit -f, with SIGXFSZ ignored so that the write fails instead of
# the process dying) must leave the catalogue file exactly as it was, and no
# temporary file behind. Without the limit the same save replaces it whole.
#   failing_write_check.sh WINRUN TREE DIST TOOL FOLDER
set -euo pipefail
winrun=$1 tree=$2 dist=$3 tool=$4 dir=$5
fail() { echo "FAIL: $*"; exit 1; }
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
run() { "$winrun" 64 --tree="$tree" --dist="$dist" "$tool" "$@" </dev/null; }

rm -rf "$dir"
mkdir -p "$dir"
file=$dir/AppNameList.xml

# The limit must bind the limited save alone. A Wine program that finds no
# wineserver for its prefix starts one, and the server inherits the program's
# limits: started by the limited save, it would fail every write above 64 KiB
# of every program in the prefix from then on, this script's last save among
# them. So a program started here without the limit holds the session (and
# starts its server if none runs) until the limited save is over.
session=$dir.session
rm -f "$session"
"$winrun" 64 --tree="$tree" --dist="$dist" "$tool" hold "$(winpath "$session")" </dev/null >"$dir.hold.log" 2>&1 &
holder=$!
release() { rm -f "$session"; wait "$holder" 2>/dev/null || true; }
trap release EXIT
for _ in $(seq 600); do
  [ -e "$session" ] && break
  kill -0 "$holder" 2>/dev/null || fail "the session holder ended early: $(cat "$dir.hold.log")"
  sleep 0.1
done
[ -e "$session" ] || fail "the session holder did not start within 60 s"

run save-large "$(winpath "$file")" 300 3 200 || fail "the first save failed"
xmllint --noout "$file"
cp "$file" "$dir/old.copy"
echo "old catalogue: $(stat -c %s "$file") bytes"

set +e
(
  ulimit -f 64  # 64 KiB: the new catalogue is several times larger
  trap '' XFSZ
  exec "$winrun" 64 --tree="$tree" --dist="$dist" "$tool" save-large "$(winpath "$file")" 1000 3 500 </dev/null
) >"$dir/limited.log" 2>&1
rc=$?
set -e
cat "$dir/limited.log"
[ "$rc" = 2 ] || fail "the limited save should report a failure (exit 2), got $rc"
cmp "$file" "$dir/old.copy" || fail "the catalogue file changed"
leftover=$(ls "$dir" | grep -v -e '^AppNameList.xml$' -e '^old.copy$' -e '^limited.log$' || true)
[ -z "$leftover" ] || fail "left behind: $leftover"

run save-large "$(winpath "$file")" 1000 3 500 || fail "the unlimited save after the limited one failed"
xmllint --noout "$file"
! cmp -s "$file" "$dir/old.copy" || fail "the unlimited save did not replace the file"
echo "new catalogue: $(stat -c %s "$file") bytes"
