#!/usr/bin/env bash
# The installer end to end, in a Wine prefix of its own (the test prefix is
# never touched):
#   msi_test.sh ROOT BUILD_TREE DIST
# 1. The package holds every program and library of the build, and no other.
# 2. A fresh prefix (a copy of the template); a snapshot of its files and
#    registry once a first session has ended.
# 3. msiexec /i, then install_check.exe's suite Installed: every file as built,
#    the registry entries, the product, a 64-bit client creating the class.
#    The user's data (prompt setting, app catalogue) written.
# 4. The same package with a later version installed over it (an upgrade in
#    place): suite Installed again, one product of the later version, the
#    user's data kept. Two program files deleted and repaired (reinstall of
#    missing files): suite Installed again.
# 5. msiexec /x, then the suite Removed: nothing of it left.
# 6. A second snapshot: nothing that was there before is gone, nothing of the
#    product is left.
# Needs DISPLAY. The prefix stays in BUILD/installer-test for inspection.
set -uo pipefail
root=$1
tree=$2
dist=$3
build=$(dirname "$tree")
msi=$dist/ZEVHKB.msi
work=$build/installer-test
prefix=$work/prefix
snapshot=(python3 "$root/tests/installer/prefix_snapshot.py")
check=$tree/tests/install_check.exe
status=0

say() { printf 'msi_test: %s\n' "$*"; }
fail() {
  say "FAILED: $*"
  status=1
}
winpath() {
  local p=${1//\//\\}
  printf 'Z:%s' "$p"
}
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
. "$root/scripts/wineenv.sh"
wine64=$(wine_bin "$build")/wine64
wineserver=$(wine_bin "$build")/wineserver64
# A phase ends with its Wine session, so that the registry is on disk.
end_session() {
  timeout 60 "$wineserver" -w || {
    "$wineserver" -k
    timeout 30 "$wineserver" -w
  }
}
trap '"$wineserver" -k >/dev/null 2>&1' EXIT

[ -f "$msi" ] || {
  say "FAILED: $msi is missing (./hkb build makes it)"
  exit 1
}
version=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
product=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
say "package $msi: version $version, product code $product"

# 1. Every program and library of the build is in the package, and nothing else.
built=$(cd "$dist" && find "Program Files/ZEVHKB" "Program Files (x86)/ZEVHKB" -maxdepth 1 -type f \
  \( -name '*.exe' -o -name '*.dll' \) -printf '%f\n' | sort)
packaged=$(msiinfo export "$msi" File | tr -d '\r' | tail -n +4 | cut -f3 | sed 's/.*|//' | sort)
if [ "$built" = "$packaged" ]; then
  say "the package holds the build's $(wc -l <<<"$built") files: $(tr '\n' ' ' <<<"$built")"
else
  fail "the package's files differ from the build's: $(diff <(echo "$built") <(echo "$packaged") | tr '\n' ' ')"
fi

# 2. A fresh prefix, settled by one session, then its snapshot.
start=$(date +%s)
mkdir -p "$work"
"$root/scripts/freshprefix.sh" "$build/wineprefix-template" "$prefix" || {
  say "FAILED: no fresh prefix"
  exit 1
}
"$wine64" "$tree/tests/hkb_warmup.exe" </dev/null >/dev/null 2>&1
end_session
"${snapshot[@]}" snapshot "$prefix" "$work/before.txt" || fail "snapshot before"
say "fresh prefix ready in $(($(date +%s) - start)) s"

# 3. Install and check; then the user's own data, as the system writes it.
msiexec_run() { # msiexec_run LOG ARGS...
  local log=$1
  shift
  "$wine64" msiexec "$@" /qn /l*v "$(winpath "$work/$log")" </dev/null >/dev/null 2>&1
}
check() { # check VERSION SUITE...: install_check.exe with the suites given
  local v=$1 filter
  shift
  filter=$(IFS=:; echo "$*")
  HKB_VERSION=$v "$root/scripts/winrun" 64 --tree="$tree" --dist="$dist" "$check" --gtest_filter="$filter" </dev/null
}
msiexec_step() { # msiexec_step WHAT LOG ARGS...: one msiexec run, its exit code and time said, a failure noted
  local what=$1 log=$2 t rc
  shift 2
  t=$(date +%s)
  msiexec_run "$log" "$@"
  rc=$?
  say "$what: exit code $rc, $(($(date +%s) - t)) s"
  [ "$rc" = 0 ] || fail "$what (see $work/$log)"
}
msiexec_step "msiexec /i" install.log /i "$(winpath "$msi")"
check "$version" 'Installed.*' || fail "the installed product (suite Installed)"
check "$version" 'UserData.Write' || fail "writing the user's data"
end_session

# 4. A later version of the same package installed over it: an upgrade in
#    place. Then a repair restores deleted program files.
later_version=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")
later=$work/ZEVHKB-$later_version.msi
"$root/scripts/msi.sh" "$dist" "$later_version" "$later" 2>/dev/null || fail "building the later package"
later_product=$(msiinfo export "$later" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
msiexec_step "msiexec /i of version $later_version over $version (upgrade)" upgrade.log /i "$(winpath "$later")"
check "$later_version" 'Installed.*:UserData.Kept' || fail "after the upgrade (suites Installed, UserData.Kept)"
end_session
deleted=("Program Files/ZEVHKB/HKBFNK.dll" "Program Files (x86)/ZEVHKB/KeyDbWrapper.exe")
for f in "${deleted[@]}"; do rm -f "$prefix/drive_c/$f"; done
# The repair as properties ("/fp" spelled out): Wine's msiexec does not
# implement "/f" with a product code (it reports success and repairs nothing)
# and takes a package path given to "/f" for a product code.
msiexec_step "msiexec /i REINSTALL=ALL REINSTALLMODE=p (repair) with ${deleted[*]} deleted" repair.log \
  /i "$(winpath "$later")" REINSTALL=ALL REINSTALLMODE=p
check "$later_version" 'Installed.*:UserData.Kept' || fail "after the repair (suites Installed, UserData.Kept)"
end_session

# 5. Uninstall and check; the test removes the user's data it wrote.
msiexec_step "msiexec /x" uninstall.log /x "$(winpath "$later")"
check "$later_version" 'Removed.*:UserData.Kept:UserData.Remove' || fail "after the uninstallation (suite Removed)"
end_session

# 6. Before and after.
"${snapshot[@]}" snapshot "$prefix" "$work/after.txt" || fail "snapshot after"
"${snapshot[@]}" compare "$work/before.txt" "$work/after.txt" ZEVHKB KeyDbWrapper keyDbObj HKBUTLEx HkbHelper \
  HKBPS2 HKBFNK ZEVOSD "{259F18F8-B49B-45d2-88D9-E042D98AA4D4}" \
  "{F003112F-C184-445e-9306-54A912775296}" "{27CFD97F-CD20-4E9E-88C0-5FD71564FC69}" \
  "{582772D7-CE63-42BF-B36A-314130EF137F}" "{3C1E7B52-9A04-4D8E-B6F3-2A5D0C91E874}" "$product" \
  "$later_product" ||
  fail "the prefix after the uninstallation is not the prefix before the installation"

say "$([ "$status" = 0 ] && echo passed || echo failed) in $(($(date +%s) - start)) s"
exit "$status"
