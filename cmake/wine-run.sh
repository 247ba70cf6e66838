#!/bin/sh
# Runs a Windows program of the build under 64-bit Wine in the build tree's own
# prefix, making the prefix on first use.  Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$prefix/.kxscan-ready" ] || "$(dirname "$0")/wine-prefix.sh" "$prefix" || exit 1
exec /usr/lib/wine/wine64 "$@"
