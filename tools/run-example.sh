#!/bin/sh
# Builds kxscan, installs it into build/example/install and starts it in a
# real window on a small example folder. Without a display it runs under Xvfb
# and saves a screenshot to build/example/kxscan.png; with one, it waits until
# you close the window. Does its own set-up on a fresh Debian 12 machine.
set -e
cd "$(dirname "$0")/.."
top=$(pwd)
sh tools/setup-debian.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target kxscan kxsoc kxlogcat update locale

example=$top/build/example
install=$example/install
rm -rf "$install"
cmake --install build/win64 --prefix "$install" >/dev/null

# The example folder to scan: a few ordinary files.
sample=$example/sample
mkdir -p "$sample/documents"
printf 'quarterly figures\n' >"$sample/documents/report.txt"
printf 'MZ example\n' >"$sample/setup.exe"
printf 'notes\n' >"$sample/notes.txt"
# The anti-virus test file, which every engine reports.
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$sample/documents/eicar.com"
# A marker of the example signature file kxsoc.sig.
printf 'installer stub KXDEMO:ADWARE:COUPONBAR end\n' >"$sample/couponbar.dll"

. tools/wine-desktop.sh
desktop_prefix "$example/wineprefix"
# Drive Z: is the Linux root, so the installation is reachable as Z:\...
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
$wine reg add 'HKLM\SOFTWARE\Tarnwick Systems\Korvex' /v InstallPath /d "$(winpath "$install")" /f /reg:64 >/dev/null 2>&1
# Trace every engine call into Logs\kxlog.01.
$wine reg add 'HKLM\SOFTWARE\Tarnwick Systems\Korvex' /v DbgLevel /t REG_DWORD /d 2 /f /reg:64 >/dev/null 2>&1
mkdir -p "$install/Logs"

open_display 97

title=$(iconv -f CP1252 -t UTF-8 "$install/locale/eng.lib" | sed -n 's/^TITLE=//p' | tr -d '\r' | head -n 1)
printf "Starting kxscan.exe on %s\n" "$(winpath "$sample")"
(cd "$install" && $wine kxscan.exe "$(winpath "$sample")") &
kxscan=$!

wait_for_window "$title"
echo "Window \"$title\" is open."
if [ -n "$headless" ]; then
  sleep 1
  import -window root "$example/kxscan.png"
  echo "Screenshot: $example/kxscan.png"
  echo "What reached the engine (Logs/kxlog.01):"
  grep -a -E 'ScanVirus|CheckScan' "$install/Logs/kxlog.01" | sed 's/^/  /' || true
else
  wait "$kxscan" || true
fi
