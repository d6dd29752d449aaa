#!/bin/sh
# Runs the real zavlo-gui under Xvfb and saves a picture of the screen.
# usage: scripts/screenshot.sh [build-dir] [output.png] [zavlo-gui arguments...]
#        scripts/screenshot.sh --fod [build-dir] [output.png]
# SCREENSHOT_DELAY (seconds, default 3) is how long the program runs before the picture.
# --fod: the FOD tab after an XMC calibration against a simulated board (zavlo-bench-fodplot
# --window captures with the gain buttons, calculates and writes); the picture is taken once the
# plot is up.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mode=gui
if [ "${1:-}" = "--fod" ]; then
    mode=fod
    shift
fi
build=${1:-$root/build}
out=${2:-$build/screenshot.png}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
if [ "$mode" = fod ]; then
    gui="$build/bin/zavlo-bench-fodplot"
else
    gui="$build/bin/zavlo-gui"
fi
if [ ! -x "$gui" ]; then
    echo "no $gui: build the $(basename "$gui") target first" >&2
    exit 1
fi
case "$out" in /*) ;; *) out="$(pwd)/$out" ;; esac

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/grabscreen.cpp" -o "$tmp/grabscreen" $(pkg-config --cflags --libs Qt5Gui)
if [ "$mode" = fod ]; then
    set -- --window --ready-file "$tmp/ready" --hold 120
fi

export GUI="$gui" GRAB="$tmp/grabscreen" OUT="$out" DELAY="${SCREENSHOT_DELAY:-3}" MODE="$mode"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1600x1000x24" sh -c '
    "$GUI" "$@" > "$(dirname "$GRAB")/gui.log" 2>&1 &
    pid=$!
    if [ "$MODE" = fod ]; then
        # The capture, the fit and the write take some seconds; the program says when it is done.
        waited=0
        while [ ! -e "$(dirname "$GRAB")/ready" ]; do
            if ! kill -0 "$pid" 2>/dev/null || [ $waited -ge 120 ]; then
                echo "the FOD window never became ready:" >&2
                grep -v "^QDEBUG\|^Debug" "$(dirname "$GRAB")/gui.log" | tail -5 >&2
                kill "$pid" 2>/dev/null || true
                exit 1
            fi
            sleep 1
            waited=$((waited + 1))
        done
    else
        sleep "$DELAY"
    fi
    status=0
    "$GRAB" "$OUT" || status=$?
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit $status
' screenshot "$@"
echo "saved $out"
