#!/usr/bin/env bash
# Flashes a simulated board from the command line with the programs in BIN_DIR (build/bin, or
# /usr/bin once the package is installed): starts zavlo-sim in its application, makes a sample
# firmware image with zavlo-mkimage and runs `zavlo-gui -p PORT -i IMAGE`, exactly as a production
# station would. Prints the flash's console lines (progress included) and exits with its result code.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 BIN_DIR" >&2
    exit 2
fi
bin=$1
flash_timeout_s=120

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The calibration section carries the simulated board's own serial number, as a calibration image
# made for one board does; without it the board would report the section's filler bytes as one.
"$bin/zavlo-mkimage" -o "$work/sample.bin" --app-size 65536 --description "Zavlo TX sample firmware" \
    --serial SIM-00001234 > /dev/null
echo "Sample image: $work/sample.bin ($(stat -c %s "$work/sample.bin") bytes)"

# The simulated board starts in its application; the tool restarts it into the bootloader.
"$bin/zavlo-sim" --link "$work/ttyZAVLO0" --mode app --dump-dir "$work/board" > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do [ -e "$work/ttyZAVLO0" ] && break; sleep 0.05; done
if [ ! -e "$work/ttyZAVLO0" ]; then
    echo "the simulated board did not start:" >&2
    cat "$work/sim.out" >&2
    exit 1
fi
echo "Simulated board on $work/ttyZAVLO0 ($(head -1 "$work/sim.out"))"

# Without a display the tool draws the window offscreen by itself.
# A simulated board's record goes to a history of its own, not the user's.
set +e
XDG_STATE_HOME="$work/state" timeout "$flash_timeout_s" "$bin/zavlo-gui" -p "$work/ttyZAVLO0" -i "$work/sample.bin" \
    2> "$work/debug.log"
code=$?
set -e
echo "zavlo-gui exited with code $code"
if [ -s "$work/state/zavlo-gui/history.jsonl" ]; then
    echo "The flash's record (one line of history.jsonl, see docs/records.md):"
    cat "$work/state/zavlo-gui/history.jsonl"
fi
if [ "$code" -ne 0 ]; then
    echo "--- zavlo-gui debug output (last lines)" >&2
    tail -20 "$work/debug.log" >&2
    echo "--- zavlo-sim output (last lines)" >&2
    tail -20 "$work/sim.out" >&2
fi
exit $code
