#!/usr/bin/env bash
# The whole test suite: native unit tests, Windows unit tests under Wine, black-box tests
# against both builds. Exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
# A Wine prefix of this run's own: a service or package left installed in a shared prefix by an
# interrupted earlier run would answer in place of the program under test.
if [[ -z ${KORBA_WINEPREFIX:-} ]]; then
  KORBA_WINEPREFIX=$(mktemp -d /tmp/korba-e2e-wine.XXXXXX)
  export KORBA_WINEPREFIX
  trap 'WINEPREFIX=$KORBA_WINEPREFIX wineserver -k 2>/dev/null; rm -rf "$KORBA_WINEPREFIX"' EXIT
fi

failed=()
# Runs one step, prints its name and how long it took, and remembers it when it failed.
step() {
  local name=$1 started=$SECONDS status; shift
  echo "== $name"
  "$@"
  status=$?
  ((status)) && failed+=("$name")
  echo "   ($((SECONDS - started)) s)"
  return $status
}

step "dependencies" scripts/deps.sh && step "build" scripts/build.sh native windows ||
  { echo "FAILED: ${failed[*]}"; exit 1; }

step "unit (native)" ctest --test-dir build/native --output-on-failure -j2 --timeout 120
step "unit (Windows, Wine)" env WINEPREFIX=/tmp/korba-unit-wine \
  wine build/windows/tests/korba_unit_tests.exe --gtest_brief=1
step "black-box" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e
step "JavaScript client" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e/js_client.py

# The native program and unit tests again under the sanitizers; a finding ends the process.
export UBSAN_OPTIONS=print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1
if step "build (sanitizers)" scripts/build.sh asan tsan; then
  for s in asan tsan; do
    step "unit ($s)" timeout 300 build/$s/tests/korba_unit_tests --gtest_brief=1
    step "black-box ($s)" timeout 1500 env KORBA_TARGETS=native KORBA_NATIVE_BIN=build/$s/korba-vizoza \
      KORBA_SANITIZED=1 KORBA_LOAD_REQUESTS=5000 \
      /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e
  done
fi

step "fuzz" timeout 600 scripts/fuzz.sh 15

if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All test steps passed."
