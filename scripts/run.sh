#!/usr/bin/env bash
# Sets up what building and running need, builds the native program and runs the bridge on
# 127.0.0.1:9230; a machine without printers first gets the demo printer (scripts/demo-printer.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --run
scripts/build.sh native
scripts/demo-printer.sh
exec build/native/korba-vizoza "$@"
