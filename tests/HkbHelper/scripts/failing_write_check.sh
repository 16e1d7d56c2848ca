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
run save-large "$(winpath "$file")" 300 3 200
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

run save-large "$(winpath "$file")" 1000 3 500
xmllint --noout "$file"
! cmp -s "$file" "$dir/old.copy" || fail "the unlimited save did not replace the file"
echo "new catalogue: $(stat -c %s "$file") bytes"
