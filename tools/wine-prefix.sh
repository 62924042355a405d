#!/bin/sh
# The private Wine prefix of a build folder.
#   wine-prefix.sh ensure   create it once (user folders made real, no menu entries)
#   wine-prefix.sh start    ensure, then keep one wineserver alive for the test run
#   wine-prefix.sh stop     end that wineserver (only this prefix's)
set -eu
. "$(dirname "$0")/wine-layout.sh"
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

ensure() {
    [ -f "$WINEPREFIX/.tarnok-ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.tarnok-ready" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w </dev/null >/dev/null 2>&1
            # A new prefix links the user folders to the real home; make them
            # real folders so nothing a test writes lands outside the prefix.
            for d in "$WINEPREFIX"/drive_c/users/*/; do
                for f in "$d"* "$d"AppData/Roaming/Microsoft/Windows/*; do
                    if [ -L "$f" ]; then rm -f "$f" && mkdir -p "$f"; fi
                done
                mkdir -p "$d/Temp" "$d/Desktop" "$d/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
            done
            touch "$WINEPREFIX/.tarnok-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Starts a wineserver that stays until "stop", unless one runs already, and
# boots the prefix's services with it. Both get /dev/null as their standard
# files: whatever they inherit stays open as long as they live, and a test
# runner would wait for the end of its output pipe until the end of the run.
up() {
    if wineserver -p </dev/null >/dev/null 2>&1; then
        wineboot </dev/null >/dev/null 2>&1 || true
    fi
}

case "${1:-}" in
ensure) ensure; up ;;
start) ensure; up ;;
stop) wineserver -k </dev/null >/dev/null 2>&1 || true ;;
*) echo "usage: $0 ensure|start|stop" >&2; exit 2 ;;
esac
