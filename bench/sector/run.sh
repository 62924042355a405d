#!/bin/sh
# Builds the benchmark and prints how fast the raw sector checks go, against
# zlib's CRC-32 and memcpy over the same bytes, on the sample image with
# EDCs and on the one without (BUILD_DIR/media, made by the tests' build).
#   bench/sector/run.sh BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
out=$build/bench-sector
cmake -S "$here" -B "$out" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j2 >/dev/null
"$out/sector_bench" "$build/media/disc1-edc.bin" "$build/media/disc1-m1.bin"
