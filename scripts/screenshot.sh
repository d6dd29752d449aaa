#!/bin/sh
# Runs the real zavlo-gui under Xvfb and saves a picture of the screen.
# usage: scripts/screenshot.sh [build-dir] [output.png] [zavlo-gui arguments...]
#        scripts/screenshot.sh --terminal [build-dir] [output.png]
# SCREENSHOT_DELAY (seconds, default 3) is how long the program runs before the picture.
# --terminal: the window connected to zavlo-sim printing its ordinary text, on the Terminal tab
# with time stamps and a line typed into the send line (zavlo-bench-terminal --screenshot drives
# the window, since the program lists no pseudo-terminal among its ports).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mode=gui
if [ "${1:-}" = "--terminal" ]; then
    mode=terminal
    shift
fi
build=${1:-$root/build}
out=${2:-$build/screenshot.png}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
case "$out" in /*) ;; *) out="$(pwd)/$out" ;; esac
screen="-screen 0 1600x1000x24"
unset QT_QPA_PLATFORM

if [ "$mode" = terminal ]; then
    bench="$build/bin/zavlo-bench-terminal"
    if [ ! -x "$bench" ]; then
        echo "no $bench: build the zavlo-bench-terminal target first" >&2
        exit 1
    fi
    xvfb-run -a -s "$screen" "$bench" --platform xcb --screenshot "$out"
    echo "saved $out"
    exit 0
fi

gui="$build/bin/zavlo-gui"
if [ ! -x "$gui" ]; then
    echo "no $gui: build the zavlo-gui target first" >&2
    exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/grabscreen.cpp" -o "$tmp/grabscreen" $(pkg-config --cflags --libs Qt5Gui)

export GUI="$gui" GRAB="$tmp/grabscreen" OUT="$out" DELAY="${SCREENSHOT_DELAY:-3}"
xvfb-run -a -s "$screen" sh -c '
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
