#!/bin/sh
# The hand-made image with a file in three extents, read by two independent
# readers: xorriso and 7-Zip must both give the joined file that the image
# reader is tested against.
#   multiextent_peers.sh FIXTURES WORK
set -eu
fix=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
7z x -o"$work/7z" "$fix/multiextent.iso" >/dev/null
timeout 60 xorriso -osirrox on -indev "$fix/multiextent.iso" -extract / "$work/xorriso" >/dev/null 2>&1
for reader in 7z xorriso; do
    for f in SPLIT.DAT PLAIN.TXT; do
        cmp "$fix/$f" "$work/$reader/$f"
    done
done
echo "7-Zip and xorriso read SPLIT.DAT as $(wc -c <"$fix/SPLIT.DAT") bytes, joined in record order"
