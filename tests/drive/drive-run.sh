#!/bin/sh
# One scenario of the drive tests:
#   drive-run.sh GUI_RUN DISCFS CDDRIVE STATE_DIR TEST_EXE FILTER
# (GUI_RUN runs a Windows program in the window tests' prefix) mounts the
# test file system on STATE_DIR/mnt (its control file is
# STATE_DIR/control), makes drive D: of the window tests' prefix a CD-ROM
# drive that shows it, runs the test program's cases that FILTER selects,
# and then, however the cases ended, removes the drive and unmounts.
set -u
run="$1" discfs="$2" cddrive="$3" state="$4" exe="$5" filter="$6"
mnt="$state/mnt"
mkdir -p "$mnt"
# A mount that an earlier run could not end would hide the new one.
fusermount3 -u "$mnt" 2>/dev/null || true
: >"$state/control"
"$discfs" "$state/control" "$mnt" -f >"$state/discfs.log" 2>&1 &
fs=$!
cleanup() {
    "$run" "$cddrive" remove d >/dev/null 2>&1 || true
    fusermount3 -u "$mnt" 2>/dev/null || true
    kill "$fs" 2>/dev/null || true
    wait "$fs" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
i=0
until mountpoint -q "$mnt"; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 "$fs" 2>/dev/null; then
        echo "the test file system did not mount:" >&2
        cat "$state/discfs.log" >&2
        exit 1
    fi
    sleep 0.05
done
"$run" "$cddrive" define d "$mnt" || exit 1
# The cases may define the drive again, as a disc change does to its serial.
TARNOK_DRIVE_CONTROL="$state/control" TARNOK_DRIVE_MOUNT="$mnt" TARNOK_CDDRIVE="$cddrive" \
    "$run" "$exe" --gtest_filter="$filter"
