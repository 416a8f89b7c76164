#!/usr/bin/env bash
# Times whole merges of two generated model sets and checks that the merged
# files are byte-identical to the recorded checksums.
#
#   bench/run.sh [RUNS]        (default 5 runs per set)
#
# Needs python3, /usr/bin/time and sha256sum. The generated data goes to
# bench/data/ (about 800 MB with the outputs), which git ignores.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
root=$(pwd)
gen=${GENMODELS:-$root/../shared/bench/genmodels.py}
data=$root/bench/data

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc 2>/dev/null || echo 2)" --target zorvel >/dev/null
tool=$root/build-bench/zorvel

generate() {  # name, genmodels arguments...
  local name=$1; shift
  if [ ! -f "$data/$name/list.txt" ]; then
    echo "generating the $name set..."
    mkdir -p "$data/$name"
    python3 "$gen" "$data/$name" "$@" --jobs 2 >/dev/null
  fi
}
generate small --models 200 --vertices 2000 --normals 100 --polygons 250 --textures 8 --seed 1
generate large --models 20 --vertices 500000 --normals 25000 --polygons 62500 --textures 8 --seed 1

# Prints "best median" of the numbers on standard input.
best_median() { sort -g | awk '{v[NR]=$1} END {m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; print v[1], m}'; }

measure() {  # set name
  local name=$1 dir=$data/$1 out=$data/out-$1
  mkdir -p "$out"
  local bytes
  bytes=$(cd "$dir" && cat list.txt *.rsd *.ply *.mat | wc -c)
  local walls=() peaks=()
  for ((i = 0; i < runs; i++)); do
    rm -f "$out"/merged.*
    # A relative stem: the merged RSD and COD files name the outputs by it.
    local start=$EPOCHREALTIME
    (cd "$dir" && /usr/bin/time -v "$tool" -o "../out-$name/merged" -bat list.txt >/dev/null 2>"$out/time.txt") \
      || { echo "zorvel failed on the $name set"; cat "$out/time.txt"; exit 1; }
    walls+=("$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}')")
    peaks+=("$(awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2/1024}' "$out/time.txt")")
  done
  read -r best median < <(printf '%s\n' "${walls[@]}" | best_median)
  read -r peak _ < <(printf '%s\n' "${peaks[@]}" | sort -gr | head -1 | awk '{print $1, 0}')
  local floor_read floor_copy
  local start=$EPOCHREALTIME
  (cd "$dir" && cat list.txt *.rsd *.ply *.mat >/dev/null)
  floor_read=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}')
  start=$EPOCHREALTIME
  (cd "$dir" && cat list.txt *.rsd *.ply *.mat >"$out/cat.out")
  floor_copy=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}')
  rm -f "$out/cat.out"
  awk -v n="$name" -v b="$bytes" -v best="$best" -v med="$median" -v peak="$peak" -v fr="$floor_read" -v fc="$floor_copy" -v r="$runs" 'BEGIN {
    mb = b / 1e6
    printf "%-6s input %.1f MB, %d runs: best %.3f s, median %.3f s, %.0f MB/s (best); peak %s MiB\n", n, mb, r, best, med, mb / best, peak
    printf "       floor: cat to /dev/null %.3f s, cat to a file %.3f s\n", fr, fc
  }'
  # The merged files must not change by a single byte.
  (cd "$out" && sha256sum merged.rsd merged.ply merged.mat merged.cod) >"$out/sums.txt"
  diff -q "$out/sums.txt" "$root/bench/expected-$name.sha256" >/dev/null \
    && echo "       checksums: identical to bench/expected-$name.sha256" \
    || { echo "       checksums DIFFER from bench/expected-$name.sha256"; diff "$out/sums.txt" "$root/bench/expected-$name.sha256" || true; exit 1; }
}

echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
measure small
measure large
