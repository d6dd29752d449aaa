#!/bin/sh
# Runs the real zavlo-gui under Xvfb and saves a picture of the screen.
# usage: scripts/screenshot.sh [build-dir] [output.png] [zavlo-gui arguments...]
#        scripts/screenshot.sh --fod [build-dir] [output.png]
#        scripts/screenshot.sh --terminal [build-dir] [output.png]
#        scripts/screenshot.sh --sim [build-dir] [output.png]
# SCREENSHOT_DELAY (seconds, default 3) is how long the program runs before the picture.
# --fod: the FOD tab after an XMC calibration against a simulated board (zavlo-bench-fodplot
# --window captures with the gain buttons, calculates and writes); the picture is taken once the
# plot is up.
# --terminal: the window connected to zavlo-sim printing its ordinary text, on the Terminal tab
# with time stamps and a line typed into the send line (zavlo-bench-terminal --screenshot drives
# the window and takes the picture itself).
# --sim: the window connected to zavlo-sim through a path given as the port (zavlo-gui -p PATH), as
# anyone can try it without a board.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mode=gui
case "${1:-}" in
--fod | --terminal | --sim)
    mode=${1#--}
    shift
    ;;
esac
build=${1:-$root/build}
out=${2:-$build/screenshot.png}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
case "$mode" in
fod) gui="$build/bin/zavlo-bench-fodplot" ;;
terminal) gui="$build/bin/zavlo-bench-terminal" ;;
*) gui="$build/bin/zavlo-gui" ;;
esac
if [ ! -x "$gui" ]; then
    echo "no $gui: build the $(basename "$gui") target first" >&2
    exit 1
fi
case "$out" in /*) ;; *) out="$(pwd)/$out" ;; esac
screen="-screen 0 1600x1000x24"
unset QT_QPA_PLATFORM

if [ "$mode" = terminal ]; then
    xvfb-run -a -s "$screen" "$gui" --platform xcb --screenshot "$out"
    echo "saved $out"
    exit 0
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/grabscreen.cpp" -o "$tmp/grabscreen" $(pkg-config --cflags --libs Qt5Gui)
if [ "$mode" = fod ]; then
    set -- --window --ready-file "$tmp/ready" --hold 120
fi
if [ "$mode" = sim ]; then
    "$build/bin/zavlo-sim" --link "$tmp/ttyZAVLO0" --mode app > "$tmp/sim.log" 2>&1 &
    sim=$!
    trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$tmp"' EXIT
    waited=0
    while [ ! -e "$tmp/ttyZAVLO0" ] && [ $waited -lt 50 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    set -- -p "$tmp/ttyZAVLO0"
fi

export GUI="$gui" GRAB="$tmp/grabscreen" OUT="$out" DELAY="${SCREENSHOT_DELAY:-3}" MODE="$mode"
xvfb-run -a -s "$screen" sh -c '
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
    if [ "$MODE" != fod ]; then
        "$GRAB" "$OUT" --window || status=$?
    else
        "$GRAB" "$OUT" || status=$?
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit $status
' screenshot "$@"
echo "saved $out"
