#!/bin/sh
# Times cd_copy_all under Wine on a large sample disc against peers in the
# same run: xorriso's extraction of the same ISO, cp of the image file and
# cp -r of the disc's folder. Five rounds; the best of each counts. The
# copies go to a RAM folder where there is one (/dev/shm), so that the disk
# and its write-back do not hide what the programs themselves cost.
#   bench/cdsrc/run.sh BUILD_DIR [FILLER_MIB]
set -eu
build=$(cd "$1" && pwd)
mib=${2:-400}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/bench-cdsrc
media=$work/media
rm -rf "$work" && mkdir -p "$media"
out=$work/out
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    out=/dev/shm/tarnok-bench-cdsrc.$$
fi
python3 "$here/tools/media/trees.py" "$media" "$mib"
python3 "$here/tools/media/images.py" "$media" "$mib"
win() { printf 'Z:%s' "$1" | tr / '\\'; }
bench_exe=$build/bench/cdsrc/cdsrc_bench.exe
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" start >/dev/null 2>&1 || true
now() { date +%s.%N; }
# min OLD NEW: the smaller of two times, OLD may be empty
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
# ours SOURCE: seconds of cd_copy_all as the program measures it
ours() {
    rm -rf "$out"
    "$build/wine-run.sh" "$bench_exe" "$(win "$1")" "$(win "$out")" | tr -d '\r' | cut -d' ' -f1
}
# peer COMMAND...: seconds of a Unix command writing into $out
peer() {
    rm -rf "$out"
    s=$(now)
    "$@" >/dev/null 2>&1
    e=$(now)
    awk -v a="$s" -v b="$e" 'BEGIN { print b - a }'
}

bytes=$(du -sb --apparent-size "$media/disc1" | cut -f1)
iso=$media/disc1.iso
sync
# Rounds of every measurement in turn, so that the load of a shared machine
# falls on all of them alike; the best of each counts.
t_iso= t_m1= t_folder= t_xorriso= t_cp_iso= t_cp_bin= t_cpr=
for round in 1 2 3 4 5; do
    t_iso=$(min "$t_iso" "$(ours "$iso")")
    t_xorriso=$(min "$t_xorriso" "$(peer xorriso -osirrox on -indev "$iso" -extract / "$out")")
    t_m1=$(min "$t_m1" "$(ours "$media/disc1-m1.cue")")
    t_folder=$(min "$t_folder" "$(ours "$media/disc1")")
    t_cpr=$(min "$t_cpr" "$(peer cp -r "$media/disc1" "$out")")
    t_cp_iso=$(min "$t_cp_iso" "$(peer sh -c "mkdir -p '$out' && cp '$iso' '$out/'")")
    t_cp_bin=$(min "$t_cp_bin" "$(peer sh -c "mkdir -p '$out' && cp '$media/disc1-m1.bin' '$out/'")")
done
rm -rf "$out"

line() { # line WHAT SECONDS [VERSUS VERSUS_SECONDS]
    awk -v w="$1" -v t="$2" -v b="$bytes" -v vs="${3:-}" -v tv="${4:-0}" 'BEGIN {
        printf "%-34s %7.3f s %7.0f MB/s", w, t, b / t / 1e6
        if (vs != "") printf "   %.2fx %s", t / tv, vs
        printf "\n" }'
}
echo "disc 1: $bytes bytes of files ($mib MiB filler), warm cache"
line "cd_copy_all ISO (Wine)" "$t_iso" "xorriso" "$t_xorriso"
line "xorriso -extract ISO" "$t_xorriso"
line "cp ISO file" "$t_cp_iso"
line "cd_copy_all raw Mode 1 (Wine)" "$t_m1" "xorriso on the ISO" "$t_xorriso"
line "cp raw Mode 1 file" "$t_cp_bin"
line "cd_copy_all folder (Wine)" "$t_folder" "cp -r" "$t_cpr"
line "cp -r folder" "$t_cpr"
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" stop >/dev/null 2>&1 || true
rm -rf "$work"
