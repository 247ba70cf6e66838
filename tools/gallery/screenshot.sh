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

. tools/wine-desktop.sh
desktop_prefix "$gallery/wineprefix"
open_display 98

$wine "$top/build/win64/kxgallery.exe" &
kxgallery=$!

wait_for_window 'kxscan control gallery'
if [ -n "$headless" ]; then
  # The hover and pressed states are set 0.3 s after the window opens.
  sleep 2
  import -window root "$gallery/gallery.png"
  echo "Screenshot: $gallery/gallery.png"
else
  wait "$kxgallery" || true
fi
