#!/bin/sh
# Fonts for windows in Latin, Korean and Japanese script, for the prefix in
# WINEPREFIX. Wine's dialog font is Tahoma, which Debian's Wine does not find,
# and a missing Tahoma would be replaced by the first font it links to for
# other scripts. So Tahoma is DejaVu Sans, and the faces Wine links to, or that
# Korean and Japanese windows ask for, are the Debian fonts holding those
# scripts (fonts-nanum, fonts-ipafont-gothic).
for pair in "Tahoma:DejaVu Sans" "MS UI Gothic:IPAPGothic" "MS PGothic:IPAPGothic" "MS Gothic:IPAGothic" \
            "Gulim:NanumGothic" "Dotum:NanumGothic" "Malgun Gothic:NanumGothic"; do
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${pair%%:*}" /d "${pair#*:}" /f \
    >/dev/null 2>&1
done
