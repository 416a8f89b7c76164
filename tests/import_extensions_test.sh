#!/usr/bin/env bash
# One scene written plainly and with each extension that import decodes
# (Draco, meshopt with its filters, by the independent writer and by
# gltfpack; specular-glossiness; a WebP image): every file must import to
# the same triangles, colours, texels and images (same_triangles.py).
# ZORVEL_WRAPPER, as for the end-to-end cases, goes in front of the tool
# where it decodes, so that scripts/memcheck.sh runs the decoders under
# valgrind.
#
#   import_extensions_test.sh ZORVEL_MODEL SOURCE_DIR
source "$(dirname "$0")/common.sh"
model=$1 source=$2
read -r -a wrapper <<<"${ZORVEL_WRAPPER:-}"
cd "$work"

for variant in plain untextured draco meshopt specgloss webp; do
  node "$source/tests/make_compressed.js" $variant $variant.glb || fail "writing the $variant file"
done
# gltfpack's quantised texture coordinates need a texture transform: its
# quantised file is of the untextured scene.
gltfpack -i untextured.glb -o gltfpack-cc.glb -cc >/dev/null || fail "gltfpack -cc"
# Its JSON form names a buffer of no bytes for loaders without the decoder.
gltfpack -i plain.glb -o gltfpack-noq.gltf -c -noq >/dev/null || fail "gltfpack -c -noq"

# Each file holds what it stands for, or the comparison proves nothing.
holds() {  # FILE TEXT...
  local file=$1 text
  shift
  for text; do grep -qa "$text" "$file" || fail "$file does not hold $text"; done
}
holds draco.glb KHR_draco_mesh_compression
holds meshopt.glb EXT_meshopt_compression OCTAHEDRAL TRIANGLES
holds gltfpack-cc.glb EXT_meshopt_compression OCTAHEDRAL KHR_mesh_quantization
holds gltfpack-noq.gltf EXT_meshopt_compression fallback
holds specgloss.glb KHR_materials_pbrSpecularGlossiness
holds webp.glb EXT_texture_webp WEBP

# Under a wrapper, only the imports that run a decoder of their own: valgrind is slow.
for file in *.glb *.gltf; do
  run=("$model")
  case $file in draco.glb | meshopt.glb | gltfpack-cc.glb | webp.glb) run=("${wrapper[@]}" "$model") ;; esac
  "${run[@]}" import "$file" -o "${file%.*}" --triangles 2>"$file.err" || { fail "import of $file"; cat "$file.err"; }
done
python3 "$source/tests/same_triangles.py" 0.25 plain.rsd draco.rsd meshopt.rsd gltfpack-noq.rsd specgloss.rsd webp.rsd \
  || fail "the textured scene"
python3 "$source/tests/same_triangles.py" 0.25 untextured.rsd gltfpack-cc.rsd || fail "the untextured scene"
finish "in the imports of compressed and extended files" "6 files with extensions draw what the plain ones do"
