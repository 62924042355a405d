#!/bin/sh
# The game icon on CD 1, disc1/TARNOK/TARNOK.ICO: a 32x32 16-colour icon
# whose opaque part (24 wide, 18 high, at column 3, row 7) leaves a
# transparent margin. ImageMagick draws it, icotool packs it with its
# transparency mask, and ImageMagick's decoding of the packed icon is kept
# as TARNOK-ICO.rgba (32x32, 4 bytes a pixel, top row first) for the tests.
#   icon.sh OUT FILLER_MIB
set -eu
out=$1
dir=$out/disc1/TARNOK
mkdir -p "$dir"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

/usr/bin/convert -size 32x32 xc:none \
    -fill '#1838a0' -draw 'rectangle 3,7 26,24' \
    -fill '#e0c020' -draw 'rectangle 5,9 24,22' \
    -fill '#c02818' -draw 'circle 14,15 14,20' \
    -fill '#f0f0f0' -draw 'point 13,14' -draw 'point 15,16' \
    -fill '#20a040' -draw 'line 5,22 24,9' \
    +antialias -colors 16 "PNG8:$tmp/icon.png"
# -b 4: a 16-colour bitmap, the alpha channel becoming the mask.
icotool -c -b 4 -o "$dir/TARNOK.ICO" "$tmp/icon.png"

# The packed icon must decode as what was drawn.
/usr/bin/convert "$tmp/icon.png" -depth 8 "rgba:$tmp/drawn.rgba"
/usr/bin/convert "ico:$dir/TARNOK.ICO" -depth 8 "rgba:$out/TARNOK-ICO.rgba"
cmp "$tmp/drawn.rgba" "$out/TARNOK-ICO.rgba"
icotool -l "$dir/TARNOK.ICO" | grep -q -- '--width=32 --height=32 --bit-depth=4 --palette-size=16'
