#!/bin/sh
# Times an install again over a whole install, the repair and the resume,
# against the fresh install of the same media in the same run: the install
# again reads the files the first one listed (a fast local read) and copies
# nothing. Beside them the Wine floor of that read: every file of the
# install opened, read and closed by a program that does nothing else
# (bench/floor). Sources on a local disk, output in a RAM folder where there
# is one (/dev/shm), where reading a file costs about what copying it does;
# on a disk, and from a drive, the fresh install costs far more. Rounds of
# all three in turn; the best of each counts.
#   bench/install/again.sh BUILD_DIR [FILLER_MIB] [ROUNDS]
set -eu
build=$(cd "$1" && pwd)
mib=${2:-300}
rounds=${3:-5}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/bench-again
rm -rf "$work" && mkdir -p "$work"
out=$work/out
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    out=/dev/shm/tarnok-bench-again.$$
fi
"$here/tools/make-media.sh" "$work/media" "$mib" >/dev/null
win() { printf 'Z:%s' "$1" | tr / '\\'; }
install() { "$build/wine-run.sh" "$build/bench/install/install_bench.exe" "$(win "$work/media/disc1.iso")" \
    "$(win "$work/media/disc2")" "$(win "$work/media/TARNO103.EXE")" "$(win "$out")" | tr -d '\r'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
bytes=$(du -sb "$work/media/disc1" "$work/media/disc2" | awk '{s+=$1} END {print s}')
install >/dev/null 2>&1 || true
fresh= again= cpu_fresh= cpu_again= floor= cpu_floor=
for round in $(seq "$rounds"); do
    rm -rf "$out"
    sync
    set -- $(install)
    fresh=$(min "$fresh" "$1") cpu_fresh=$(min "$cpu_fresh" "$2")
    set -- $(install)
    again=$(min "$again" "$1") cpu_again=$(min "$cpu_again" "$2")
    set -- $("$build/wine-run.sh" "$build/bench/floor/floor_bench.exe" read "$(win "$out")" | tr -d '\r')
    floor=$(min "$floor" "$1") cpu_floor=$(min "$cpu_floor" "$3")
done
rm -rf "$out"
awk -v f="$fresh" -v a="$again" -v r="$floor" -v cf="$cpu_fresh" -v ca="$cpu_again" -v cr="$cpu_floor" \
    -v b="$bytes" 'BEGIN {
    printf "fresh install          %6.2f s (%5.0f MB/s)   CPU %6.2f s\n", f, b / f / 1e6, cf
    printf "install again          %6.2f s                CPU %6.2f s\n", a, ca
    printf "Wine floor: read all   %6.2f s                CPU %6.2f s\n", r, cr
    printf "install again / fresh install: %.2f (wall), %.2f (CPU)\n", a / f, ca / cf
    printf "install again / reading every file: %.2f (wall), %.2f (CPU)\n", a / r, ca / cr }'
WINEPREFIX=$build/wineprefix "$here/tools/wine-prefix.sh" stop >/dev/null 2>&1 || true
rm -rf "$work"
