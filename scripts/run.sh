#!/usr/bin/env bash
# Sets up what is missing, builds the native program and runs the bridge on 127.0.0.1:9230.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh native
exec build/native/korba-vizoza "$@"
