#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds the executable, the stand-in
# setup package and the tests for 32-bit Windows, then runs the unit tests and the end-to-end
# tests under Wine on a private virtual display. Extra arguments go to ctest (e.g. -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
