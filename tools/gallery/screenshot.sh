#!/bin/sh
# Builds the control gallery (kxgallery) and shows it in a real window. Without
# a display it runs under Xvfb and saves a screenshot to
# build/gallery/gallery.png; with one, it waits until you close the window.
set -e
cd "$(dirname "$0")/../.."
top=$(pwd)
sh tools/setup-debian.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target kxgallery

gallery=$top/build/gallery
mkdir -p "$gallery"

# The double-byte texts are code page 949: they read as such only under a
# Korean locale with a Korean font installed, e.g.
#   GALLERY_LANG=ko_KR.UTF-8 sh tools/gallery/screenshot.sh
# The default is the machine's locale, where the Latin texts are readable.
if [ -n "$GALLERY_LANG" ]; then
  locale_name=${GALLERY_LANG%%.*}
  if [ ! -d "$gallery/locale/$GALLERY_LANG" ]; then
    mkdir -p "$gallery/locale"
    localedef -i "$locale_name" -f UTF-8 "$gallery/locale/$GALLERY_LANG" 2>/dev/null || true
  fi
  export LOCPATH=$gallery/locale LANG=$GALLERY_LANG
fi

export WINEPREFIX=$gallery/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/.kxscan-ready" ]; then
  echo "Making the gallery's Wine prefix (once)..."
  $wine wineboot -i >/dev/null 2>&1
  # No window manager under Xvfb: unmanaged windows avoid a 2 s wait per hidden window.
  $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$WINEPREFIX/.kxscan-ready"
fi

xvfb_pid=""
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
headless=""
if [ -z "$DISPLAY" ]; then
  display=:98
  Xvfb $display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  sleep 1
  headless=1
fi

$wine "$top/build/win64/kxgallery.exe" &
kxgallery=$!

window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --name '^kxscan control gallery$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.2
done
if [ -z "$window" ]; then
  echo "kxgallery.exe showed no window" >&2
  exit 1
fi
if [ -n "$headless" ]; then
  # The hover and pressed states are set 0.3 s after the window opens.
  sleep 2
  import -window root "$gallery/gallery.png"
  echo "Screenshot: $gallery/gallery.png"
else
  wait "$kxgallery" || true
fi
