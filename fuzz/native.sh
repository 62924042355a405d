#!/bin/sh
# Host-side hardening of the code that parses outside bytes (not run through
# Wine): the LHA reader, the ISO 9660 and cue sheet parsing, the raw sector
# checks, the table of disc editions, the icon image maker, the install's
# file list and the log a report is made from, built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer as libFuzzer targets.
#   native.sh build  SOURCE BUILD        configure and build fuzz/ with clang
#   native.sh replay SOURCE BUILD        run every file of every corpus once
#   native.sh fuzz   SOURCE BUILD NAME   fuzz one target for 30 seconds
set -eu
step=$1 src=$2 out=$3
targets="lh5 walk isoparse cueimage iconimg filelist sector editions details"
case "$step" in
build)
    CXX=clang++ cmake -S "$src/fuzz" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$out" -j2 $(for t in $targets; do printf ' --target fuzz_%s' "$t"; done)
    ;;
replay)
    for t in $targets; do
        "$out/fuzz_$t" -runs=0 "$src/fuzz/corpus/$t"
    done
    ;;
fuzz)
    t=$4
    work="$out/work-$t"
    rm -rf "$work" && mkdir -p "$work"
    # A cue sheet's image needs 17 sectors before any layout can be found.
    len=16384
    [ "$t" = cueimage ] && len=65536
    # New finds go to a scratch corpus; the committed one is only read.
    "$out/fuzz_$t" -max_total_time=30 -max_len=$len -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work" "$src/fuzz/corpus/$t"
    ;;
esac
