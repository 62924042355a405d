#!/bin/sh
# Counts what one file costs each copy under Wine: the Wine server requests
# (+server) and the Win32 file calls (+relay) of the program's threads that
# work on files, for cd_copy_all of an ISO image, a raw Mode 1 image and a folder,
# and for the two Wine floors (bench/floor). Each figure is the difference
# between a copy of 100 files and one of 50 in the same two folders, divided
# by 50, so what a run costs once drops out.
#   bench/cdsrc/calls.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tools/wine-layout.sh"
work=$build/bench-calls
rm -rf "$work" && mkdir -p "$work"
export WINEPREFIX=$build/wineprefix WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
"$here/tools/wine-prefix.sh" ensure
win() { printf 'Z:%s' "$1" | tr / '\\'; }
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(13)
for n in (50, 100):
    root = os.path.join(work, "tree%d" % n)
    for i in range(n):
        d = os.path.join(root, "D%d" % (i % 2))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "F%03d.DAT" % i), "wb") as f:
            f.write(rng.randbytes(3000 + 100 * i))
PY
for n in 50 100; do
    xorriso -as mkisofs -quiet -o "$work/tree$n.iso" "$work/tree$n" 2>/dev/null
    # Mode 1 raw sectors around each 2048-byte sector: sync, header, data, EDC/ECC space.
    python3 -c '
import sys
data = open(sys.argv[1], "rb").read()
with open(sys.argv[2], "wb") as out:
    for i in range(0, len(data), 2048):
        out.write(b"\x00" + b"\xff" * 10 + b"\x00" + bytes([0, 2, 0, 1]) + data[i:i + 2048] + bytes(288))
' "$work/tree$n.iso" "$work/tree$n-m1.bin"
done
# trace EXE ARGS...: one run with a Wine server of its own, with both the
# server's requests and the relayed calls traced
trace() {
    rm -rf "$work/out"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    WINEDEBUG=+server,+relay wine "$@" "$(win "$work/out")" 2>"$work/trace.txt" >/dev/null || true
}
# The copying thread (the one that creates the output folder's files) and
# any thread it started that reads files too: the image copies' reading
# thread. Wine's own threads and processes stay out.
file_threads() {
    main=$(grep -a -m1 -E '^[0-9a-f]{4}:Call KERNEL32\..*bench-calls.*out' "$work/trace.txt" | cut -c1-4)
    for t in $(grep -a -oE "^$main: new_thread\(\) = 0 \{ tid=[0-9a-f]{4}" "$work/trace.txt" | sed 's/.*tid=//'); do
        ! grep -a -q -m1 -E "^$t:Call KERNEL32\.ReadFile\(" "$work/trace.txt" || main="$main|$t"
    done
    echo "$main"
}
# counts: those threads' requests and file calls, by name, from trace.txt
requests() {
    grep -a -E "^($(file_threads)): [a-z_]+\(" "$work/trace.txt" | grep -v ') = ' |
        sed -E 's/^[0-9a-f]{4}: ([a-z_]+)\(.*/\1/' | sort | uniq -c
}
calls() {
    grep -a -oE "^($(file_threads)):Call KERNEL32\.[A-Za-z]+" "$work/trace.txt" | sed 's/.*Call KERNEL32\.//' |
        grep -E '^(CreateFileA|CreateDirectoryA|GetFileAttributesA|SetFileAttributesA|ReadFile|WriteFile|CloseHandle|Find[A-Za-z]+|SetFilePointerEx|GetFileSizeEx)$' |
        sort | uniq -c
}
# per_file LABEL EXE ARGS...: ARGS hold @ where the tree's number goes
per_file() {
    label=$1
    shift
    for n in 50 100; do
        args=""
        for a in "$@"; do args="$args $(printf '%s' "$a" | sed "s/@/$n/g")"; done
        # shellcheck disable=SC2086
        trace $args
        requests | awk '{print $2, $1}' | sort > "$work/r$n.txt"
        calls | awk '{print $2, $1}' | sort > "$work/c$n.txt"
    done
    for kind in requests calls; do
        f=$(echo $kind | cut -c1)
        join -a 1 -a 2 -e 0 -o 0,1.2,2.2 "$work/${f}50.txt" "$work/${f}100.txt" | awk -v l="$label" -v k="$kind" '
            { d = ($3 - $2) / 50; if (d != 0) { s = s sprintf(" %s %.2f", $1, d); t += d } }
            END { printf "%-22s %-8s per file %5.2f:%s\n", l, k, t, s }'
    done
}
exe=$build/bench/cdsrc/cdsrc_bench.exe
floor=$build/bench/floor/floor_bench.exe
w=$(win "$work")
per_file "cd_copy_all ISO" "$exe" "$w\\tree@.iso"
per_file "cd_copy_all raw" "$exe" "$w\\tree@-m1.bin"
per_file "cd_copy_all folder" "$exe" "$w\\tree@"
per_file "floor write" "$floor" write "$w\\tree@"
per_file "floor copy" "$floor" copy "$w\\tree@"
wineserver -k 2>/dev/null || true
rm -rf "$work"
