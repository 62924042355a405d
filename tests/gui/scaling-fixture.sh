#!/bin/sh
# The "scaling" fixture of the display scaling tests:
#   scaling-fixture.sh start STATE_DIR   a large Xvfb (the window at 200 % is
#                                        larger than 1024x768) and the prefix
#   scaling-fixture.sh stop STATE_DIR    the prefix's wineserver and the Xvfb ended
# The scalings are set one after the other in this prefix of their own, each
# with a restart of its wineserver: no other test shares it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-layout.sh"
state="${2:?}"
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

case "$1" in
start)
    XVFB_SCREEN=2048x1536x24 "$here/xvfb.sh" start "$state"
    DISPLAY=$(cat "$state/display")
    export DISPLAY
    "$here/../../tools/wine-prefix.sh" ensure
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    "$here/xvfb.sh" stop "$state"
    ;;
*)
    echo "usage: $0 start STATE_DIR | stop STATE_DIR" >&2
    exit 2
    ;;
esac
