#!/usr/bin/env bash
# Installs the Debian package built by scripts/package.sh with apt, checks the installed programs
# (the version, and a command-line flash of the installed simulator by the installed tool, which
# needs no display), and removes the package again, also when a check fails. Needs root.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 zavlo-gui_VERSION_ARCH.deb" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
package=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

# Removing the package at the end must not take away an installation someone relies on; on CI an
# installation can only be left over from an interrupted check.
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    if [ "${CI:-}" != "true" ]; then
        echo "$package is installed already; remove it before running this check" >&2
        exit 1
    fi
    echo "removing $package left over from an earlier check"
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get remove -y "$package"
fi
remove() {
    echo "check failed: removing $package" >&2
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get remove -y "$package" > /dev/null || true
}
trap remove EXIT

DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "$deb"
echo "--- installed files"
dpkg -L "$package" | xargs -r ls -ld | awk '$1 !~ /^d/ {print $1, $NF}'

echo "--- zavlo-gui --version"
shown=$(/usr/bin/zavlo-gui --version)
echo "$shown"
if [ "$shown" != "Zavlo GUI $version" ]; then
    echo "expected \"Zavlo GUI $version\"" >&2
    exit 1
fi

echo "--- command-line flash with the installed programs"
"$root/scripts/flash-sim.sh" /usr/bin

echo "--- removal"
trap - EXIT
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get remove -y "$package"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || [ -e /usr/bin/zavlo-gui ]; then
    echo "$package is still installed after apt-get remove" >&2
    exit 1
fi
echo "install check passed: $package $version installed, ran, flashed and removed"
