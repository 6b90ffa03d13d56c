#!/usr/bin/env bash
# Builds the native program and tests into build/native, and the Windows ones into build/windows.
# Usage: scripts/build.sh [native|windows|asan|tsan]...   (native and windows when none is named;
# asan and tsan are native builds with AddressSanitizer+UBSan and ThreadSanitizer)
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
((${#targets[@]})) || targets=(native windows)
for t in "${targets[@]}"; do
  log=build/$t.log
  mkdir -p build
  case $t in
    native) args=() ;;
    windows) args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake) ;;
    asan) args=(-DKORBA_SANITIZE=address,undefined) ;;
    tsan) args=(-DKORBA_SANITIZE=thread) ;;
    *) echo "no such build: $t" >&2; exit 2 ;;
  esac
  if ! { cmake -S . -B "build/$t" -DCMAKE_BUILD_TYPE=Release "${args[@]}" && cmake --build "build/$t" -j2; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "FALLO la compilacion $t (ver $log)" >&2
    exit 1
  fi
done
