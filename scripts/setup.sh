#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest ccache
    mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 wixl xvfb x11-apps imagemagick xdotool
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
