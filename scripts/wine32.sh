#!/usr/bin/env bash
# Makes sure that Wine starts 32-bit Windows programs: wine32.sh BUILD
# Prints one line saying how 32-bit programs run.
#
# Where this machine's kernel runs 32-bit code, Wine's own loaders in
# /usr/lib/wine do everything and nothing is made. Where it does not ("Exec
# format error" for any i386 program), BUILD/wine becomes a private loader
# folder whose 32-bit loader runs under qemu's user-mode emulator:
#   lib/wine/wine64        a copy of Wine's 64-bit loader (Wine looks for the
#                          32-bit loader beside the real path of the 64-bit one)
#   lib/wine/wine          a script: qemu-i386 running the 32-bit loader
#   lib/wine/wine32.bin    a copy of Wine's 32-bit loader
#   lib/wine/wineserver*   the system's wineserver
#   lib/{x86_64,i386}-linux-gnu/wine, share/wine   the system's Wine files
#   qemu/                  qemu-user of the backports suite (Debian 12's own
#                          qemu 7.2 takes a minute per program start), unpacked
#                          here: nothing is installed or registered system-wide
#   segv_trapno.so         the fault-type library (segv_trapno.c)
# scripts/wineenv.sh picks the folder up. HKB_WINE32=emulate makes the folder
# even where 32-bit code runs natively (to try the emulation by hand).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "$1")
out=$build/wine
sys=/usr/lib/wine
stamp=$out/.hkb-wine32-v1
say() { printf 'hkb: %s\n' "$*" >&2; }

if [ "${HKB_WINE32:-auto}" != emulate ] && "$sys/wine" --version >/dev/null 2>&1; then
  rm -rf "$out"
  say "32-bit Windows programs: run natively by Wine"
  exit 0
fi
if [ -f "$stamp" ]; then
  say "32-bit Windows programs: run by Wine under qemu-i386 ($(cat "$stamp"))"
  exit 0
fi

rm -rf "$out"
mkdir -p "$out/apt/lists/partial" "$out/apt/cache/archives/partial" "$out/lib/wine" "$out/share"
# qemu-user from the backports suite of the mirror the system already uses.
mirror=$( (grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{ print $2 }'
  grep -h -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -E 's/^deb (\[[^]]*\] )?//' | awk '{ print $1 }') | grep -E '/debian/?$' | head -n1 || true)
mirror=${mirror:-http://deb.debian.org/debian}
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
echo "deb ${mirror%/} ${codename}-backports main" >"$out/apt/sources.list"
apt_opts=(-o "Dir::Etc::SourceList=$out/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$out/apt/lists" -o "Dir::Cache=$out/apt/cache" -o Dir::State::status=/dev/null
  -o APT::Architectures=amd64 -o APT::Sandbox::User=root -qq)
apt-get "${apt_opts[@]}" update >"$out/apt.log" 2>&1 || { cat "$out/apt.log" >&2; exit 1; }
(cd "$out/apt" && apt-get "${apt_opts[@]}" download qemu-user) >>"$out/apt.log" 2>&1 || {
  cat "$out/apt.log" >&2
  exit 1
}
dpkg-deb -x "$out"/apt/qemu-user_*.deb "$out/qemu"
version=$(dpkg-deb -f "$out"/apt/qemu-user_*.deb Version)
rm -rf "$out/apt"
qemu=$out/qemu/usr/bin/qemu-i386
[ -x "$qemu" ] || { say "qemu-i386 is missing from the qemu-user package"; exit 1; }

# The fault-type library, for the emulated 32-bit loader only.
gcc -m32 -O2 -fPIC -ffreestanding -fno-stack-protector -c "$root/scripts/wine32/segv_trapno.c" \
  -o "$out/segv_trapno.o"
ld -m elf_i386 -shared -o "$out/segv_trapno.so" "$out/segv_trapno.o" /lib/i386-linux-gnu/libc.so.6
rm -f "$out/segv_trapno.o"

cp "$sys/wine64" "$out/lib/wine/wine64"
cp "$sys/wine" "$out/lib/wine/wine32.bin"
for f in wineserver wineserver64 wineserver32; do ln -s "$sys/$f" "$out/lib/wine/$f"; done
mkdir -p "$out/lib/x86_64-linux-gnu" "$out/lib/i386-linux-gnu"
ln -s /usr/lib/x86_64-linux-gnu/wine "$out/lib/x86_64-linux-gnu/wine"
ln -s /usr/lib/i386-linux-gnu/wine "$out/lib/i386-linux-gnu/wine"
ln -s /usr/share/wine "$out/share/wine"
cat >"$out/lib/wine/wine" <<SCRIPT
#!/bin/sh
# Wine's 32-bit loader under qemu's user-mode emulator (made by scripts/wine32.sh).
dir=\$(dirname "\$(readlink -f "\$0")")
case "\${1:-}" in
  --version|--help) ;;
  *) export WINELOADERNOEXEC=1 ;;
esac
exec "$qemu" -0 "\$dir/wine" -E LD_PRELOAD="$out/segv_trapno.so" "\$dir/wine32.bin" "\$@"
SCRIPT
chmod +x "$out/lib/wine/wine"
"$out/lib/wine/wine" --version >/dev/null 2>&1 || { say "the emulated 32-bit loader does not start"; exit 1; }
echo "qemu-user $version" >"$stamp"
say "32-bit Windows programs: run by Wine under qemu-i386 (qemu-user $version, loaders in $out)"
