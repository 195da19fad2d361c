#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb with a tray host (needs xvfb xauth x11-utils trayer
# imagemagick xdotool). Usage: scripts/screenshots.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# The server picks a free display itself and writes its number once it takes connections.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
until [ -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM
trayer --edge top --align right --widthtype request --height 32 --SetDockType true >/dev/null 2>&1 &
sleep 1

run() { # language, then what to drop
    local lang=$1 drop=${2:-}
    rm -rf "$work/p"; mkdir -p "$work/p/rt"; chmod 700 "$work/p/rt"
    cp "$build/src/QuorinDriverServer" examples/Avvio.txt examples/Stop.txt examples/Simulatore.ini \
        examples/Esempio.orvek "$work/p/"
    printf '[Parameters]\r\nLanguage=%s\r\nFrequence=1\r\n' "$lang" > "$work/p/ZEZOVURADUR.INI"
    (cd "$work/p" && XDG_RUNTIME_DIR="$work/p/rt" ./QuorinDriverServer >/dev/null 2>&1 &)
    sleep 2.5
    if [ -n "$drop" ]; then cp "examples/commands/$drop" "$work/p/TOSEND/"; sleep 2.5; fi
}
stop() { pkill -TERM -f "$work/p/QuorinDriverServer" || pkill -TERM -x QuorinDriverSer || true; sleep 1.5; }

run Italiano SUCCESSO.TXT
import -window root -crop 300x210+0+0 +repage "$out/main-italian.png"
import -window root -crop 40x32+760+0 +repage "$out/tray-normal.png"
# File > Personalizza..., then Annulla (Escape)
xdotool mousemove 20 8 click 1; sleep 0.5; xdotool mousemove 60 30 click 1; sleep 1.5
import -window "$(xdotool search --name '^Personalizza$' | head -1)" "$out/settings-dialog.png"
xdotool windowfocus "$(xdotool search --name '^Personalizza$' | head -1)"; xdotool key Escape
sleep 1
# File > Invia..., double-click the example document, then close the editor unchanged
xdotool mousemove 20 8 click 1; sleep 0.5; xdotool mousemove 60 51 click 1; sleep 1.5
# Without a window manager the keyboard goes where it is sent.
opener=$(xdotool search --name 'Apri documento' | tail -1)
xdotool windowfocus "$opener"; sleep 0.3
# The dialog opens in the program folder: rt, TOSEND, UNSENT, then the document.
xdotool mousemove --window "$opener" 175 124 click --repeat 2 --delay 80 1; sleep 1.5
editor=$(xdotool search --name 'Esempio.orvek' | tail -1)
import -window "$editor" "$out/editor.png"
xdotool windowfocus "$editor"; xdotool key Escape; sleep 1
stop
run English ERRORE.TXT
import -window root -crop 300x210+0+0 +repage "$out/main-english-error.png"
import -window root -crop 40x32+760+0 +repage "$out/tray-error.png"
stop
echo "Screenshots in $out"
