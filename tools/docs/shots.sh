#!/bin/sh
# Makes the pictures of the players' guide, docs/images/*.png, from the
# screenshots that the window tests keep in <build>/test-output/gui/.
#
#   tools/docs/shots.sh [BUILD-FOLDER]          (default: build)
#   tools/docs/shots.sh --check [BUILD-FOLDER]  only the check below, with
#                                               every screenshot there
#
# Run the window and drive tests first (ctest --test-dir build -R
# 'gui_test|drive'); the tests run at 96 DPI, and this script refuses a
# screenshot whose window is not drawn at 96 DPI.
#
# Each picture must be a player's screen: the cases that take these
# screenshots stage setup as a player has it (discs in drives D: and E:,
# the downloads in C:\Games\Downloads, the game into C:\Games\Tarnok PC).
# Beside each screenshot the test leaves the texts the display showed as it
# was taken (SHOT.txt: fields, labels, the status line, the list's lines, a
# box's text, read from the windows), and the names of the running test and
# of every test of its program. This script fails, and makes no picture,
# when any of those texts holds a path below the build folder or the
# source folder (as Wine shows it, Z:\..., or as the Unix path) or the name
# of a test: the whole Suite.Case, or the case's name alone when it is of
# two words or more.
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
check_only=0
if [ "${1:-}" = "--check" ]; then
    check_only=1
    shift
fi
build=$(cd "${1:-$top/build}" && pwd)
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

# What no text of a picture may hold, one a line: the build and source
# folders as Unix paths and as Wine shows them (Z:\...), their own paths and
# their real ones.
forbidden_places() {
    for place in "$build" "$(cd "$build" && pwd -P)" "$top" "$(cd "$top" && pwd -P)"; do
        printf '%s\n' "$place"
        printf 'Z:%s\n' "$place" | tr / '\\'
    done | sort -u
}

# The names of the tests that SHOT.txt lists: Suite.Case, and Case alone
# when it has two capitals or more ("StallIsShown", not "Start").
test_names() {
    awk '/^# (test|names) / {
        for (i = 3; i <= NF; i++) {
            print $i
            c = $i
            sub(/^[^.]*[.]/, "", c)
            if (c ~ /^[A-Z][^A-Z]*[A-Z]/)
                print c
        }
    }' "$1" | sort -u
}

# 0 when the texts of SCREENSHOT (its .txt) show nothing of the build or a
# test; else says what, and 1.
check_texts() {
    texts="${1%.png}.txt"
    if [ ! -f "$texts" ]; then
        echo "$texts: missing: the texts of the screenshot were not kept (run the tests again)" >&2
        return 1
    fi
    patterns=$(mktemp)
    { printf '%s\n' "$places"; test_names "$texts"; } >"$patterns"
    found=$(grep -v '^# ' "$texts" | grep -n -i -F -f "$patterns" || true)
    rm -f "$patterns"
    if [ -n "$found" ]; then
        echo "$1: shows a path of the build or a test's name, which no player has:" >&2
        printf '%s\n' "$found" | sed 's/^/    /' >&2
        return 1
    fi
    return 0
}

places=$(forbidden_places)
failed=0
present=0
missing=""
for pair in $pictures; do
    shot="$shots/${pair#*=}.png"
    if [ ! -f "$shot" ]; then
        missing="$missing ${pair#*=}.png"
        continue
    fi
    present=$((present + 1))
    check_texts "$shot" || failed=1
done
if [ "$check_only" = 1 ]; then
    if [ "$present" = 0 ]; then
        echo "no screenshots in $shots: run the window and drive tests first" >&2
        exit 77
    fi
    if [ -n "$missing" ]; then
        echo "no screenshot for a picture:$missing" >&2
        failed=1
    fi
    [ "$failed" = 0 ] && echo "$present pictures: the texts of each are a player's"
    exit "$failed"
fi
if [ "$failed" != 0 ]; then
    echo "no picture made: stage the cases above as a player has it" >&2
    exit 1
fi

mkdir -p "$out"
made=0
for pair in $pictures; do
    picture=${pair%%=*}
    shot="$shots/${pair#*=}.png"
    [ -f "$shot" ] || continue
    cut "$shot" "$out/$picture.png"
    echo "$out/$picture.png from $shot"
    made=$((made + 1))
done
[ -z "$missing" ] || echo "no screenshot yet (its picture stays as it is):$missing"
[ "$made" -gt 0 ] || { echo "no screenshots in $shots: run the window and drive tests first" >&2; exit 1; }
