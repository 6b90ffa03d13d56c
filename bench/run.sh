#!/usr/bin/env bash
# The benchmarks (never part of the tests): HTTP round trip against nginx and the least
# thread-per-connection server (bench/thread_server.cpp), decoding an 8 MiB
# body, a head read a byte at a time, start-up time, footprint, a raw ticket through CUPS
# against lp, the peak memory of an 8 MiB ticket, a 200-line ticket drawn by the JS client's
# renderer in Chromium, and tickets with ids. Prints a table.
# Usage: bench/run.sh [http|decode|head|start|footprint|raw|memory|drawing|tickets]...   (all when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh wrk nginx-light libbenchmark-dev
scripts/build.sh native windows
if ! { cmake -S bench -B build/bench -DCMAKE_BUILD_TYPE=Release && cmake --build build/bench -j2; } >build/bench.log 2>&1; then
  cat build/bench.log >&2
  exit 1
fi
exec /usr/bin/python3 bench/run.py "$@"
