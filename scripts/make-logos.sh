#!/bin/sh
# Draws the window's logo and icon into ui/images, and the desktop icon (SVG and PNG sizes) into
# packaging/icons, with a small Qt program of our own. The results are committed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/drawlogos.cpp" -o "$tmp/drawlogos" $(pkg-config --cflags --libs Qt5Gui)
mkdir -p "$root/packaging/icons"
QT_QPA_PLATFORM=offscreen "$tmp/drawlogos" "$root/ui/images/Zavlo Logo.png" "$root/ui/images/Zavlo Logo 2.jpg" \
    "$root/packaging/icons"
echo "wrote $root/ui/images/Zavlo Logo.png, $root/ui/images/Zavlo Logo 2.jpg and $root/packaging/icons"
