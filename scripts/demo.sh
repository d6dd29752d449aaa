#!/usr/bin/env bash
# The main job on a simulated board: installs what is missing, builds, and flashes a sample
# firmware image into the board simulator with the command-line flash (scripts/flash-sim.sh),
# exactly as a production station would run `zavlo-gui -p PORT -i IMAGE`. Prints the flash's
# console lines (progress included) and exits with the flash result code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
"$root/scripts/build.sh" > "${TMPDIR:-/tmp}/zavlo-demo-build.log" || { tail -50 "${TMPDIR:-/tmp}/zavlo-demo-build.log"; exit 1; }
exec "$root/scripts/flash-sim.sh" "$build/bin"
