#!/usr/bin/env bash
# Builds both commands, imports the glTF example examples/crate.glb into
# build-example/out/crate.{rsd,ply,mat} and crate-0.tim, merges it with the
# example models of examples/ (copied there) into
# build-example/out/merged.{rsd,ply,mat,cod,ogp}, reports on the merged
# model, exports it to build-example/out/merged.glb and draws it with its
# textures into doc/examples-merged.png (the README's picture).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh cmake g++ make nlohmann-json3-dev libpng-dev libtinygltf-dev libstb-dev libdraco-dev libmeshoptimizer-dev libwebp-dev
cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF
cmake --build build-example -j "$(nproc 2>/dev/null || echo 2)" --target zorvel zorvel-model
# The example models are merged in a copy of examples/ beside the outputs,
# with the crate (a glTF file made once by make-crate.js) imported there.
rm -rf build-example/out
mkdir -p build-example/out
cp examples/*.rsd examples/*.ply examples/*.mat examples/*.tim build-example/out/
cd build-example/out
../zorvel-model import ../../examples/crate.glb -o crate
../zorvel -o merged -ogp car.rsd wheel.rsd seat.rsd crate.rsd
../zorvel-model info merged.rsd
../zorvel-model export merged.rsd -o merged.glb
../zorvel-model render merged.rsd -o ../../doc/examples-merged.png
echo "merged model written to build-example/out/:"
ls -l merged.*
