#!/usr/bin/env bash
# Regenerates the committed .ico and .png files in this folder from the SVG sources.
# Developer tool only: the build uses the committed outputs.
#
# Debian packages needed: librsvg2-bin (rsvg-convert), imagemagick (convert),
# icoutils (icotool).
#
# Every icon stores its 32 px image as 8-bit palette + mask for old shells that
# still ask for 256-colour icons; the 256 px image is stored as PNG to keep the
# file small; everything else is 32-bit with alpha.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

# Call ImageMagick by full path: a different "convert" may come first in PATH.
if command -v magick >/dev/null 2>&1; then
    im=(magick)
elif [[ -x /usr/bin/convert ]]; then
    im=(/usr/bin/convert)
else
    echo "ImageMagick not found (apt-get install imagemagick)" >&2
    exit 1
fi
for tool in rsvg-convert icotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool not found (apt-get install librsvg2-bin icoutils)" >&2
        exit 1
    fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

render() { # svg size out.png
    rsvg-convert --width "$2" --height "$2" --format png "$1" --output "$3"
}

# name, then the sizes it needs; 256 (if present) goes in as PNG.
make_ico() {
    local name="$1"; shift
    local args=() size png
    for size in "$@"; do
        png="$work/$name-$size.png"
        render "$name.svg" "$size" "$png"
        case "$size" in
        32)
            # Hard alpha edge (the mask is 1-bit) and at most 255 colours so
            # icotool can build the palette; no dithering on flat artwork.
            "${im[@]}" "$png" -channel A -threshold 50% +channel \
                +dither -colors 255 -define png:exclude-chunks=date,time \
                "$work/$name-32-pal.png"
            args+=(--bit-depth=8 "$work/$name-32-pal.png")
            ;;
        256)
            args+=(--raw="$png")
            ;;
        *)
            args+=(--bit-depth=32 "$png")
            ;;
        esac
    done
    icotool --create --icon --output="$name.ico" "${args[@]}"
    echo "wrote $name.ico"
}

for name in program version test; do
    make_ico "$name" 16 24 32 48 64 72 96 128 256
done
for name in read clear write; do
    make_ico "$name" 16 24 32 48 64 72 96
done

# Desktop entry / hicolor theme
render program.svg 256 program-256.png
render program.svg 48 program-48.png
echo "wrote program-256.png program-48.png"
