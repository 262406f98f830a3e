#!/usr/bin/env bash
# Makes Ombrix5.exe and Ombrix3.exe for 64-bit Windows on this Debian 12
# machine and leaves them in dist/: one file each, linked statically, ready
# to copy onto a PC.
#
#   scripts/windows-build.sh           build dist/
#   scripts/windows-build.sh --check   also run the Windows tests and drive
#                                      both programs under Wine
#
# The first run builds a static Qt 6.4.2 for MinGW-w64 from Debian's own
# sources (about 16 minutes on 8 cores) into a cache that later runs reuse.
#
#   OMBRIX_WIN_CACHE        cache folder: the Qt kit and the Wine prefix
#                           (default /var/cache/ombrix-windows for root,
#                           ~/.cache/ombrix-windows for anyone else)
#   OMBRIX_WIN_BUILD        build folder (default build-windows)
#   QTSERIALPORT_TARBALL    Qt SerialPort 6.4.2 source tarball, used where
#                           `apt-get source qt6-serialport` fails; a
#                           SHA256SUMS file beside it is checked
#   OMBRIX_WIN_JOBS         parallel jobs (default: all cores)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

check=0
for arg in "$@"; do
    case "$arg" in
    --check) check=1 ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
    esac
done

default_cache=/var/cache/ombrix-windows
[ "$(id -u)" -eq 0 ] || default_cache=${XDG_CACHE_HOME:-$HOME/.cache}/ombrix-windows
cache=${OMBRIX_WIN_CACHE:-$default_cache}
build=${OMBRIX_WIN_BUILD:-build-windows}
jobs=${OMBRIX_WIN_JOBS:-$(nproc)}
qt_version=6.4.2
kit=$cache/qt-$qt_version-mingw64-static
toolchain=$top/scripts/windows-toolchain.cmake

say() { echo "windows-build: $*"; }
die() { echo "windows-build: $*" >&2; exit 1; }

./scripts/install-deps.sh --windows
mkdir -p "$cache" 2>/dev/null || die "cannot create $cache; set OMBRIX_WIN_CACHE to a folder you may write"
[ -w "$cache" ] || die "cannot write $cache; set OMBRIX_WIN_CACHE to a folder you may write"

# The smallest Qt the two programs and their tests need. Changing this list
# rebuilds the kit.
qt_options=(
    -static -static-runtime -release
    -xplatform win32-g++ -qt-host-path /usr
    -nomake examples -nomake tests -nomake benchmarks
    -no-opengl -no-dbus -no-icu
    -no-feature-network -no-feature-sql -no-feature-xml -no-feature-printsupport
    -no-feature-concurrent
    -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre
    # Debian's source leaves out the Wintab headers.
    -no-feature-tabletevent
)
kit_stamp="$qt_version ${qt_options[*]} $(sha256sum "$toolchain" | cut -c1-16)"

# Unpacks a Debian source package into $1; false where the archive refuses it.
debian_source() {
    local dir=$1 package=$2
    mkdir -p "$dir"
    (cd "$dir" && apt-get source --download-only "$package" >apt-source.log 2>&1 &&
        dpkg-source --no-check -x ./*.dsc src >>apt-source.log 2>&1)
}

build_kit() {
    if [ -f "$kit/.stamp" ] && [ "$(cat "$kit/.stamp")" = "$kit_stamp" ]; then
        return 0
    fi
    say "building the static Qt $qt_version kit for MinGW-w64 in $kit (first run only)"
    local started=$SECONDS
    local work=$cache/work
    rm -rf "$work" "$kit"
    mkdir -p "$work"
    ./scripts/install-deps.sh --deb-src

    debian_source "$work/qtbase" qt6-base || { cat "$work/qtbase/apt-source.log" >&2; die "apt-get source qt6-base failed"; }
    mkdir -p "$work/qtbase/build"
    (cd "$work/qtbase/build" &&
        "$work/qtbase/src/configure" -prefix "$kit" "${qt_options[@]}" \
            -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >configure.log 2>&1) ||
        { tail -n 60 "$work/qtbase/build/configure.log" >&2; die "configuring qtbase failed"; }
    cmake --build "$work/qtbase/build" --parallel "$jobs" >"$work/qtbase/build.log" 2>&1 ||
        { tail -n 60 "$work/qtbase/build.log" >&2; die "building qtbase failed"; }
    cmake --install "$work/qtbase/build" >/dev/null

    # The real Qt SerialPort: its Windows backend is what the PC runs.
    if debian_source "$work/serialport" qt6-serialport; then
        say "Qt SerialPort from Debian's source package"
    else
        local tarball=${QTSERIALPORT_TARBALL:-}
        [ -n "$tarball" ] || die "apt-get source qt6-serialport failed and QTSERIALPORT_TARBALL is not set"
        [ -f "$tarball" ] || die "no $tarball"
        local sums
        sums=$(dirname "$tarball")/SHA256SUMS
        if [ -f "$sums" ]; then
            (cd "$(dirname "$tarball")" && grep " $(basename "$tarball")\$" SHA256SUMS | sha256sum -c --quiet) ||
                die "$tarball does not match its SHA256SUMS"
        fi
        say "Qt SerialPort from $tarball"
        rm -rf "$work/serialport"
        mkdir -p "$work/serialport/src"
        tar -xf "$tarball" -C "$work/serialport/src" --strip-components=1
    fi
    cmake -S "$work/serialport/src" -B "$work/serialport/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DCMAKE_INSTALL_PREFIX="$kit" -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        >"$work/serialport/configure.log" 2>&1 ||
        { tail -n 60 "$work/serialport/configure.log" >&2; die "configuring Qt SerialPort failed"; }
    cmake --build "$work/serialport/build" --parallel "$jobs" >"$work/serialport/build.log" 2>&1 ||
        { tail -n 60 "$work/serialport/build.log" >&2; die "building Qt SerialPort failed"; }
    cmake --install "$work/serialport/build" >/dev/null

    echo "$kit_stamp" >"$kit/.stamp"
    rm -rf "$work"
    say "kit built in $((SECONDS - started)) s, $(du -sh "$kit" | cut -f1)"
}

# What a stock Windows 10 or 11 has in System32; anything else would have to
# ship beside the executables.
system_dlls='^(advapi32|authz|comdlg32|d2d1|d3d11|d3d12|d3d9|dwmapi|dwrite|dxgi|gdi32|imm32|kernel32|msvcrt|netapi32|ole32|oleaut32|setupapi|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|ws2_32|wtsapi32|api-ms-win-[a-z0-9-]+)\.dll$'

build_programs() {
    local testing=$1
    cmake -S . -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DOMBRIX_BUILD_TESTS="$testing" -DOMBRIX_BUILD_BENCH=OFF \
        -DCMAKE_CROSSCOMPILING_EMULATOR=wine >"$cache/configure.log" 2>&1 ||
        { tail -n 40 "$cache/configure.log" >&2; die "configuring the Windows build failed"; }
    cmake --build "$build" --parallel "$jobs"

    rm -rf dist
    mkdir -p dist
    local exe dll bad=0
    # Qt puts every executable of a Windows build at the top of the build folder.
    for exe in Ombrix5 Ombrix3; do
        x86_64-w64-mingw32-strip -o "dist/$exe.exe" "$build/$exe.exe"
        while read -r dll; do
            if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls"; then
                echo "windows-build: $exe.exe imports $dll, which Windows does not have" >&2
                bad=1
            fi
        done < <(x86_64-w64-mingw32-objdump -p "dist/$exe.exe" | sed -n 's/^\s*DLL Name: //p')
    done
    [ "$bad" -eq 0 ] || die "the executables need DLLs beside them"
    say "dist/: $(cd dist && for f in *.exe; do printf '%s %s KiB  ' "$f" $(( $(stat -c %s "$f") / 1024 )); done)"
}

build_kit
build_programs "$([ "$check" -eq 1 ] && echo ON || echo OFF)"
if [ "$check" -eq 1 ]; then
    OMBRIX_WIN_CACHE=$cache OMBRIX_WIN_BUILD=$build ./scripts/windows-check.sh
fi
say "done in $SECONDS s"
