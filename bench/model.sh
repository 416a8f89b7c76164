#!/usr/bin/env bash
# Times zorvel-model on the large benchmark set merged by zorvel, beside the
# merge itself, measured in the same run: info, export and render --size
# 1024, import of the export and of the export compressed with meshopt by
# gltfpack, each as a ratio to zorvel's merge time (medians), with peak
# memory (imports' also as a ratio to the uncompressed .glb's size).
#
#   bench/model.sh [RUNS]      (default 5 runs of each)
#
# Uses bench/data/large as bench/run.sh generates it (generated here when
# missing); writes its own outputs to bench/data/out-model/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
root=$(pwd)
gen=${GENMODELS:-$root/../shared/bench/genmodels.py}
data=$root/bench/data
out=$data/out-model
build=$root/build-bench-model

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target zorvel zorvel-model >/dev/null
if [ ! -f "$data/large/list.txt" ]; then
  echo "generating the large set..."
  mkdir -p "$data/large"
  python3 "$gen" "$data/large" --models 20 --vertices 500000 --normals 25000 --polygons 62500 --textures 8 \
    --seed 1 --jobs 2 >/dev/null
fi
mkdir -p "$out"

# Runs a command in a folder under /usr/bin/time; prints "wall peak-MiB".
timed() {  # folder, command...
  local dir=$1; shift
  local start=$EPOCHREALTIME
  (cd "$dir" && /usr/bin/time -v "$@" >/dev/null 2>"$out/time.txt") \
    || { echo "failed: $*" >&2; cat "$out/time.txt" >&2; exit 1; }
  awk -F': ' -v a="$start" -v b="$EPOCHREALTIME" '/Maximum resident set size/ {m = $2}
    END {printf "%.3f %.1f\n", b - a, m / 1024}' "$out/time.txt"
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

model=$build/zorvel-model
declare -A wall peak
steps=(merge info export render import import-meshopt)
rm -f "$out/merged-meshopt.glb"
# The steps take turns, so that all of them see the same load.
for ((i = 0; i < runs; i++)); do
  for step in "${steps[@]}"; do
    case $step in
      merge) rm -f "$out"/merged.*; result=$(timed "$data/large" "$build/zorvel" -o ../out-model/merged -bat list.txt) ;;
      info) result=$(timed "$out" "$model" info merged.rsd) ;;
      export) result=$(timed "$out" "$model" export merged.rsd -o merged.glb) ;;
      render) result=$(timed "$out" "$model" render merged.rsd -o merged.png --size 1024) ;;
      import) result=$(timed "$out" "$model" import merged.glb -o imported) ;;
      import-meshopt)
        [ -f "$out/merged-meshopt.glb" ] || gltfpack -i "$out/merged.glb" -o "$out/merged-meshopt.glb" -c >/dev/null
        result=$(timed "$out" "$model" import merged-meshopt.glb -o imported-meshopt) ;;
    esac
    wall[$step]+="${result% *} "
    peak[$step]+="${result#* } "
  done
done

merged_mib=$(cat "$out/merged.ply" "$out/merged.mat" | wc -c | awk '{printf "%.1f", $1 / 1048576}')
merge_wall=$(tr ' ' '\n' <<<"${wall[merge]}" | grep . | median)
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
echo "large set merged by zorvel: 10 million vertices, 1.25 million polygons; merged PLY and MAT files $merged_mib MiB"
echo "$runs runs each, medians; limit: the most the issue allows, as a multiple of the merge time"
declare -A limit=([info]=1 [export]=2 [render]=1.5 [import]=3 [import-meshopt]=3)
glb_mib=$(wc -c <"$out/merged.glb" | awk '{printf "%.1f", $1 / 1048576}')
for step in "${steps[@]}"; do
  w=$(tr ' ' '\n' <<<"${wall[$step]}" | grep . | median)
  m=$(tr ' ' '\n' <<<"${peak[$step]}" | grep . | median)
  label=$step
  [ "$step" = render ] && label="render 1024"
  awk -v s="$label" -v w="$w" -v m="$m" -v base="$merge_wall" -v lim="${limit[$step]:-}" -v f="$merged_mib" -v g="$glb_mib" 'BEGIN {
    line = sprintf("  %-14s wall %7.3f s   peak %7.1f MiB (%.2f x the merged files)", s, w, m, m / f)
    if (lim != "") line = line sprintf("   %.2f x merge (limit %s): %s", w / base, lim, w / base <= lim ? "ok" : "OVER")
    if (s ~ /^import/) line = line sprintf("\n  %14s peak %.2f x the %.1f MiB .glb (limit 2): %s", "", m / g, g, m / g <= 2 ? "ok" : "OVER")
    print line
  }'
done
