#!/usr/bin/env bash
# Runs the whole test suite under valgrind's memcheck: the end-to-end tests
# and the imports of compressed files run every zorvel and zorvel-model
# process under it (ZORVEL_WRAPPER), and the unit tests run
# under it themselves. Any memory error or leak fails. It uses the Release
# build that scripts/test.sh has just built and run (build/), so that CI
# builds it once; valgrind names functions from its symbols.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
memcheck="valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible -q"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=ON
cmake --build build -j "$jobs"
ZORVEL_WRAPPER="$memcheck" ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs" \
  -R 'Cases/EndToEnd\.|^model-import-extensions$'
# The sweeps over millions of values only compute; the other builds run them.
$memcheck build/tests/unit_tests --gtest_filter='-*TenMillion*:*BitForBit*'
echo "memcheck: no errors"
