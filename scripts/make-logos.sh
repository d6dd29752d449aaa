#!/bin/sh
# Draws the window's logo and icon into ui/images with a small Qt program of our own.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/drawlogos.cpp" -o "$tmp/drawlogos" $(pkg-config --cflags --libs Qt5Gui)
QT_QPA_PLATFORM=offscreen "$tmp/drawlogos" "$root/ui/images/Zavlo Logo.png" "$root/ui/images/Zavlo Logo 2.jpg"
echo "wrote $root/ui/images/Zavlo Logo.png and $root/ui/images/Zavlo Logo 2.jpg"
