#!/usr/bin/env bash
# Sets up what building and running need, builds the native program and runs the bridge on
# 127.0.0.1:9230; a machine without printers first gets the demo printer (scripts/demo-printer.sh),
# unless the bridge prints to its virtual printer (--preview). Options go to the bridge.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --run
scripts/build.sh native
[[ " $* " == *" --preview "* ]] || scripts/demo-printer.sh
exec build/native/korba-vizoza "$@"
