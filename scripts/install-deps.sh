#!/usr/bin/env bash
# Installs, from Debian 12's packages, whatever the build and the tests need
# and this machine lacks. Runs apt-get only when something is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++
    qt6-base-dev qt6-serialport-dev
    # The Ming face that draws the windows' Traditional Chinese texts.
    fonts-arphic-uming
    # clang and its runtime (libFuzzer, sanitizers) for the fuzz run in CI.
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
