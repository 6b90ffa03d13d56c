#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each for a bounded time, starting
# from the seed corpus in tests/fuzz/corpus/<target>. A crash leaves its input in build/fuzz/artifacts.
# Usage: scripts/fuzz.sh [seconds per target, default 15] [target...]   (all targets when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift $(($# > 0 ? 1 : 0))

mkdir -p build
log=build/fuzz.log
if ! { CC=clang CXX=clang++ cmake -S . -B build/fuzz -DKORBA_BUILD_FUZZERS=ON -DKORBA_BUILD_TESTS=OFF &&
       cmake --build build/fuzz -j2 --target korba_fuzzers; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "FALLO la compilacion de los fuzzers (ver $log)" >&2
  exit 1
fi

targets=("$@")
((${#targets[@]})) || targets=($(ls tests/fuzz/corpus))
failed=()
for t in "${targets[@]}"; do
  work=build/fuzz/corpus/$t
  mkdir -p "$work" build/fuzz/artifacts
  # New inputs go to the first folder, so the seed corpus in the repository stays as it is.
  if build/fuzz/tests/fuzz/${t}_fuzz -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="build/fuzz/artifacts/$t-" "$work" "tests/fuzz/corpus/$t" >"build/fuzz/$t.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzz/$t.log")
    echo "fuzz $t: $runs runs in ${seconds} s, no fault"
  else
    tail -n 40 "build/fuzz/$t.log" >&2
    echo "fuzz $t: FAULT, input kept in build/fuzz/artifacts/$t-*" >&2
    failed+=("$t")
  fi
done
((${#failed[@]} == 0))
