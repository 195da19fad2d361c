#!/usr/bin/env bash
# Builds the program and its benchmarks, runs every benchmark and writes the table into
# docs/PERFORMANCE.md (between its "results" markers).
#   scripts/bench.sh [--smoke] [build-folder]
# --smoke runs each benchmark briefly to show that it still works (CI does) and leaves the
# document alone. A new build folder is configured as Release; an existing one is reused.
set -euo pipefail
cd "$(dirname "$0")/.."
smoke=()
if [[ "${1:-}" == "--smoke" ]]; then
    smoke=(--smoke)
    shift
fi
build=${1:-build-bench}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    # shellcheck disable=SC2086
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release ${QDS_CMAKE_ARGS:-}
fi
cmake --build "$build" --parallel 2 --target qds_bench
results="$build/bench/results.md"
"$build/bench/qds_bench" "${smoke[@]}" --program "$build/src/QuorinDriverServer" \
    --baseline "$build/bench/empty_qt_program" --tick-bench "$build/bench/tick_bench" \
    --out "$results"
http_results="$build/bench/http-results.md"
python3 bench/http_bench.py "$build/src/QuorinDriverServer" "${smoke[@]}" --out "$http_results"
python3 bench/http_attack_bench.py "$build/src/QuorinDriverServer" "${smoke[@]}" \
    --out "$build/bench/http-attack-results.md"
python3 bench/mqtt_bench.py "$build/src/QuorinDriverServer" "${smoke[@]}" \
    --out "$build/bench/mqtt-results.md"
if [[ ${#smoke[@]} -eq 0 ]]; then
    doc=docs/PERFORMANCE.md
    for marker in results http-results http-attack-results mqtt-results; do
        file="$build/bench/$marker.md"
        awk -v results="$file" -v marker="$marker" '
            $0 == "<!-- " marker " -->" { print; while ((getline line < results) > 0) print line; skipping = 1; next }
            $0 == "<!-- /" marker " -->" { skipping = 0 }
            !skipping' "$doc" > "$doc.new"
        mv "$doc.new" "$doc"
    done
    echo "Tables written to $doc"
fi
