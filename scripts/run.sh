#!/usr/bin/env bash
# Builds the program. Usage: scripts/run.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDS_BUILD_TESTS=OFF
cmake --build "$build" --parallel 2
