#!/bin/sh
# Builds the benchmark, makes a 50 MB -lh5- archive of mixed data with jlha
# (once), and prints our decoder's speed against lhasa's and 7-Zip's, all
# measured in the same rounds.
#   bench/lha/run.sh BUILD_DIR [SAMPLE_UPDATE]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
update=${2:-}
cmake -S "$here" -B "$out/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out/build" -j2 >/dev/null
big="$out/MIXED.LZH"
if [ ! -f "$big" ]; then
    # Text, machine code, already-compressed data and runs, about 50 MB.
    mix="$out/mixed"
    rm -rf "$mix" && mkdir -p "$mix"
    { find /usr/share/doc /usr/share/common-licenses -type f -name 'copyright' -o -name 'GPL*' 2>/dev/null | sort | xargs cat
      find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f | sort | head -60 | xargs cat
      find /usr/share/man -name '*.gz' | sort | head -800 | xargs cat
      head -c 4000000 /dev/zero
    } 2>/dev/null | head -c 50000000 > "$mix/MIXED.BIN"
    (cd "$mix" && jlha a2o5 "$big" MIXED.BIN >/dev/null)
    lhasa t "$big" >/dev/null
fi
tiny="$out/TINY.LZH"
if [ ! -f "$tiny" ]; then
    mkdir -p "$out/tiny" && printf 'x' > "$out/tiny/TINY.TXT"
    (cd "$out/tiny" && jlha a2o5 "$tiny" TINY.TXT >/dev/null)
fi
"$out/build/lha_bench" --7z "$tiny" $update "$big"
