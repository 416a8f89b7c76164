#!/usr/bin/env bash
# Quality and speed of "zorvel-model texture" (a picture to an indexed TIM
# file) beside ImageMagick's quantiser, in the same run: on the test
# pictures bench/texture_tool.cpp makes, at 16 and 256 colours, without and
# with Floyd-Steinberg dithering. For each, the PSNR against the original
# (8-bit sRGB, over the original's opaque pixels) and the CPU time (user +
# sys of all threads, median of RUNS) of both; ImageMagick's PSNR also with its colours
# rounded to 5 bits a channel, as a TIM colour table would hold them (the
# comparison that counts: ours are held to that lattice).
#
#   bench/texture.sh [RUNS]      (default 3)
#
# Writes to bench/data/texture/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
bash scripts/setup.sh cmake g++ make libpng-dev libstb-dev libwebp-dev pkgconf nlohmann-json3-dev libtinygltf-dev \
  imagemagick linux-perf
root=$(pwd)
out=$root/bench/data/texture
build=$root/build-bench-texture
mkdir -p "$out/images" "$out/made"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZORVEL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target zorvel-model >/dev/null
g++ -std=c++20 -O2 -o "$out/texture_tool" bench/texture_tool.cpp -lstb
"$out/texture_tool" make "$out/images"
model=$build/zorvel-model

# CPU seconds (user + sys of all its threads, perf's task clock) of a
# command, its output thrown away.
cpu() {
  perf stat -x, -e task-clock -o "$out/time.txt" -- "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  awk -F, '$3 == "task-clock" || $3 ~ /^task-clock/ {printf "%.4f\n", $1 / 1000}' "$out/time.txt"
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

printf '%-24s %6s %6s | %7s %7s %7s | %7s %7s\n' picture colours dither "ours dB" "IM dB" "IM 555" "ours s" "IM s"
rows=$out/rows.txt
: >"$rows"
for picture in "$out"/images/*.png; do
  name=$(basename "$picture" .png)
  for colours in 16 256; do
    bits=$([ "$colours" = 16 ] && echo 4 || echo 8)
    for dither in no yes; do
      ours=(texture "$picture" -o "$out/made/ours.tim" --bits "$bits")
      theirs=(-dither None)
      [ "$dither" = yes ] && ours+=(--dither) && theirs=(-dither FloydSteinberg)
      ourTimes=() theirTimes=()
      # Taking turns, so that both see the same load.
      for ((i = 0; i < runs; i++)); do
        ourTimes+=("$(cpu "$model" "${ours[@]}")")
        theirTimes+=("$(cpu convert "$picture" "${theirs[@]}" -colors "$colours" "$out/made/theirs.png")")
      done
      "$model" texture "$out/made/ours.tim" -o "$out/made/ours.png"
      ourDb=$("$out/texture_tool" psnr "$picture" "$out/made/ours.png")
      theirDb=$("$out/texture_tool" psnr "$picture" "$out/made/theirs.png")
      lattice=$("$out/texture_tool" psnr "$picture" "$out/made/theirs.png" --555)
      ourTime=$(printf '%s\n' "${ourTimes[@]}" | median)
      theirTime=$(printf '%s\n' "${theirTimes[@]}" | median)
      printf '%-24s %6s %6s | %7s %7s %7s | %7.4f %7.4f\n' "$name" "$colours" "$dither" "$ourDb" "$theirDb" "$lattice" \
        "$ourTime" "$theirTime"
      echo "$ourDb $theirDb $lattice $ourTime $theirTime" >>"$rows"
    done
  done
done
awk '{n++; o += $1; t += $2; l += $3; d = $1 - $3; if (n == 1 || d < worst) worst = d
      if ($4 < $5) faster++; r = $5 / ($4 > 0 ? $4 : 0.001); if (n == 1 || r < least) least = r}
  END {printf "mean PSNR: ours %.2f dB, ImageMagick %.2f dB (%.2f dB rounded to 5-5-5); worst ours - IM 555: %+.2f dB\n", o / n, t / n, l / n, worst
       printf "faster in %d of %d runs; the least ratio of ImageMagick'"'"'s CPU time to ours: %.1f\n", faster, n, least}' "$rows"
