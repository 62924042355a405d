#!/bin/sh
# menu-entries.sh SOURCE BUILD: an install as a Linux player's Wine makes it,
# in a prefix of its own where Wine's menu builder runs (the other tests turn
# it off), with a home of its own. The Start menu shortcut becomes a Linux
# menu entry and the game's icon lands in the icon theme. The install goes
# into a folder on Z:, the Linux root, as the demo's does: nothing is said on
# the console about that drive's label and serial.
set -eu
src=$1
build=$2
. "$src/tools/wine-layout.sh"
state="$build/menu-test"
export WINEPREFIX="$build/menu-wineprefix"
export HOME="$state/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"
export WINEDEBUG=-all
rm -rf "$state"
mkdir -p "$HOME"
# The prefix is made, and its server started, with the menu builder off, so
# that only the install makes entries.
"$src/tools/wine-prefix.sh" ensure
trap '"$src/tools/wine-prefix.sh" stop' EXIT
for links in "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs \
    "$WINEPREFIX"/drive_c/users/*/Desktop; do
    rm -f "$links/Tarnok - Vorblen.lnk"
done

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
media="$build/media"
export WINEDLLOVERRIDES="mscoree,mshtml="
status=0
wine "$build/setup_game.exe" /silent /cd1 "$(winpath "$media/disc1.iso")" /cd2 "$(winpath "$media/disc2")" \
    /patch "$(winpath "$media/TARNO103.EXE")" /dir "$(winpath "$state/Tarnok PC")" \
    </dev/null >"$state/console" 2>&1 || status=$?
if [ $status -ne 0 ]; then
    echo "the install failed (exit code $status):"
    cat "$state/console"
    exit 1
fi

# The menu builder runs on its own after each shortcut is saved.
entry="$XDG_DATA_HOME/applications/wine/Programs/Tarnok - Vorblen.desktop"
icons() { ls "$XDG_DATA_HOME"/icons/hicolor/*/apps/*tarnok*.png 2>/dev/null; }
i=0
until [ -f "$entry" ] && [ -n "$(icons)" ]; do
    i=$((i + 1))
    if [ $i -gt 600 ]; then
        echo "no menu entry or no icon after a minute; the home holds:"
        find "$HOME" -type f
        exit 1
    fi
    sleep 0.1
done
echo "menu entry: $entry"
sed 's/^/  /' "$entry"
echo "icons:"
icons | sed 's/^/  /'
if ! grep -q '^Icon=.*tarnok' "$entry"; then
    echo "the menu entry has not the game's icon"
    exit 1
fi
if grep -q "label and serial" "$state/console"; then
    echo "the install spoke of the drive's label and serial:"
    cat "$state/console"
    exit 1
fi
