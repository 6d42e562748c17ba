#!/usr/bin/env bash
# Installs what building, running and testing the viewer need on Debian 12, unless it is all
# there already. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
    g++ clang make cmake pkg-config dpkg-dev
    qtbase5-dev libgl-dev libx11-dev libopenimageio-dev
    libgl1-mesa-dri xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core
    desktop-file-utils shared-mime-info
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y "${missing[@]}"
