#!/usr/bin/env bash
# Builds the Debian package zavlo-gui_<version>_<arch>.deb with CPack and prints its path last.
# Builds what it packages first: into build-package/ (tests and benchmarks left out), or into the
# existing build folder named by BUILD_DIR, reused as configured. The desktop entry and the
# AppStream metadata are validated as installed before they are packed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$root/build-package}")
"$root/scripts/deps.sh"

options=()
if [ -z "${BUILD_DIR:-}" ] && [ ! -f "$build/CMakeCache.txt" ]; then
    options=(-DZAVLO_BUILD_TESTS=OFF -DZAVLO_BUILD_BENCH=OFF)
fi
BUILD_DIR=$build "$root/scripts/build.sh" "${options[@]}" "$@"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr > /dev/null
desktop=$(echo "$stage"/usr/share/applications/*.desktop)
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml
# The tree check also finds the desktop entry the metadata launches; the icon is checked here.
appstreamcli validate-tree --no-net "$stage" > "$stage/tree.log" || { cat "$stage/tree.log" >&2; exit 1; }
icon=$(sed -n 's/^Icon=//p' "$desktop")
if [ ! -f "$stage/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]; then
    echo "$desktop names the icon $icon, which is not installed" >&2
    exit 1
fi

(cd "$build" && cpack -G DEB -B "$build") | tee "$stage/cpack.log"
sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$stage/cpack.log"
