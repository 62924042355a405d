#!/bin/sh
# One scenario of the drive tests:
#   drive-run.sh GUI_RUN DISCFS CDDRIVE STATE_DIR TEST_EXE FILTER
# (GUI_RUN runs a Windows program in the window tests' prefix) mounts the
# test file system twice, on STATE_DIR/mnt and STATE_DIR/mnt2 (their
# control files are STATE_DIR/control and STATE_DIR/control2), makes
# drives D: and F: of the window tests' prefix CD-ROM drives that show
# them (F: empty until a case puts a disc in it), runs the test program's
# cases that FILTER selects, and then, however the cases ended, removes
# the drives and unmounts.
set -u
run="$1" discfs="$2" cddrive="$3" state="$4" exe="$5" filter="$6"
pids=""
cleanup() {
    for letter in d f; do
        "$run" "$cddrive" remove $letter >/dev/null 2>&1 || true
    done
    for mnt in "$state/mnt" "$state/mnt2"; do
        fusermount3 -u "$mnt" 2>/dev/null || true
    done
    for pid in $pids; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# serve CONTROL MOUNTPOINT LOG: the file system, once it answers.
serve() {
    mkdir -p "$2"
    # A mount that an earlier run could not end would hide the new one.
    fusermount3 -u "$2" 2>/dev/null || true
    : >"$1"
    "$discfs" "$1" "$2" -f >"$3" 2>&1 &
    fs=$!
    pids="$pids $fs"
    i=0
    until mountpoint -q "$2"; do
        i=$((i + 1))
        if [ $i -gt 100 ] || ! kill -0 "$fs" 2>/dev/null; then
            echo "the test file system did not mount:" >&2
            cat "$3" >&2
            exit 1
        fi
        sleep 0.05
    done
}
serve "$state/control" "$state/mnt" "$state/discfs.log"
serve "$state/control2" "$state/mnt2" "$state/discfs2.log"
"$run" "$cddrive" define d "$state/mnt" || exit 1
"$run" "$cddrive" define f "$state/mnt2" || exit 1
# The cases may define the drive again, as a disc change does to its serial.
TARNOK_DRIVE_CONTROL="$state/control" TARNOK_DRIVE_MOUNT="$state/mnt" TARNOK_CDDRIVE="$cddrive" \
    TARNOK_DRIVE_CONTROL2="$state/control2" TARNOK_DRIVE_MOUNT2="$state/mnt2" \
    "$run" "$exe" --gtest_filter="$filter"
