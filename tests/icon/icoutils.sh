#!/bin/sh
# Reads the icon resources of a Windows executable back with icoutils, apart
# from the resource code under test, for icon_test:
#   icoutils.sh EXE OUT
# writes OUT/resources (wrestool's list), OUT/group.bin (the raw icon group),
# OUT/N.rgba for each image side N (icotool's decoding, 4 bytes a pixel, top
# row first), then OUT/done; on any failure OUT/failed with the reason.
exe=$1
out=$2
mkdir -p "$out"
run() {
    {
        wrestool -l "$exe" >"$out/resources" &&
            wrestool -x --raw --type=14 --name=1 "$exe" >"$out/group.bin" &&
            wrestool -x --type=14 --name=1 "$exe" >"$out/group.ico" &&
            for n in 16 24 32 48 64 128 256; do
                icotool -x -w "$n" -h "$n" -b 32 -o "$out/$n.png" "$out/group.ico" &&
                    /usr/bin/convert "$out/$n.png" -depth 8 "rgba:$out/$n.rgba" || exit 1
            done
    } 2>"$out/stderr"
}
if (run); then
    touch "$out/done"
else
    cp "$out/stderr" "$out/failed"
    [ -s "$out/failed" ] || echo "icoutils failed" >"$out/failed"
fi
