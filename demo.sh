#!/bin/sh
# From a fresh clone to an installed game: installs what is missing, builds
# setup.exe carrying the stand-in game, makes the sample media and installs
# them under Wine into build/demo/Tarnok PC. With an X display the install
# runs in the setup window (pressed by our automation client, then left for
# you to press Play or Close); without one it runs unattended.
# DEMO_BUILD names another build folder than build/.
set -eu
. "$(dirname "$0")/tools/wine-layout.sh"
cd "$(dirname "$0")"
build="$(pwd)/${DEMO_BUILD:-build}"

tools/deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j2 --target setup_game media gui-driver

# A prefix of its own, so the demo's shortcuts and uninstall entry stay for
# you to look at and never meet the tests' ones.
export WINEPREFIX="$build/demo-wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
stop_wine() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_wine EXIT
echo "Preparing the Wine prefix (the first time takes a few seconds) ..."
tools/wine-prefix.sh start

demo="$build/demo"
target="$demo/Tarnok PC"
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/setup_game.exe" "$demo/setup.exe"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
media="$build/media"
set -- /cd1 "$(winpath "$media/disc1.iso")" /cd2 "$(winpath "$media/disc2-m1.cue")" \
    /patch "$(winpath "$media/TARNO103.EXE")" /dir "$(winpath "$target")"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Installing in the setup window on $DISPLAY ..."
    wine "$demo/setup.exe" "$@" </dev/null &
    setup=$!
    # Press Install, follow the install to its end, show what it logged.
    if wine "$build/tools/gui-driver/gui-driver.exe" wait 30 click 23 \
        wait-text 21 "Tarnok is installed." 300 list </dev/null; then
        result=0
        echo "Installed. Press Play in the window to start the stand-in game, or Close."
    else
        result=1
        echo "The install did not finish; the window shows why. Close it to end the demo."
    fi
    wait "$setup" || true
    # Play starts the game as a process of its own; let it run until its
    # window is closed before the demo stops Wine.
    wine "$build/tools/gui-driver/gui-driver.exe" wait-class TarnokStandIn 5 wait-gone 86400 \
        </dev/null >/dev/null 2>&1 || true
else
    echo "No X display: installing unattended ..."
    result=0
    wine "$demo/setup.exe" /silent "$@" </dev/null || result=$?
fi

log=$(ls "$WINEPREFIX"/drive_c/users/*/Temp/tarnok_setup.log 2>/dev/null | head -n 1)
echo
if [ "$result" -eq 0 ]; then
    echo "Tarnok is installed in: $target"
    printf '  (for Windows programs in this prefix: %s)\n' "$(winpath "$target")"
    echo "Start it with: WINEPREFIX=$WINEPREFIX wine \"$target/tarnok.exe\""
else
    echo "The install failed (exit code $result)."
fi
echo "Setup's log: ${log:-not written}"
[ -n "$log" ] && sed 's/\r$//; s/^/  /' "$log"
exit "$result"
