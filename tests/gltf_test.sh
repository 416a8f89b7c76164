#!/usr/bin/env bash
# Exports with zorvel-model and has the Khronos glTF-Validator check every
# file: the example models one by one and together, their merges, every
# export that the end-to-end cases keep, a merge of generated models, and
# every model, input or merged, of the zorvel cases that end in a merge
# (each also reported on), and a merge of imported glTF files. The box case
# is read back (its corners and every face turned outward), the normals case
# (flat, smooth, zero, any scale) and the textured case (its images and
# coordinates); the examples are exported, imported and exported again;
# glTF files with a texture transform or instances import as without them.
#
#   gltf_test.sh ZORVEL ZORVEL_MODEL SOURCE_DIR VALIDATOR_DIR
source "$(dirname "$0")/common.sh"
zorvel=$1 model=$2 source=$3 validator=$4
check="node $source/tests/check_glb.js $validator"
[ -d "$validator/node_modules/gltf-validator" ] || { echo "FAIL: no validator in $validator (scripts/setup.sh --validator)"; exit 1; }

export_in() {  # DIR OUTPUT MODEL...: zorvel-model export, run in DIR
  local dir=$1 output=$2
  shift 2
  (cd "$dir" && "$model" export "$@" -o "$work/$output") || fail "export $* in $dir"
}

cp -R "$source/examples" "$work/ex"
for m in car wheel seat; do export_in "$work/ex" "$m.glb" "$m.rsd"; done
export_in "$work/ex" examples.glb car.rsd wheel.rsd seat.rsd
(cd "$work/ex" && "$zorvel" -o groups -ogp -bat models.txt >/dev/null && "$zorvel" -o ranges -bat models.txt >/dev/null) \
  || fail "merging the examples"
export_in "$work/ex" merged-groups.glb groups.rsd
export_in "$work/ex" merged-ranges.glb ranges.rsd

gen=$source/../shared/bench/genmodels.py
if [ -f "$gen" ]; then
  python3 "$gen" "$work/gen" --models 3 --vertices 3000 --normals 200 --polygons 700 --textures 4 --seed 7 >/dev/null
  (cd "$work/gen" && "$zorvel" -o merged -ogp -bat list.txt >/dev/null) || fail "merging the generated models"
  export_in "$work/gen" generated.glb merged.rsd
else
  echo "note: $gen not found; the generated model is not exported"
fi

exports=0
for case in "$source"/tests/cases/*/; do
  name=$(basename "$case")
  [ "$(cat "$case/status")" = 0 ] && [ ! -e "$case/setup" ] || continue
  mkdir -p "$work/cases/$name"
  cp -R "$case/in/." "$work/cases/$name" 2>/dev/null || true
  [ -d "$case/out" ] && cp -R "$case/out/." "$work/cases/$name"
  for rsd in "$work/cases/$name"/*; do
    [[ -f $rsd && $(awk 'NF && $1 !~ /^#/ {print; exit}' "$rsd" | tr -d '\0') == @RSD* ]] || continue
    (cd "$work/cases/$name" && "$model" info "${rsd##*/}" >/dev/null) || fail "info ${rsd##*/} of case $name"
    exports=$((exports + 1))
    export_in "$work/cases/$name" "case-$exports.glb" "${rsd##*/}"
  done
done

# Export, import, export again: the same triangles. Then glTF files of the
# independent writer imported, merged by zorvel and exported.
(cd "$work/ex" && "$model" import crate.glb -o crate) || fail "import of the crate"
export_in "$work/ex" crate.glb crate.rsd
for m in car wheel seat examples merged-groups crate; do
  (cd "$work/ex" && "$model" import "$work/$m.glb" -o "back-$m" && "$model" export "back-$m.rsd" -o "$work/back-$m.glb") \
    || fail "import of $m.glb"
  $check same "$work/$m.glb" "$work/back-$m.glb" || fail "$m exported, imported and exported again"
done
mkdir "$work/imported"
for scene in transforms primitives materials jpeg details repeat wraps instanced; do
  (cd "$work/imported" && node "$source/tests/make_gltf.js" $scene $scene.gltf && "$model" import $scene.gltf -o $scene 2>/dev/null) \
    || fail "import of the $scene scene"
done
(cd "$work/imported" && "$zorvel" -o merged transforms.rsd primitives.rsd materials.rsd jpeg.rsd details.rsd repeat.rsd \
  wraps.rsd instanced.rsd >/dev/null) || fail "merging imports"
# A texture transform or instances import to the same files as the same
# scene written without the extension.
for scene in repeat instanced; do
  for form in with plain; do
    mkdir -p "$work/plain/$scene-$form"
    (cd "$work/plain/$scene-$form" && node "$source/tests/make_gltf.js" $scene ../$scene-$form.glb $form &&
      "$model" import ../$scene-$form.glb -o model) || fail "import of the $scene scene, $form"
  done
  diff -r "$work/plain/$scene-with" "$work/plain/$scene-plain" || fail "the $scene scene imports otherwise without its extension"
done
export_in "$work/imported" merged-imports.glb merged.rsd

cube=$source/tests/model-cases/export-cube-faces-outward/in
export_in "$cube" box.glb cube.rsd
$check box "$work/box.glb" 1 2 3 2 4 7 12 || fail "the box read back"

normals=$source/tests/model-cases/export-normals-at-any-scale/out/normals.glb
$check normals "$normals" tiny 1 0 0 far 0 -1 0 flat 1 0 0 smooth radial zero 0.57735027 -0.57735027 -0.57735027 ||
  fail "normals: at any scale, flat, smooth, zero or not a number"

textured=$source/tests/model-cases/export-textures-coordinates-colours-alpha
mkdir "$work/tim" && (cd "$work/tim" && sh "$textured/setup") || fail "making the textured case's images"
$check textures "$textured/out/t.glb" "$work/tim" 3 || fail "the textures read back"

$check validate "$work"/*.glb "$source"/tests/model-cases/*/out/*.glb || fail "the validator's verdict"
finish "in the glTF exports" "$(ls "$work"/*.glb | wc -l) exports valid, without warnings ($exports of the zorvel cases' models); the box is whole and turned outward; textures as their files give them; 6 examples the same after import; texture transforms and instances as written without them"
