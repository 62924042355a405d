#!/bin/sh
# The "intl_user" fixture: a Wine prefix whose user name is not ASCII, so that
# the profile, the temporary folder, the desktop and the Start menu all lie
# below C:\users\<that name>. Wine takes the user name from the Unix USER
# when it makes the prefix and when it starts a process.
#   intl-user.sh start   make the prefix once, keep its wineserver alive
#   intl-user.sh stop    end that wineserver (only this prefix's)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-layout.sh"
: "${WINEPREFIX:?}" "${USER:?}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

case "${1:-}" in
start)
    "$here/../../tools/wine-prefix.sh" ensure
    # As in the window tests' prefix: no wait for a window manager that
    # Xvfb does not have.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    ;;
stop) "$here/../../tools/wine-prefix.sh" stop ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
