#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the project.
set -euo pipefail
packages=(build-essential cmake ninja-build qtbase5-dev libqt5serialport5-dev libqt5svg5-dev libqwt-qt5-dev xvfb xauth
    clang libclang-rt-14-dev desktop-file-utils appstream file)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
fi
