# Shared by the scripts that show a program in a real window (sourced, not run):
# a Wine prefix of their own, a display (Xvfb when there is none) and the wait
# for a window. Every process started here is stopped when the script exits.

wine=/usr/lib/wine/wine64

# desktop_prefix DIR: uses (and makes once) the Wine prefix DIR.
desktop_prefix() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/.kxscan-ready" ]; then
    echo "Making a Wine prefix in $WINEPREFIX (once)..."
    $wine wineboot -i >/dev/null 2>&1
    # No window manager under Xvfb: unmanaged windows avoid a 2 s wait per hidden window.
    $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    sh cmake/wine-fonts.sh
    /usr/lib/wine/wineserver -w
    touch "$WINEPREFIX/.kxscan-ready"
  fi
}

# open_display NUMBER: without DISPLAY, starts Xvfb on :NUMBER and sets headless=1.
xvfb_pid=""
headless=""
desktop_cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
open_display() {
  trap desktop_cleanup EXIT
  if [ -z "$DISPLAY" ]; then
    Xvfb ":$1" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$1"
    sleep 1
    headless=1
  fi
}

# wait_for_class CLASS: sets window to the X id of the first visible window of
# that class (a program's windows have its name), waiting up to 20 s.
wait_for_class() {
  window=""
  for _ in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --class "$1" 2>/dev/null | head -n 1) && [ -n "$window" ] && return 0
    sleep 0.2
  done
  echo "no window of \"$1\" appeared" >&2
  return 1
}

# wait_for_window TITLE: sets window to the X id of the window named TITLE,
# waiting up to 20 s; fails when none appears.
wait_for_window() {
  window=""
  for _ in $(seq 1 100); do
    window=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && return 0
    sleep 0.2
  done
  echo "no window \"$1\" appeared" >&2
  return 1
}
