#!/usr/bin/env bash
# The whole test suite: build the add-on and the C++ tests in one CMake tree,
# run the C++ tests (CTest), then the JavaScript tests (node --test).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --check
npx cmake-js configure --out build --CDTRACE_LABEL_TESTS=ON >/dev/null 2>&1 || npx cmake-js configure --out build --CDTRACE_LABEL_TESTS=ON
npx cmake-js build --out build
ctest --test-dir build --output-on-failure
node --test test/js/
