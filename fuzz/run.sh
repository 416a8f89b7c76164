#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/
# and runs each for SECONDS seconds (default 60), two at a time:
#
#   bash fuzz/run.sh [SECONDS] [TARGET...]     TARGET: run rsd ply mat model tim import (default all)
#
# Seeds are made from the test cases and examples/; what the fuzzer finds
# new is kept in fuzz/corpus-work/TARGET (not in git) and used again by the
# next run. A crash, leak, timeout or sanitizer report stops that target,
# leaves the input in fuzz/corpus-work/artifacts/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(run rsd ply mat model tim import)
jobs=${FUZZ_JOBS:-2}

build=$root/build-fuzz
work=$root/fuzz/corpus-work
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
  -DZORVEL_FUZZ=ON -DZORVEL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target "${targets[@]/#/fuzz_}" >/dev/null
rm -rf "$build/seeds"
python3 fuzz/make-corpus.py "$build/seeds" >/dev/null
# fuzz_import's seeds: the import cases' glTF files, binary and JSON, and
# the compressed and extended ones (Draco, meshopt, specular-glossiness,
# WebP), where the tests' glTF writer is installed.
mkdir -p "$build/seeds/import"
if [ -d build-tools/gltf-transform/node_modules ]; then
  for scene in transforms primitives materials jpeg points badimage details repeat wraps instanced nonfinite scenes; do
    node tests/make_gltf.js $scene "$build/seeds/import/$scene.glb"
    (cd "$build/seeds/import" && node "$root/tests/make_gltf.js" $scene $scene.gltf && rm -f $scene.bin)
  done
  for variant in draco meshopt specgloss webp; do
    node tests/make_compressed.js $variant "$build/seeds/import/$variant.glb"
  done
fi
mkdir -p "$work/artifacts"

fuzz_one() {
  local t=$1
  mkdir -p "$work/$t"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TMPDIR=$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}" ) \
    "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -dict="$root/fuzz/zorvel.dict" -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/$t-" "$work/$t" "$build/seeds/$t" \
      >"$build/fuzz-$t.log" 2>&1
}

running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  (if fuzz_one "$t"; then echo 0; else echo 1; fi >"$build/fuzz-$t.rc") &
  running=$((running + 1))
done
wait

status=0
for t in "${targets[@]}"; do
  if [ "$(cat "$build/fuzz-$t.rc")" = 0 ]; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz-$t.log")
    echo "fuzz_$t: ${runs:-?} runs in ${seconds} s, nothing found"
  else
    status=1
    echo "fuzz_$t: FINDING (log $build/fuzz-$t.log)"
    grep -E "ERROR|SUMMARY|runtime error|Test unit written|==[0-9]+==" "$build/fuzz-$t.log" | head -20
  fi
done
exit $status
