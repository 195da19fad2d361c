#!/usr/bin/env bash
# Lints the HTTP front's OpenAPI document with Redocly's linter (from the npm registry, at a
# pinned version, with the machine's Node.js and npm).
set -euo pipefail
cd "$(dirname "$0")/.."
npx --yes @redocly/cli@1.34.20 lint --format=stylish docs/http-api.yaml
