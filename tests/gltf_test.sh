#!/usr/bin/env bash
# Exports with zorvel-model and has the Khronos glTF-Validator check every
# file: the example models one by one and together, their merges, every
# export that the end-to-end cases keep, a merge of generated models, and
# every model, input or merged, of the zorvel cases that end in a merge
# (each also reported on), and a merge of imported glTF files. The box case
# is read back (its corners and every face turned outward), the normals case
# (flat, smooth, zero, any scale), the textured case (its images and
# coordinates) and the colours case (linear values worked out by hand); the
# examples are exported, imported and exported again, and exported as .gltf
# files that hold the same as the .glb ones; every display colour comes back
# from export and import as it was; glTF files with a texture transform or
# instances import as without them.
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

colours=$source/tests/model-cases/export-colours-linear-from-display-values/out/c.glb
# 65535 x lin(d / 255); lin(s) = s / 12.92 up to 0.04045, else ((s + 0.055) / 1.055)^2.4:
# 10: 198.9; 64: 0.29003^2.4 = 0.051269, 3359.9; 128: 0.52793^2.4 = 0.21586, 14146.4;
# 200: 0.79556^2.4 = 0.57758, 37851.7; D and H give lin(min(255, 2c) / 255): 10 as 20,
# 0.12648^2.4 = 0.0069954, 458.4; 127 as 254, 0.99628^2.4 = 0.99110, 64951.9; 128 and above as 255.
$check colours "$colours" 0,199,3360 14146,37852,65535 65535,0,14146 0,458,14146 65535,65535,65535 458,14146,0 \
  14146,64952,458 || fail "colours as linear values"

# .gltf: the JSON, its buffer and images beside it (a blank and a % in their
# names, %20 and %25 in URIs), the same as the .glb.
export_in "$work/ex" "the 100% examples.gltf" car.rsd wheel.rsd seat.rsd
[ -f "$work/the 100% examples.bin" ] && [ -f "$work/the 100% examples-2.png" ] && [ ! -e "$work/the 100% examples-3.png" ] ||
  fail "the .gltf export's files"
$check same "$work/the 100% examples.gltf" "$work/examples.glb" || fail "the .gltf export differs from the .glb"

# Every display byte, exported and imported: C and G colours 0..255, D and
# H colours 0..127 (above, they saturate in glTF).
mkdir "$work/all"
python3 "$source/tests/tim_writer.py" "$work/all/c.tim" --bits 16 001F,03E0 7C00,7FFF
python3 - "$work/all" <<'EOF' || fail "generating the model of every colour"
import sys
lines = [f"C {3 * i % 256} {(3 * i + 1) % 256} {(3 * i + 2) % 256}" for i in range(86)]
lines += ["G " + " ".join(str((9 * i + k) % 256) for k in range(9)) + " 0 0 0" for i in range(29)]
lines += [f"D 0 0 0 1 0 0 1 0 0 {3 * i % 128} {(3 * i + 1) % 128} {(3 * i + 2) % 128}" for i in range(43)]
lines += ["H 0 0 0 1 0 0 1 0 0 " + " ".join(str((9 * i + k) % 128) for k in range(9)) + " 0 0 0" for i in range(15)]
with open(sys.argv[1] + "/all.ply", "w") as ply:
    ply.write(f"@PLY940102\n3 0 {len(lines)}\n0 0 0\n1 0 0\n0 1 0\n" + "0 0 1 2 0 0 0 0 0\n" * len(lines))
with open(sys.argv[1] + "/all.mat", "w") as mat:
    mat.write(f"@MAT940801\n{len(lines)}\n" + "".join(f"{n} 0 F {l}\n" for n, l in enumerate(lines)))
with open(sys.argv[1] + "/all.rsd", "w") as rsd:
    rsd.write("@RSD940102\nPLY=all.ply\nMAT=all.mat\nNTEX=1\nTEX[0]=c.tim\n")
EOF
(cd "$work/all" && "$model" export all.rsd -o all.glb && "$model" import all.glb -o back --triangles) || fail "export and import of every colour"
python3 - "$work/all" <<'EOF' || fail "a display colour changed in export and import"
import sys
def colours(name):
    """Each polygon's type and its corners' colours, in order."""
    found = []
    for line in open(f"{sys.argv[1]}/{name}").read().split("\n")[2:]:
        w = line.split()
        if len(w) < 4 or not w[0][0].isdigit():
            continue
        kind, n = w[3], [int(v) for v in w[4:]]
        n = {"C": n * 3, "G": n, "D": n[9:] * 3, "H": n[9:]}[kind][:9]
        found.append((kind, tuple(sorted(tuple(n[k:k + 3]) for k in range(0, 9, 3)))))
    return sorted(found)
a, b = colours("all.mat"), colours("back.mat")
bad = [(x, y) for x, y in zip(a, b) if x != y]
print(f"{len(a)} polygons, {len(b)} back; first differing: {bad[:1]}" if bad or len(a) != len(b) else f"{len(a)} polygons, every colour back as it was")
sys.exit(1 if bad or len(a) != len(b) else 0)
EOF

$check validate "$work"/*.glb "$work"/*.gltf "$source"/tests/model-cases/*/out/*.glb || fail "the validator's verdict"
finish "in the glTF exports" "$(ls "$work"/*.glb "$work"/*.gltf | wc -l) exports valid, without warnings ($exports of the zorvel cases' models); the box is whole and turned outward; textures as their files give them; 6 examples the same after import; texture transforms and instances as written without them"
