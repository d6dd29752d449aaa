#!/bin/sh
# Runs the real zavlo-gui under Xvfb and saves a picture of the screen.
# usage: scripts/screenshot.sh [build-dir] [output.png] [zavlo-gui arguments...]
# SCREENSHOT_DELAY (seconds, default 3) is how long the program runs before the picture.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
out=${2:-$build/screenshot.png}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
gui="$build/bin/zavlo-gui"
if [ ! -x "$gui" ]; then
    echo "no $gui: build the zavlo-gui target first" >&2
    exit 1
fi
case "$out" in /*) ;; *) out="$(pwd)/$out" ;; esac

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/grabscreen.cpp" -o "$tmp/grabscreen" $(pkg-config --cflags --libs Qt5Gui)

export GUI="$gui" GRAB="$tmp/grabscreen" OUT="$out" DELAY="${SCREENSHOT_DELAY:-3}"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1600x1000x24" sh -c '
    "$GUI" "$@" > "$(dirname "$GRAB")/gui.log" 2>&1 &
    pid=$!
    sleep "$DELAY"
    status=0
    "$GRAB" "$OUT" || status=$?
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit $status
' screenshot "$@"
echo "saved $out"
