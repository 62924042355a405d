#!/bin/sh
# Times an unattended install of large sample media under Wine against a plain
# copy of the same bytes, in the same run: cp natively, and the system's own
# CopyFileA under Wine, which shows what Wine's file calls cost by themselves.
#   bench/install/run.sh BUILD_DIR [FILLER_MIB]
set -eu
build=$(cd "$1" && pwd)
mib=${2:-300}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/bench-install
rm -rf "$work" && mkdir -p "$work"
"$here/tools/make-media.sh" "$work/media" "$mib" >/dev/null
win() { printf 'Z:%s' "$1" | tr / '\\'; }
run() { "$build/wine-run.sh" "$@"; }
run "$build/bench/install/install_bench.exe" /dev/null /dev/null /dev/null /dev/null >/dev/null 2>&1 || true
bytes=$(du -sb "$work/media/disc1" "$work/media/disc2" | awk '{s+=$1} END {print s}')
report() { # report FORM INSTALL_SECONDS COPY_SECONDS WINE_COPY_SECONDS
    awk -v f="$1" -v i="$2" -v c="$3" -v w="$4" -v b="$bytes" 'BEGIN {
        printf "%-8s install %6.2f s (%5.0f MB/s)   cp %6.2f s (%5.0f MB/s) ratio %5.2f   CopyFileA under Wine %6.2f s ratio %5.2f\n",
               f, i, b / i / 1e6, c, b / c / 1e6, i / c, w, i / w }'
}
for form in folders images; do
    if [ $form = folders ]; then cd1=$work/media/disc1; cd2=$work/media/disc2; src="$cd1 $cd2"
    else cd1=$work/media/disc1.iso; cd2=$work/media/disc2-m1.cue; src="$cd1 $work/media/disc2-m1.bin"; fi
    sync
    rm -rf "$work/dir" "$work/copy" "$work/wcopy"
    t=$(run "$build/bench/install/install_bench.exe" "$(win "$cd1")" "$(win "$cd2")" \
        "$(win "$work/media/TARNO103.EXE")" "$(win "$work/dir")" | tr -d '\r')
    start=$(date +%s.%N)
    mkdir -p "$work/copy" && cp -r $src "$work/copy/"
    end=$(date +%s.%N)
    wsrc=""
    for s in $src; do wsrc="$wsrc $(win "$s")"; done
    w=$(run "$build/bench/install/install_bench.exe" /copy "$(win "$work/wcopy")" $wsrc | tr -d '\r')
    report $form "$t" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$w"
done
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" stop
rm -rf "$work"
