#!/bin/sh
# dumps_check.sh MEDIA SCRATCH: the dumps made in the formats of other tools
# hold exactly the ISO they were made from, as independent readers see them:
# iat for the sub-channel and 2,336-byte layouts, bchunk for the data track
# that a cue sheet places after a pregap or after audio.
set -eu
media=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
status=0
same() { # same NAME MADE ISO
    if cmp -s "$2" "$media/$3"; then
        echo "ok: $1"
    else
        echo "DIFFERS: $1"
        status=1
    fi
}
for dump in mini1-sub16.img:mini1.iso mini1-sub24.mdf:mini1.iso mini1-2336.bin:mini1.iso \
    disc1-sub24.mdf:disc1.iso; do
    file=${dump%%:*}
    iat "$media/$file" "$work/$file.iso" >/dev/null 2>&1
    same "$file (iat)" "$work/$file.iso" "${dump#*:}"
done
for sheet in mini1-pregap:01 mini1-mixed:02 disc2-pregap:01; do
    name=${sheet%%:*}
    track=${sheet#*:}
    bchunk "$media/$name.bin" "$media/$name.cue" "$work/$name" >/dev/null
    iso=mini1.iso
    [ "$name" = disc2-pregap ] && iso=disc2.iso
    same "$name.cue track $track (bchunk)" "$work/$name$track.iso" "$iso"
done
# bchunk reads one file only: the data track's file with its own lines.
sed -n '/Track 2/,$p' "$media/mini1-redump.cue" >"$work/track2.cue"
bchunk "$media/mini1 (Track 2).bin" "$work/track2.cue" "$work/redump" >/dev/null
same "mini1 (Track 2).bin (bchunk)" "$work/redump02.iso" mini1.iso
rm -rf "$work"
exit $status
