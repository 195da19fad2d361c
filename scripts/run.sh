#!/usr/bin/env bash
# Builds the program, sets up a program folder with the examples and starts it on the built-in
# simulated register. Usage: scripts/run.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel 2 --target QuorinDriverServer

# The program folder is the folder of the executable: settings, Avvio.txt, Stop.txt,
# Simulatore.ini, and the TOSEND and UNSENT folders live there.
program="$build/program"
mkdir -p "$program/samples"
# A running program keeps its executable busy: the new one takes its place by a rename, so a
# second run gets as far as the program's own "already running" message.
if ! cmp -s "$build/src/QuorinDriverServer" "$program/QuorinDriverServer"; then
    cp "$build/src/QuorinDriverServer" "$program/.QuorinDriverServer.new"
    mv -f "$program/.QuorinDriverServer.new" "$program/QuorinDriverServer"
fi
for f in Avvio.txt Stop.txt Simulatore.ini; do
    [ -e "$program/$f" ] || cp "examples/$f" "$program/"
done
cp examples/commands/*.TXT "$program/samples/"

echo "Program folder: $program"
echo "Drop a command file into $program/TOSEND, e.g.: cp $program/samples/SUCCESSO.TXT $program/TOSEND/"
exec "$program/QuorinDriverServer"
