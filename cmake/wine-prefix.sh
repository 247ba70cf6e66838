#!/bin/sh
# Makes the Wine prefix that a build tree's tests run in, once: booted, with
# the null display driver (no X server needed), and with the glibc locales
# that the language tests ask Wine for.  Usage: wine-prefix.sh PREFIX
set -e
prefix=$1
mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.kxscan-ready" ] && exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$(dirname "$0")/wine-fonts.sh"
/usr/lib/wine/wineserver -w
locales="$prefix/../locales"
mkdir -p "$locales"
for name in ko_KR:ko_KR.UTF-8 ja_JP:ja_JP.UTF-8 de_DE:de_DE.UTF-8; do
  src=${name%%:*}
  dst=${name#*:}
  [ -d "$locales/$dst" ] || localedef -i "$src" -f UTF-8 "$locales/$dst" >/dev/null 2>&1 || [ -d "$locales/$dst" ]
done
touch "$prefix/.kxscan-ready"
