#!/usr/bin/env bash
# Builds the tool and runs every test: in a plain Release build, under
# AddressSanitizer and UndefinedBehaviorSanitizer, under valgrind's memcheck,
# and a short run of every fuzz target. About eight minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --validator cmake g++ make libgtest-dev groff-base dpkg-dev file \
  nlohmann-json3-dev libpng-dev libtinygltf-dev libstb-dev libdraco-dev libmeshoptimizer-dev libwebp-dev gltfpack webp clang libclang-rt-14-dev python3 valgrind
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZORVEL_TESTS=ON -DZORVEL_SANITIZE=ON
cmake --build build-sanitize -j "$jobs"
# Not the tests that run no zorvel code (documents, packaging, reference
# pictures), nor the glTF validator's: the exports it checks are the same in
# every build, and the end-to-end cases run the same commands here. Nor the
# ten-million sweeps, which only compute (the Release build runs them on
# every instruction set; random lines go through every reader here too).
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs" \
    -E '^(man-page|model-man-page|model-render-pictures|install-and-package|gltf-validator)$|TenMillion'

# The suite again with every zorvel process under valgrind (about two minutes).
bash scripts/memcheck.sh

# A short run of every fuzz target (longer runs: bash fuzz/run.sh SECONDS).
bash fuzz/run.sh 10
