#!/usr/bin/env bash
# Times whole merges of two generated model sets, side by side with a plain
# stdio implementation of the same merge, and checks that the merged files
# are byte-identical to the recorded checksums and to the plain merge's.
#
#   bench/run.sh [RUNS]        (default 5 runs per set and per program)
#
# Needs python3, gcc, /usr/bin/time and sha256sum. The generated data goes to
# bench/data/ (about 1.2 GB with both programs' outputs), which git ignores.
# PLAIN=no leaves the plain merge out.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
root=$(pwd)
gen=${GENMODELS:-$root/../shared/bench/genmodels.py}
plain_src=${PLAIN_MERGE:-$root/../shared/bench/plain-merge.c}
data=$root/bench/data

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc 2>/dev/null || echo 2)" --target zorvel >/dev/null
tool=$root/build-bench/zorvel
plain=
if [ "${PLAIN:-yes}" != no ]; then
  gcc -O2 -o build-bench/plain-merge "$plain_src"
  plain=$root/build-bench/plain-merge
fi

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
median() { best_median | awk '{print $2}'; }
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}'; }

# One timed merge in the set's folder; prints its wall time, CPU time
# (user + sys) and peak memory (MiB).
timed() {  # program, set name, output stem, /usr/bin/time file
  local program=$1 name=$2 stem=$3 report=$4
  local start=$EPOCHREALTIME
  (cd "$data/$name" && /usr/bin/time -v "$program" -o "$stem" -bat list.txt >/dev/null 2>"$report") \
    || { echo "$program failed on the $name set" >&2; cat "$report" >&2; exit 1; }
  local wall
  wall=$(seconds_since "$start")
  awk -F': ' -v w="$wall" '/User time/ {u=$2} /System time/ {s=$2} /Maximum resident set size/ {m=$2}
    END {printf "%s %.2f %.1f\n", w, u + s, m / 1024}' "$report"
}

measure() {  # set name
  local name=$1 dir=$data/$1 out=$data/out-$1
  # The plain merge cuts its stem at the first '.' of the whole path: give
  # it an absolute one without dots.
  local plain_out=$data/plain-$1
  case $plain_out in *.*) plain_out=$(mktemp -d /tmp/zorvel-plain-XXXXXX) ;; esac
  mkdir -p "$out" "$plain_out"
  local bytes
  bytes=$(cd "$dir" && cat list.txt *.rsd *.ply *.mat | wc -c)
  local tw=() tc=() tp=() pw=() pc=() pp=() result w c m best t_wall t_cpu t_peak p_wall=0 p_cpu=0 p_peak=0
  # The two programs take turns, so that both see the same load.
  for ((i = 0; i < runs; i++)); do
    rm -f "$out"/merged.*
    # A relative stem: the merged RSD and COD files name the outputs by it.
    result=$(timed "$tool" "$name" "../out-$name/merged" "$out/time.txt")
    read -r w c m <<<"$result"
    tw+=("$w"); tc+=("$c"); tp+=("$m")
    if [ -n "$plain" ]; then
      rm -f "$plain_out"/merged.*
      result=$(timed "$plain" "$name" "$plain_out/merged" "$plain_out/time.txt")
      read -r w c m <<<"$result"
      pw+=("$w"); pc+=("$c"); pp+=("$m")
    fi
  done
  read -r best t_wall < <(printf '%s\n' "${tw[@]}" | best_median)
  t_cpu=$(printf '%s\n' "${tc[@]}" | median)
  t_peak=$(printf '%s\n' "${tp[@]}" | median)
  if [ -n "$plain" ]; then
    p_wall=$(printf '%s\n' "${pw[@]}" | median)
    p_cpu=$(printf '%s\n' "${pc[@]}" | median)
    p_peak=$(printf '%s\n' "${pp[@]}" | median)
  fi
  local floor_read floor_copy start
  start=$EPOCHREALTIME
  (cd "$dir" && cat list.txt *.rsd *.ply *.mat >/dev/null)
  floor_read=$(seconds_since "$start")
  start=$EPOCHREALTIME
  (cd "$dir" && cat list.txt *.rsd *.ply *.mat >"$out/cat.out")
  floor_copy=$(seconds_since "$start")
  rm -f "$out/cat.out"
  awk -v n="$name" -v b="$bytes" -v r="$runs" -v best="$best" -v tw="$t_wall" -v tc="$t_cpu" -v tp="$t_peak" \
      -v pw="$p_wall" -v pc="$p_cpu" -v pp="$p_peak" -v plain="$plain" -v fr="$floor_read" -v fc="$floor_copy" 'BEGIN {
    mb = b / 1e6
    printf "%-6s input %.1f MB, %d runs each, medians (best zorvel wall %.3f s, %.0f MB/s)\n", n, mb, r, best, mb / best
    printf "       %-8s wall %7.3f s   CPU %7.2f s   peak %7.1f MiB\n", "zorvel", tw, tc, tp
    if (plain != "") {
      printf "       %-8s wall %7.3f s   CPU %7.2f s   peak %7.1f MiB\n", "plain", pw, pc, pp
      printf "       plain/zorvel: wall %.1fx, CPU %.1fx; peak memory zorvel/plain %.2f\n", pw / tw, (tc > 0 ? pc / tc : 0), tp / pp
    }
    printf "       floor: cat to /dev/null %.3f s, cat to a file %.3f s\n", fr, fc
  }'
  # The merged files must not change by a single byte.
  (cd "$out" && sha256sum merged.rsd merged.ply merged.mat merged.cod) >"$out/sums.txt"
  diff -q "$out/sums.txt" "$root/bench/expected-$name.sha256" >/dev/null \
    && echo "       checksums: identical to bench/expected-$name.sha256" \
    || { echo "       checksums DIFFER from bench/expected-$name.sha256"; diff "$out/sums.txt" "$root/bench/expected-$name.sha256" || true; exit 1; }
  # The RSD files differ in the names they give; the rest must be equal.
  if [ -n "$plain" ]; then
    local f
    for f in ply mat cod; do
      cmp -s "$out/merged.$f" "$plain_out/merged.$f" \
        || { echo "       plain merge's merged.$f DIFFERS from zorvel's"; exit 1; }
    done
    echo "       plain merge: PLY, MAT and COD identical to zorvel's"
    rm -f "$plain_out"/merged.*
  fi
}

echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
measure small
measure large
