#!/usr/bin/env bash
# Builds the tool and merges the example models in examples/ into
# build-example/out/merged.{rsd,ply,mat,cod,ogp}.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF
cmake --build build-example -j "$(nproc 2>/dev/null || echo 2)" --target zorvel
mkdir -p build-example/out
cd examples
../build-example/zorvel -o ../build-example/out/merged -ogp -bat models.txt
echo "merged model written to build-example/out/:"
ls -l ../build-example/out
