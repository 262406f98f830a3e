#!/usr/bin/env bash
# Installs, from Debian 12's packages, whatever this machine lacks for
# building the two programs and running their tests. Says nothing and needs
# no privilege when everything is there; otherwise it needs root or a user
# who may use sudo, and tells anyone else at once what to run instead.
#
#   --ci       also the fuzzing and sanitizer tools CI uses: clang, its
#              runtime (libFuzzer, sanitizers) and llvm's symbolizer
#   --windows  also what scripts/windows-build.sh needs: the MinGW-w64
#              cross compiler, the tools that unpack Qt's sources, and Wine
#              with a private X display for the proof
#   --deb-src  also deb-src entries for the archives this machine uses, so
#              that `apt-get source` can fetch Qt's sources
set -euo pipefail
# `su` without `-` keeps the user's PATH, which lacks what dpkg runs.
PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin

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
    # The install test checks the desktop entries with desktop-file-validate.
    desktop-file-utils
)
deb_src=0
for arg in "$@"; do
    case "$arg" in
    --ci)
        # Without llvm-symbolizer a sanitizer report has addresses only.
        packages+=(clang libclang-rt-14-dev llvm)
        ;;
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
    --deb-src) deb_src=1 ;;
    *)
        echo "usage: $0 [--ci] [--windows] [--deb-src]" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Ours, in the form of the file the archives are taken from: deb822 in
# containers, the one-line form in a system the installer made.
ours=/etc/apt/sources.list.d/ombrix-deb-src
if [ "$deb_src" -eq 1 ] && { [ -f "$ours.sources" ] || [ -f "$ours.list" ]; }; then deb_src=0; fi
[ ${#missing[@]} -eq 0 ] && [ "$deb_src" -eq 0 ] && exit 0

# Decide before touching anything. Debian's sudoers lets the group sudo in
# (as the group file has it, even before the next login); a password-less
# rule shows itself to `sudo -n`.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    why=
    if ! command -v sudo >/dev/null 2>&1; then
        why="sudo is not installed"
    elif ! sudo -n true 2>/dev/null && ! id -nG "$(id -un)" | tr ' ' '\n' | grep -qx sudo; then
        why="$(id -un) is not in the group sudo"
    fi
    if [ -n "$why" ]; then
        what="installing ${missing[*]}"
        [ ${#missing[@]} -gt 0 ] || what="adding deb-src entries to apt"
        # Quoted once for root's shell and once for the user's.
        again="$(printf %q "$(realpath "$0")")${*:+ $*}"
        again=${again//\'/\'\\\'\'}
        echo "install-deps: $what needs root, and $why; run as root: su - -c '$again'" >&2
        exit 1
    fi
    as_root=(sudo)
fi

if [ "$deb_src" -eq 1 ]; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            "${as_root[@]}" tee "$ours.sources" >/dev/null
    elif grep -q '^deb ' /etc/apt/sources.list 2>/dev/null; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${as_root[@]}" tee "$ours.list" >/dev/null
    else
        echo "install-deps: no Debian archive in /etc/apt to take deb-src entries from" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
[ ${#missing[@]} -eq 0 ] || "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
