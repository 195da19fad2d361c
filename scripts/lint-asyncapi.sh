#!/usr/bin/env bash
# Validates the MQTT link's AsyncAPI document with AsyncAPI's CLI (from the npm registry, at a
# pinned version, with the machine's Node.js and npm).
set -euo pipefail
cd "$(dirname "$0")/.."
export SUPPRESS_NO_CONFIG_WARNING=1
npx --yes @asyncapi/cli@6.2.0 validate docs/mqtt-api.yaml --fail-severity=warn
