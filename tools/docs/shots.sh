#!/bin/sh
# Makes the pictures of the players' guide, docs/images/*.png, from the
# screenshots that the window tests keep in <build>/test-output/gui/.
#
#   tools/docs/shots.sh [BUILD-FOLDER]      (default: build)
#
# Run the window tests first (ctest --test-dir build -R gui_test); the
# tests run at 96 DPI, and this script refuses a screenshot whose window is
# not drawn at 96 DPI.
#
# How a picture is cut: a screenshot is the whole X display, black where
# nothing is drawn. Under Xvfb without a window manager, Wine draws the
# window's frame and title bar itself, with stand-in glyphs for the title
# bar's buttons, unlike any desktop a player has. So the picture is
# everything drawn on the display (the window and any message box over it),
# without that title bar: from the first row under the title bar to the
# bottom of what is drawn. The window's own frame stays on its other three
# sides. The title bar is found as the run of rows of the title bar's colour
# in the window's first inside column; its width tells the DPI (630 pixels
# at 96 DPI, the window's inside width).
#
# The pictures are stored with 64 colours and 96 DPI in the PNG, which keeps
# them small and their text sharp.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${1:-$top/build}
shots="$build/test-output/gui"
out="$top/docs/images"

# picture name (without .png) = screenshot name (without .png). The disc
# copy, the wait for the drive, the disc questions and the read-error box
# come from the drive tests (ctest --test-dir build -R drive).
pictures="
gui-detected=detected
gui-filled-in=filled-in
gui-installing=drive-copying
gui-waiting=drive-waiting
gui-stop-question=stop-question
gui-installed=installed
gui-failed=failed
gui-disc-question=drive-insert-disc2
gui-wrong-disc=drive-question-wrong-disc
gui-read-error=drive-read-error
"

# The colour of pixel x,y of a PNG, as #RRGGBB.
pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt: | awk 'NR == 2 { print $3 }'
}

cut() { # cut SCREENSHOT PICTURE
    # Everything drawn: the display without its black border.
    box=$(convert "$1" -bordercolor black -border 1 -trim -format '%w %h %X %Y' info:)
    set -- "$1" "$2" $box
    w=$3 h=$4 x=$(($5 - 1)) y=$(($6 - 1))
    # The window's first inside column is 3 pixels in; its title bar starts
    # 3 rows down.
    cx=$((x + 3))
    ty=$((y + 3))
    bar=$(pixel "$1" "$cx" "$ty")
    rows=$(convert "$1" -crop "1x60+$cx+$ty" +repage -depth 8 txt: |
        awk -v c="$bar" 'NR > 1 { if ($3 != c) exit; n++ } END { print n + 0 }')
    width=$(convert "$1" -crop "${w}x1+$cx+$ty" +repage -depth 8 txt: |
        awk -v c="$bar" 'NR > 1 { if ($3 != c) exit; n++ } END { print n + 0 }')
    if [ "$rows" -lt 10 ] || [ "$rows" -gt 40 ]; then
        echo "$1: no title bar found at the top left of the window (rows of $bar: $rows)" >&2
        return 1
    fi
    if [ "$width" -ne 630 ]; then
        echo "$1: the window is $width pixels wide inside, not 630: not taken at 96 DPI" >&2
        return 1
    fi
    from=$((ty + rows))
    convert "$1" -crop "${w}x$((y + h - from))+$x+$from" +repage +dither -colors 64 \
        -units PixelsPerInch -density 96 -define png:exclude-chunk=date,time,tEXt,zTXt,iTXt "PNG8:$2"
}

mkdir -p "$out"
made=0
missing=""
for pair in $pictures; do
    picture=${pair%%=*}
    shot="$shots/${pair#*=}.png"
    if [ ! -f "$shot" ]; then
        missing="$missing ${pair#*=}.png"
        continue
    fi
    cut "$shot" "$out/$picture.png"
    echo "$out/$picture.png from $shot"
    made=$((made + 1))
done
[ -z "$missing" ] || echo "no screenshot yet (its picture stays as it is):$missing"
[ "$made" -gt 0 ] || { echo "no screenshots in $shots: run the window tests first" >&2; exit 1; }
