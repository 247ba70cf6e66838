#!/bin/sh
# Runs the Desktop.* tests of kxscan_tests.exe, each in a process of its own,
# with kxscan.exe in real X windows: Xvfb, a Wine prefix with the X11 driver
# (a copy of the test prefix) and a persistent wineserver, all stopped at the end.
# Usage: desktop-tests.sh BUILD_DIR
build=$(cd "$1" && pwd)
prefix=$build/desktop-prefix
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" KXSCAN_LOCPATH="$build/locales"
wine=/usr/lib/wine/wine64
if [ ! -f "$prefix/.kxscan-desktop" ]; then
  "$(dirname "$0")/wine-prefix.sh" "$build/wineprefix" || exit 1
  rm -rf "$prefix" && cp -a "$build/wineprefix" "$prefix"
  $wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
  # Without a window manager, unmanaged windows spare a wait per hidden window.
  $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$prefix/.kxscan-desktop"
fi
display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
nohup /usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null &
$wine wineboot >/dev/null 2>&1 </dev/null
# The tests leave their screenshots in desktop/ of the build tree.
cd "$build" && mkdir -p desktop
status=0
tests=$($wine "$build/kxscan_tests.exe" --gtest_list_tests --gtest_filter='Desktop*' | tr -d '\r' |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
for test in $tests; do
  timeout 120 $wine "$build/kxscan_tests.exe" --gtest_filter="$test" || status=1
done
/usr/lib/wine/wineserver -k 2>/dev/null
kill "$xvfb" 2>/dev/null
exit $status
