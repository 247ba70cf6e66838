#!/bin/sh
# Builds kxscan, installs it into build/example/install and shows the whole
# product on an example folder: a scan in Korean and one in English in the
# real window, screenshots during and after each, the findings of the English
# scan cured with a real click, and the virus and event logs printed through
# kxlogcat. Without a display it runs under Xvfb; the screenshots are saved in
# build/example/. Does its own set-up on a fresh Debian 12 machine.
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
mkdir -p "$install/Logs"

# The example folder: ordinary files, the anti-virus test file, one file for
# each kind of the example signatures in kxsoc.sig (two of them cannot be
# cured), and enough small files for the scan to be watched.
make_sample() {
  sample=$example/sample
  rm -rf "$sample"
  mkdir -p "$sample/documents" "$sample/downloads"
  printf 'quarterly figures\n' >"$sample/documents/report.txt"
  printf 'MZ example\n' >"$sample/setup.exe"
  printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$sample/documents/eicar.com"
  for marker in ADWARE:COUPONBAR SPYWARE:KEYNOTES JOKE:FLIPSCREEN DIALER:NIGHTCALL HACKTOOL:PORTPROBE \
                VIRUS:TAIL VIRUS:ARCHIVED; do
    name=$(echo "${marker#*:}" | tr 'A-Z' 'a-z')
    printf 'installer stub KXDEMO:%s end of data\n' "$marker" >"$sample/downloads/$name.bin"
  done
  python3 - "$sample/archive" <<'EOF'
import os, sys
for folder in range(40):
    path = os.path.join(sys.argv[1], "box%02d" % folder)
    os.makedirs(path, exist_ok=True)
    for i in range(100):
        with open(os.path.join(path, "note%03d.txt" % i), "w") as out:
            out.write("an ordinary note %d\n" % i * (1 + i % 7))
EOF
}

. tools/wine-desktop.sh
desktop_prefix "$example/wineprefix"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
$wine reg add 'HKLM\SOFTWARE\Tarnwick Systems\Korvex' /v InstallPath /d "$(winpath "$install")" /f /reg:64 >/dev/null 2>&1
# Trace every engine call into Logs\kxlog.01.
$wine reg add 'HKLM\SOFTWARE\Tarnwick Systems\Korvex' /v DbgLevel /t REG_DWORD /d 2 /f /reg:64 >/dev/null 2>&1
locales=$example/locales
[ -d "$locales/ko_KR.UTF-8" ] || { mkdir -p "$locales"; localedef -i ko_KR -f UTF-8 "$locales/ko_KR.UTF-8"; }
open_display 97

# scan LANGUAGE NAME: scans the example folder in a window of that language,
# leaves screenshots NAME-scanning.png and NAME-results.png, and keeps the
# window's X id in $window, its origin in $X and $Y, and the process in $kxscan.
scan() {
  make_sample
  : >"$install/Logs/kxlog.01"
  rm -f "$install/Logs/events.log"
  (cd "$install" && LOCPATH="$locales" LANG="$1" LC_ALL="$1" $wine kxscan.exe "$(winpath "$sample")") &
  kxscan=$!
  xdotool mousemove 0 0
  wait_for_class kxscan
  eval "$(xdotool getwindowgeometry --shell "$window")"
  sleep 0.5
  import -window "$window" "$example/$2-scanning.png"
  echo "Scanning: $example/$2-scanning.png"
  # The end of the scan writes the event log.
  for _ in $(seq 1 300); do [ -s "$install/Logs/events.log" ] && break; sleep 0.1; done
  sleep 0.5
  import -window "$window" "$example/$2-results.png"
  echo "Scanned: $example/$2-results.png"
}

click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }

# answer KEY: answers the message box the window opens with a real key press.
answer() {
  for _ in $(seq 1 100); do
    box=$(xdotool search --onlyvisible --class kxscan | grep -v "^$window\$" | head -n 1)
    [ -n "$box" ] && break
    sleep 0.1
  done
  xdotool windowfocus "$box"; sleep 0.3; xdotool key "$1"
}

scan ko_KR.UTF-8 kxscan-ko
# Close it without curing: the question that findings are left is answered Yes.
click 561 11
answer y
wait "$kxscan"
rm -f "$install/Logs/virus.log"

scan en_US.UTF-8 kxscan-en
echo "Curing the checked findings with a click on Cure"
click 490 281
for _ in $(seq 1 100); do
  [ "$(grep -ac 'VirusCure' "$install/Logs/kxlog.01")" -ge 8 ] && break
  sleep 0.1
done
sleep 0.5
xdotool mousemove 0 0
sleep 0.3
import -window "$window" "$example/kxscan-en-cured.png"
echo "Cured: $example/kxscan-en-cured.png"
if [ -n "$headless" ]; then
  click 561 11  # every finding handled: the window closes at once
else
  echo "Close the window to go on."
fi
wait "$kxscan"

logcat() { $wine "$install/kxlogcat.exe" "$(winpath "$install/Logs/$1")"; }
echo
echo "Virus log (time|detection|path|action: 1 cured, 2 deleted, 3 failed|source):"
logcat virus.log | sed 's/^/  /'
echo "Event log:"
logcat events.log | sed 's/^/  /'
