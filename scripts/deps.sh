#!/usr/bin/env bash
# Installs the Debian 12 packages Mistvale needs to build, test and run, when they are missing.
# Idempotent and quiet when everything is there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config git
    libgtest-dev libgmock-dev
    libmodbus-dev libpugixml-dev libudev-dev libmosquitto-dev mosquitto mosquitto-clients python3
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libcurl4-openssl-dev libzip-dev libssl-dev openssl libdw-dev
    socat procps fonts-dejavu-core
    dpkg-dev desktop-file-utils appstream lintian file
    clang-tidy
    xvfb x11-utils
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
