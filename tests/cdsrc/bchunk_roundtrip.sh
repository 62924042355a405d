#!/bin/sh
# bchunk_roundtrip.sh MEDIA SCRATCH: every raw image of the sample discs,
# converted back by bchunk, must be byte for byte the ISO it was made from.
set -eu
media=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
status=0
for disc in disc1 disc2; do
    for mode in m1 m2; do
        bchunk "$media/$disc-$mode.bin" "$media/$disc-$mode.cue" "$work/$disc-$mode" >/dev/null
        if cmp "$work/$disc-${mode}01.iso" "$media/$disc.iso"; then
            echo "ok: $disc-$mode"
        else
            echo "DIFFERS: $disc-$mode"
            status=1
        fi
    done
done
rm -rf "$work"
exit $status
