#!/usr/bin/env bash
# Formats the C and C++ sources with the project's .clang-format.
#   scripts/format.sh          rewrite the files in place
#   scripts/format.sh --check  list the files that differ; exit 1 when any does
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
fmt=${CLANG_FORMAT:-clang-format}
folders=()
for d in src tests scripts; do [ -d "$d" ] && folders+=("$d"); done
mapfile -d '' files < <(find "${folders[@]}" -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if [ "${1:-}" = --check ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! "$fmt" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
      echo "not formatted: $f (run scripts/format.sh)"
      bad=1
    fi
  done
  exit $bad
fi
"$fmt" --style=file -i "${files[@]}"
