#!/usr/bin/env bash
# Checks that a driver program does what QuorinDriverServer relies on (docs/DRIVERS.md).
#   scripts/driver-check.sh [--port N] [--speed S] [--timeout SECONDS] PROGRAM [ARGS...]
# It sends real commands: use a simulator or a register kept for tests.
exec python3 "$(dirname "$0")/driver-check.py" "$@"
