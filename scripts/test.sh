#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${QDS_CMAKE_ARGS:-}
cmake --build "$build" --parallel 2
ctest --test-dir "$build" --output-on-failure --parallel 2
