#!/bin/sh
# A private X server for the window tests of one build folder.
#   xvfb.sh start STATE_DIR   start Xvfb on a free display; record pid and display
#                             (screen XVFB_SCREEN, 1024x768x24 unless given)
#   xvfb.sh stop STATE_DIR    end exactly the server recorded there
set -eu
state="${2:?usage: $0 start|stop STATE_DIR}"

start() {
    mkdir -p "$state"
    stop
    n=$(( ($$ % 400) + 100 ))
    tries=0
    while [ $tries -lt 50 ]; do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            Xvfb ":$n" -screen 0 "${XVFB_SCREEN:-1024x768x24}" -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
            pid=$!
            # Another server may have taken the number meanwhile: keep ours
            # only once it answers and is still alive.
            i=0
            while [ $i -lt 100 ] && kill -0 "$pid" 2>/dev/null; do
                if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                    echo "$pid" >"$state/pid"
                    echo ":$n" >"$state/display"
                    echo "Xvfb :$n (pid $pid)"
                    return 0
                fi
                sleep 0.1
                i=$((i + 1))
            done
            kill "$pid" 2>/dev/null || true
        fi
        n=$((n + 1))
        tries=$((tries + 1))
    done
    echo "no free display for Xvfb" >&2
    return 1
}

stop() {
    [ -f "$state/pid" ] || return 0
    pid=$(cat "$state/pid")
    # Only the server this script started: the pid must still be an Xvfb.
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "Xvfb" ]; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -f "$state/pid" "$state/display"
}

case "$1" in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop STATE_DIR" >&2; exit 2 ;;
esac
