#!/usr/bin/env bash
# Builds both commands, imports the glTF example examples/crate.glb into
# build-example/out/crate.{rsd,ply,mat} and crate-0.tim, merges it with the
# example models in examples/ into
# build-example/out/merged.{rsd,ply,mat,cod,ogp}, reports on the merged
# model, exports it to build-example/out/merged.glb and draws it, each input
# in its own colour, into doc/examples-merged.png (the README's picture).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh cmake g++ make nlohmann-json3-dev libpng-dev libtinygltf-dev libstb-dev
cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF
cmake --build build-example -j "$(nproc 2>/dev/null || echo 2)" --target zorvel zorvel-model
mkdir -p build-example/out
cd examples
# The crate is a glTF file (made once by make-crate.js): imported, then
# merged with the example models.
../build-example/zorvel-model import crate.glb -o ../build-example/out/crate
../build-example/zorvel -o ../build-example/out/merged -ogp car.rsd wheel.rsd seat.rsd ../build-example/out/crate.rsd
../build-example/zorvel-model info ../build-example/out/merged.rsd
../build-example/zorvel-model export ../build-example/out/merged.rsd -o ../build-example/out/merged.glb
../build-example/zorvel-model render ../build-example/out/merged.rsd -o ../doc/examples-merged.png --colour group
echo "merged model written to build-example/out/:"
ls -l ../build-example/out
