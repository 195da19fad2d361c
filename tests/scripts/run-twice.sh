#!/usr/bin/env bash
# scripts/run.sh started while the program it started still runs ends with the program's own
# "already running" message (status 2), not with a failed copy of the executable.
set -uo pipefail
source_dir=$1
build=$2
runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
rm -f "$build/program/Simulatore.log"
"$source_dir/scripts/run.sh" "$build" >"$runtime/first.log" 2>&1 &
first=$!
trap 'kill $first 2>/dev/null; wait $first 2>/dev/null; rm -rf "$runtime"' EXIT
# Up to 30 s, times QDS_TEST_TIME_SCALE.
tries=$(awk -v s="${QDS_TEST_TIME_SCALE:-1}" 'BEGIN { n = 300 * s; print (n < 300 ? 300 : int(n)) }')
for _ in $(seq 1 "$tries"); do
    grep -q "OpenPort" "$build/program/Simulatore.log" 2>/dev/null && break
    sleep 0.1
done
"$source_dir/scripts/run.sh" "$build" >"$runtime/second.log" 2>&1
status=$?
if [[ $status -ne 2 ]] || ! grep -q "Questo programma è già stato caricato." "$runtime/second.log"; then
    echo "second run: status $status"
    cat "$runtime/second.log"
    exit 1
fi
echo "second run ended with the program's own message"
