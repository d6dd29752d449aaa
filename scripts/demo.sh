#!/usr/bin/env bash
# The main job on a simulated board: installs what is missing, builds, starts the board
# simulator, makes a sample firmware image and flashes it with the command-line flash, exactly
# as a production station would run `zavlo-gui -p PORT -i IMAGE`. Prints the flash's console
# lines (progress included) and exits with the flash result code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
"$root/scripts/build.sh" > "${TMPDIR:-/tmp}/zavlo-demo-build.log" || { tail -50 "${TMPDIR:-/tmp}/zavlo-demo-build.log"; exit 1; }
bin=$build/bin

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/zavlo-mkimage" -o "$work/sample.bin" --app-size 65536 --description "Zavlo TX sample firmware" > /dev/null
echo "Sample image: $work/sample.bin ($(stat -c %s "$work/sample.bin") bytes)"

# The simulated board starts in its application; the tool restarts it into the bootloader.
"$bin/zavlo-sim" --link "$work/ttyZAVLO0" --mode app --dump-dir "$work/board" > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do [ -e "$work/ttyZAVLO0" ] && break; sleep 0.05; done
echo "Simulated board on $work/ttyZAVLO0 ($(head -1 "$work/sim.out"))"

# Without a display the window is drawn offscreen.
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
set +e
"$bin/zavlo-gui" -p "$work/ttyZAVLO0" -i "$work/sample.bin" 2> "$work/debug.log"
code=$?
set -e
echo "zavlo-gui exited with code $code"
exit $code
