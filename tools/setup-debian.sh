#!/bin/sh
# Installs what building and running kxscan needs on Debian 12, when missing:
# the MinGW-w64 cross compilers, CMake and Ninja, GoogleTest sources, 64-bit
# Wine, Xvfb with the X tools for screenshots, and clang with its libFuzzer and
# sanitizer runtimes for the fuzz targets, and the Korean and Japanese fonts
# of the windows in those languages. Uses sudo when not root.
set -e
packages="cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 \
xvfb xdotool x11-utils imagemagick locales libc-bin clang libclang-rt-14-dev fonts-nanum fonts-ipafont-gothic"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
