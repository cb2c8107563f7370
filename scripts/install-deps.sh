#!/usr/bin/env bash
# Installs the Debian packages that building and testing reririDuruv needs, where missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev
    libcli11-dev libdtl-dev
    clang libclang-rt-14-dev
    strace util-linux procps time
    dpkg-dev file appstream desktop-file-utils x11-utils python3
    xvfb xdotool imagemagick libxcb-cursor0 fonts-dejavu-core
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
