#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on a copy of its seed
# corpus. Usage: scripts/fuzz.sh [seconds-per-target] [build-folder]
# CI runs about 60 s each; for a longer hunt give, say, 3600 and keep the work folder's corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-fuzz}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDS_FUZZ=ON \
    -DQDS_BUILD_TESTS=OFF ${QDS_CMAKE_ARGS:-}
cmake --build "$build" --parallel 2
work=$(mktemp -d)
for target in PrivateProfile LineReader ResultBase SimulatorRules HttpRequest MqttJob; do
    corpus=$(echo "$target" | sed -E 's/([a-z])([A-Z])/\1_\2/g' | tr 'A-Z' 'a-z')
    mkdir -p "$work/$corpus"
    cp tests/fuzz/corpus/"$corpus"/* "$work/$corpus/"
    echo "== fuzz_$target for ${seconds}s"
    (cd "$work" && "$OLDPWD/$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -print_final_stats=1 "$work/$corpus" 2>&1 | tail -n 12)
done
echo "Corpora grown in $work"
