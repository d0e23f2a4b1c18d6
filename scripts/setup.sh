#!/usr/bin/env bash
# Installs, from Debian's packages, what the project needs to build, run and
# test. Packages already present are not touched, so a second run is quick.
# Run as root (or with sudo) on Debian 12.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config git python3
    libgtest-dev libgmock-dev libcli11-dev libudev-dev libssl-dev
    qt6-base-dev fonts-nanum xvfb xauth
    clang libclang-rt-14-dev clang-format nlohmann-json3-dev unixodbc-dev
)
if [ "$#" -gt 0 ]; then
    packages+=("$@")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
