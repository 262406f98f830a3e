#!/usr/bin/env bash
# Proves the Windows build under Wine on a private X display: the Windows
# test programs, then both executables in dist/ driven as a technician
# would, with COM2 and COM8 of the Wine prefix on pseudo-terminals that play
# the setter. scripts/windows-build.sh --check runs it after a build with
# tests; it needs what that script installs.
#
#   OMBRIX_WIN_CACHE   as for windows-build.sh; the Wine prefix lives there
#   OMBRIX_WIN_BUILD   the Windows build folder (default build-windows)
#   OMBRIX_SMOKE_RECORD=1  write the reference crops instead of checking
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

default_cache=/var/cache/ombrix-windows
[ "$(id -u)" -eq 0 ] || default_cache=${XDG_CACHE_HOME:-$HOME/.cache}/ombrix-windows
cache=${OMBRIX_WIN_CACHE:-$default_cache}
build=${OMBRIX_WIN_BUILD:-build-windows}
host=$build/host
shots=$build/wine-shots

say() { echo "windows-check: $*"; }
die() { echo "windows-check: $*" >&2; exit 1; }

[ -f dist/Ombrix5.exe ] && [ -f dist/Ombrix3.exe ] || die "no dist/*.exe; run scripts/windows-build.sh first"
[ -f "$build/CTestTestfile.cmake" ] || die "$build has no tests; run scripts/windows-build.sh --check"

export WINEPREFIX=$cache/wine WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here uses them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes its Windows locale from these.
export LC_ALL=C.UTF-8 LANG=C.UTF-8

# A display of our own, whatever else runs on this machine.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp -noreset 2>/dev/null)
xvfb_pid=$!
read -r -t 30 display <&3 || die "Xvfb did not start"
export DISPLAY=:$display
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The prefix, once per version of these settings. The design's face stands
# for Debian's Times-metric serif with the Ming face linked behind it, as on
# Linux: proportional Latin letters and digits like the real face's, Chinese
# from the Ming face. The Ming face is also linked behind Wine's own dialog
# and title-bar faces, which have no Chinese. Windows unmanaged: there is no
# window manager on this display, so Wine draws the frames and activates
# windows itself, as Windows does.
ready=$WINEPREFIX/.ombrix-ready-2
if [ ! -f "$ready" ]; then
    say "making the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    replacements='HKCU\Software\Wine\Fonts\Replacements'
    wine reg add "$replacements" /v 新細明體 /d "Liberation Serif" /f >/dev/null
    wine reg add "$replacements" /v PMingLiU /d "Liberation Serif" /f >/dev/null
    links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    for face in "Liberation Serif" Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
        wine reg add "$links" /v "$face" /t REG_MULTI_SZ /d "uming.ttc,AR PL UMing TW" /f >/dev/null
    done
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    wineserver -w
    touch "$ready"
fi

say "Windows test programs under Wine"
ctest --test-dir "$build" --output-on-failure --no-tests=error

say "both programs under Wine, the setter on pseudo-terminals"
cmake -S . -B "$host" -G Ninja -DOMBRIX_BUILD_BENCH=OFF -DOMBRIX_WINE_SMOKE=ON >/dev/null
cmake --build "$host" --target tst_winesmoke >/dev/null
mkdir -p "$shots"
OMBRIX_DIST=$top/dist OMBRIX_SMOKE_EXPECTED=$top/tests/wine/expected OMBRIX_SMOKE_SHOTS=$top/$shots \
    "$host/tests/wine/tst_winesmoke"

cat <<EOF
windows-check: covered under Wine: the Windows test programs; both executables
  starting, the port probe, the port choice, every command frame leaving on the
  chosen port, the overlapped read path of Qt SerialPort with its completion-port
  notifier and readyRead, the 110 ms gap, a version and a parameter reply shown,
  the write frame. Screenshots: $shots/.
windows-check: left to a real Windows PC: the WaitCommEvent trigger that starts
  reads there, and real USB serial adapters.
EOF
