#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb with a tray host (needs xvfb xauth x11-utils trayer
# imagemagick). Usage: scripts/screenshots.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb :97 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
export DISPLAY=:97
unset QT_QPA_PLATFORM
until xdpyinfo >/dev/null 2>&1; do sleep 0.1; done
trayer --edge top --align right --widthtype request --height 32 --SetDockType true >/dev/null 2>&1 &
sleep 1

run() { # language, then what to drop
    local lang=$1 drop=${2:-}
    rm -rf "$work/p"; mkdir -p "$work/p/rt"; chmod 700 "$work/p/rt"
    cp "$build/src/QuorinDriverServer" examples/Avvio.txt examples/Stop.txt examples/Simulatore.ini "$work/p/"
    printf '[Parameters]\r\nLanguage=%s\r\nFrequence=1\r\n' "$lang" > "$work/p/ZEZOVURADUR.INI"
    (cd "$work/p" && XDG_RUNTIME_DIR="$work/p/rt" ./QuorinDriverServer >/dev/null 2>&1 &)
    sleep 2.5
    if [ -n "$drop" ]; then cp "examples/commands/$drop" "$work/p/TOSEND/"; sleep 2.5; fi
}
stop() { pkill -TERM -f "$work/p/QuorinDriverServer" || pkill -TERM -x QuorinDriverSer || true; sleep 1.5; }

run Italiano SUCCESSO.TXT
import -window root -crop 300x210+0+0 +repage "$out/main-italian.png"
import -window root -crop 40x32+760+0 +repage "$out/tray-normal.png"
stop
run English ERRORE.TXT
import -window root -crop 300x210+0+0 +repage "$out/main-english-error.png"
import -window root -crop 40x32+760+0 +repage "$out/tray-error.png"
stop
echo "Screenshots in $out"
