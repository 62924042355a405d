#!/bin/sh
# Times cd_copy_all under Wine on a large sample disc against peers in the
# same run: the Wine floor (bench/floor: the same tree's files created,
# written in large blocks and closed, by a program that does nothing else;
# for the image copies also with the bytes read from the image, for the
# folder copy with each source file opened and read), xorriso's extraction of
# the same ISO, cp of the image file and cp -r of the disc's folder. Under
# Wine every file costs a few server requests however it is copied, so the
# floor is the peer that tells what our code adds. Five rounds (ROUNDS=n in
# the environment: n); the best of each counts, and for the ISO copy also
# the ratio of each round's pair. The copies go to a RAM folder where there
# is one (/dev/shm), so that the disk and its write-back do not hide what
# the programs themselves cost.
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
floor_exe=$build/bench/floor/floor_bench.exe
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" start >/dev/null 2>&1 || true
now() { date +%s.%N; }
# min OLD NEW: the smaller of two times, OLD may be empty
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
# ours SOURCE: wall and CPU seconds of cd_copy_all as the program measures them
ours() {
    rm -rf "$out"
    "$build/wine-run.sh" "$bench_exe" "$(win "$1")" "$(win "$out")" | tr -d '\r' | cut -d' ' -f1,3
}
# floor write|copy TREE [IMAGE]: wall and CPU seconds of the Wine floor for TREE
floor() {
    rm -rf "$out"
    "$build/wine-run.sh" "$floor_exe" "$1" "$(win "$2")" "$(win "$out")" ${3:+"$(win "$3")"} |
        tr -d '\r' | cut -d' ' -f1,3
}
# keep NAME "WALL CPU": the best wall time in t_NAME and CPU time in c_NAME
keep() {
    set -- "$1" $2
    eval "t_$1=\$(min \"\${t_$1:-}\" $2)"
    eval "c_$1=\$(min \"\${c_$1:-}\" $3)"
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
t_xorriso= t_cp_iso= t_cp_bin= t_cpr=
# The ISO copy and the floor reading the ISO also run back to back in each
# round: the ratio of each such pair, whose two runs met much the same load.
iso_pairs=
rounds=${ROUNDS:-5}
for round in $(seq 1 "$rounds"); do
    r_iso=$(ours "$iso")
    r_floor_iso=$(floor write "$media/disc1" "$iso")
    keep iso "$r_iso"
    keep floor_iso "$r_floor_iso"
    iso_pairs="$iso_pairs $(echo "$r_iso $r_floor_iso" | awk '{ printf "%.3f", $1 / $3 }')"
    keep floor_w "$(floor write "$media/disc1")"
    t_xorriso=$(min "$t_xorriso" "$(peer xorriso -osirrox on -indev "$iso" -extract / "$out")")
    keep m1 "$(ours "$media/disc1-m1.cue")"
    keep edc "$(ours "$media/disc1-edc.cue")"
    keep floor_m1 "$(floor write "$media/disc1" "$media/disc1-m1.bin")"
    keep folder "$(ours "$media/disc1")"
    keep floor_c "$(floor copy "$media/disc1")"
    t_cpr=$(min "$t_cpr" "$(peer cp -r "$media/disc1" "$out")")
    t_cp_iso=$(min "$t_cp_iso" "$(peer sh -c "mkdir -p '$out' && cp '$iso' '$out/'")")
    t_cp_bin=$(min "$t_cp_bin" "$(peer sh -c "mkdir -p '$out' && cp '$media/disc1-m1.bin' '$out/'")")
done
rm -rf "$out"

line() { # line WHAT SECONDS [VERSUS VERSUS_SECONDS]...
    awk -v w="$1" -v t="$2" -v b="$bytes" -v rest="$(shift 2; [ $# -eq 0 ] || printf '%s|' "$@")" 'BEGIN {
        printf "%-34s %7.3f s %7.0f MB/s", w, t, b / t / 1e6
        n = split(rest, v, "|")
        for (i = 1; i + 1 <= n; i += 2) printf "   %.2fx %s", t / v[i + 1], v[i]
        printf "\n" }'
}
files=$(find "$media/disc1" -type f | wc -l)
folders=$(find "$media/disc1" -type d | wc -l)
echo "disc 1: $bytes bytes in $files files and $folders folders ($mib MiB filler), warm cache"
line "cd_copy_all ISO (Wine)" "$t_iso" "floor" "$t_floor_w" "floor reading the ISO" "$t_floor_iso" \
    "xorriso" "$t_xorriso"
line "cd_copy_all raw Mode 1 (Wine)" "$t_m1" "floor" "$t_floor_w" "floor reading the raw image" "$t_floor_m1" \
    "xorriso on the ISO" "$t_xorriso"
line "cd_copy_all raw, EDCs checked (Wine)" "$t_edc" "floor" "$t_floor_w" "floor reading the raw image" "$t_floor_m1" \
    "the same image unchecked" "$t_m1"
echo "$iso_pairs" | tr ' ' '\n' | grep . | sort -n | awk '{ r[NR] = $1 } END {
    printf "%-34s min %.2fx, median %.2fx of %d pairs run back to back\n", "  ISO against the floor reading it", r[1], r[int((NR + 1) / 2)], NR }'
line "Wine floor: create, write, close" "$t_floor_w"
line "  the same, reading the ISO" "$t_floor_iso"
line "  the same, reading the raw image" "$t_floor_m1"
line "xorriso -extract ISO" "$t_xorriso"
line "cp ISO file" "$t_cp_iso"
line "cp raw Mode 1 file" "$t_cp_bin"
line "cd_copy_all folder (Wine)" "$t_folder" "floor" "$t_floor_c" "cp -r" "$t_cpr"
line "Wine floor: also open and read" "$t_floor_c"
line "cp -r folder" "$t_cpr"
# The processes' own CPU time (user and kernel) leaves out the time spent
# waiting for the Wine server and for a turn on a busy machine.
cpu() { # cpu WHAT CPU_SECONDS FLOOR_CPU_SECONDS [IMAGE_FLOOR_CPU_SECONDS]
    awk -v w="$1" -v c="$2" -v f="$3" -v fi="${4:-}" 'BEGIN {
        printf "%-34s %7.3f s CPU   %.2fx floor", w, c, c / f
        if (fi != "") printf "   %.2fx floor reading the image", c / fi
        printf "\n" }'
}
cpu "cd_copy_all ISO (Wine)" "$c_iso" "$c_floor_w" "$c_floor_iso"
cpu "cd_copy_all raw Mode 1 (Wine)" "$c_m1" "$c_floor_w" "$c_floor_m1"
cpu "cd_copy_all raw, EDCs checked (Wine)" "$c_edc" "$c_floor_w" "$c_floor_m1"
cpu "cd_copy_all folder (Wine)" "$c_folder" "$c_floor_c"
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" stop >/dev/null 2>&1 || true
rm -rf "$work"
