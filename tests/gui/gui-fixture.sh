#!/bin/sh
# The "gui" fixture of the window and command-line tests:
#   gui-fixture.sh start STATE_DIR DISC_DIR   Xvfb, then the prefix with drive E:
#                                             as a CD-ROM drive holding DISC_DIR
#   gui-fixture.sh stop STATE_DIR             drive E: removed, the prefix's
#                                             wineserver and the Xvfb ended
# Wine reads the drive types when its server starts, so the drive is set up
# before the server that the tests use; that is why these tests have a
# prefix of their own and never restart the one the other tests share.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-layout.sh"
state="${2:?}"
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
drive=e:

case "$1" in
start)
    disc="${3:?}"
    "$here/xvfb.sh" start "$state"
    DISPLAY=$(cat "$state/display")
    export DISPLAY
    "$here/../../tools/wine-prefix.sh" ensure
    ln -sfn "$disc" "$WINEPREFIX/dosdevices/$drive"
    wine reg add 'HKLM\Software\Wine\Drives' /v "$drive" /t REG_SZ /d cdrom /f >/dev/null
    # Xvfb has no window manager: Wine would wait two seconds for one each
    # time a window closes, unless it manages the windows itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    "$here/../../tools/wine-prefix.sh" start
    ;;
stop)
    rm -f "$WINEPREFIX/dosdevices/$drive"
    if wine reg delete 'HKLM\Software\Wine\Drives' /v "$drive" /f >/dev/null 2>&1; then :; fi
    wineserver -k </dev/null >/dev/null 2>&1 || true
    "$here/xvfb.sh" stop "$state"
    ;;
*)
    echo "usage: $0 start STATE_DIR DISC_DIR | stop STATE_DIR" >&2
    exit 2
    ;;
esac
