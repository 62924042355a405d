#!/bin/sh
# Makes the sample media into OUT: the disc trees, the LHA archives, the icon,
# then the disc images made from the finished trees.
#   make-media.sh OUT FILLER_MIB
set -eu
out=$1
mib=${2:-4}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out"
mkdir -p "$out"
for step in trees lha icon images; do
    for s in "$here/media/$step.py" "$here/media/$step.sh"; do
        [ -f "$s" ] || continue
        case "$s" in
        *.py) python3 "$s" "$out" "$mib" ;;
        *.sh) sh "$s" "$out" "$mib" ;;
        esac
    done
done
touch "$out/.stamp"
