#!/usr/bin/env bash
# Installs, from Debian 12's packages, whatever the build and the tests need
# and this machine lacks. Runs apt-get only when something is missing.
#
#   --windows  also what scripts/windows-build.sh needs: the MinGW-w64
#              cross compiler, the tools that fetch and build Qt's sources,
#              and Wine with a private X display for the proof.
set -euo pipefail

packages=(
    cmake ninja-build g++
    qt6-base-dev qt6-serialport-dev
    # libxcb for the taskbar hint Qt leaves out on X11; Xvfb and Xlib for the
    # test that runs both programs on an X server of its own.
    libxcb1-dev xvfb libx11-dev
    # The Ming face that draws the windows' Traditional Chinese texts.
    fonts-arphic-uming
    # Its Latin letters and digits are all half a character wide; the
    # Times-metric serif draws them proportionally, as the design's face does.
    fonts-liberation2
    # clang and its runtime (libFuzzer, sanitizers) for the fuzz run in CI.
    clang libclang-rt-14-dev
)
for arg in "$@"; do
    case "$arg" in
    --windows)
        packages+=(
            g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
            # apt-get source unpacks with dpkg-source; the tarball is xz.
            dpkg-dev xz-utils
            # Running the Windows builds: Wine on a private X server (Xvfb
            # and Xlib come with the list above), driven through XTest.
            wine wine64 fonts-wine libxtst-dev
        )
        ;;
    *)
        echo "usage: $0 [--windows]" >&2
        exit 2
        ;;
    esac
done

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
