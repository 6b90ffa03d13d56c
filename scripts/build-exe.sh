#!/usr/bin/env bash
# Cross-builds the Windows program: build/windows/korba-vizoza.exe (static, no extra DLL).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh windows
echo build/windows/korba-vizoza.exe
