#!/bin/sh
# Times an unattended install of large sample media under Wine against plain
# copies of the same bytes, in the same run (and the same install as the
# window runs it, its status line made four times a second from what the
# install tells, against the plain one): cp natively; the system's own
# CopyFileA under Wine, which shows what Wine's file calls cost by themselves;
# and the Wine floor of the install's two disc copies (bench/floor: each file
# created, written in large blocks and closed, by a program that does nothing
# else; for folder sources each source file also opened and read; for image
# sources once more with the bytes read from the images), summed. Rounds of
# every measurement in turn, so that the load of a shared machine falls on
# all of them alike; the best of each counts. Output goes to a RAM folder
# where there is one (/dev/shm), so that write-back does not hide the cost.
#   bench/install/run.sh BUILD_DIR [FILLER_MIB] [ROUNDS]
set -eu
build=$(cd "$1" && pwd)
mib=${2:-300}
rounds=${3:-5}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/bench-install
rm -rf "$work" && mkdir -p "$work"
out=$work/out
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    out=/dev/shm/tarnok-bench-install.$$
fi
"$here/tools/make-media.sh" "$work/media" "$mib" >/dev/null
win() { printf 'Z:%s' "$1" | tr / '\\'; }
run() { "$build/wine-run.sh" "$@"; }
bench_exe=$build/bench/install/install_bench.exe
floor_exe=$build/bench/floor/floor_bench.exe
run "$bench_exe" /dev/null /dev/null /dev/null /dev/null >/dev/null 2>&1 || true
bytes=$(du -sb "$work/media/disc1" "$work/media/disc2" | awk '{s+=$1} END {print s}')
now() { date +%s.%N; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
# floor_sum write|copy [IMAGE1 IMAGE2]: wall and CPU seconds of the floors
# of both discs' copies, for images with the bytes read from the images
floor_sum() {
    rm -rf "$out" && mkdir -p "$out"
    a=$(run "$floor_exe" "$1" "$(win "$work/media/disc1")" "$(win "$out/cd1")" ${2:+"$(win "$2")"} | tr -d '\r')
    b=$(run "$floor_exe" "$1" "$(win "$work/media/disc2")" "$(win "$out/cd2")" ${3:+"$(win "$3")"} | tr -d '\r')
    echo "$a $b" | awk '{ print $1 + $4, $3 + $6 }'
}
# keep NAME "WALL [CPU]": the best wall time in t_NAME and CPU time in c_NAME
keep() {
    set -- "$1" $2
    eval "t_$1=\$(min \"\${t_$1:-}\" $2)"
    [ -z "${3:-}" ] || eval "c_$1=\$(min \"\${c_$1:-}\" $3)"
}
report() { # report FORM (from the t_ and c_ of i, s, f, g, c, w)
    awk -v f="$1" -v i="$t_i" -v c="$t_c" -v w="$t_w" -v fl="$t_f" -v g="${t_g:-}" -v ci="$c_i" -v cf="$c_f" \
        -v cg="${c_g:-}" -v cw="$c_w" -v b="$bytes" -v s="$t_s" -v cs="$c_s" 'BEGIN {
        printf "%-8s install %6.2f s (%5.0f MB/s)   floor %6.2f s ratio %5.2f", f, i, b / i / 1e6, fl, i / fl
        if (g != "") printf "   floor reading the images %6.2f s ratio %5.2f", g, i / g
        printf "   CopyFileA under Wine %6.2f s ratio %5.2f   cp %6.2f s ratio %5.2f\n", w, i / w, c, i / c
        printf "%-8s CPU: install %6.2f s   floor %6.2f s ratio %5.2f", f, ci, cf, ci / cf
        if (cg != "") printf "   floor reading the images %6.2f s ratio %5.2f", cg, ci / cg
        printf "   CopyFileA %6.2f s ratio %5.2f\n", cw, ci / cw
        printf "%-8s as the window runs it: %6.2f s ratio %5.3f   CPU %6.2f s ratio %5.3f\n", f, s, s / i, cs, cs / ci }'
}
for form in folders images; do
    if [ $form = folders ]; then cd1=$work/media/disc1; cd2=$work/media/disc2; src="$cd1 $cd2"; kind=copy
    else cd1=$work/media/disc1.iso; cd2=$work/media/disc2-m1.cue; src="$cd1 $work/media/disc2-m1.bin"; kind=write; fi
    images=$([ $form = images ] && echo "$src" || true)
    wsrc=""
    for s in $src; do wsrc="$wsrc $(win "$s")"; done
    sync
    t_i= t_s= t_c= t_w= t_f= t_g= c_i= c_s= c_w= c_f= c_g=
    for round in $(seq "$rounds"); do
        rm -rf "$out"
        keep i "$(run "$bench_exe" "$(win "$cd1")" "$(win "$cd2")" \
            "$(win "$work/media/TARNO103.EXE")" "$(win "$out")" | tr -d '\r')"
        rm -rf "$out"
        keep s "$(run "$bench_exe" /window "$(win "$cd1")" "$(win "$cd2")" \
            "$(win "$work/media/TARNO103.EXE")" "$(win "$out")" | tr -d '\r')"
        keep f "$(floor_sum $kind)"
        [ -z "$images" ] || keep g "$(floor_sum $kind $images)"
        rm -rf "$out"
        start=$(now)
        mkdir -p "$out" && cp -r $src "$out/"
        end=$(now)
        keep c "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
        rm -rf "$out"
        keep w "$(run "$bench_exe" /copy "$(win "$out")" $wsrc | tr -d '\r')"
    done
    report $form
done
rm -rf "$out"
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" stop
rm -rf "$work"
