// Checks glTF binary files with the Khronos glTF-Validator, and reads a box
// back to check that export kept its shape and turned every face outward.
//
//   node check_glb.js VALIDATOR_DIR validate FILE...   no error, no warning
//   node check_glb.js VALIDATOR_DIR box FILE X0 Y0 Z0 X1 Y1 Z1 TRIANGLES
//     the box from (X0,Y0,Z0) to (X1,Y1,Z1) in the models' axes (Y down, Z
//     away from the viewer), as TRIANGLES triangles
//   node check_glb.js VALIDATOR_DIR normals FILE MESH X Y Z|radial [MESH ...]...
//     every normal of each mesh named is the unit vector (X, Y, Z), or with
//     "radial" the unit vector along its vertex's position
'use strict';
const fs = require('fs');
const [validatorDir, mode, file, ...rest] = process.argv.slice(2);
const fail = (why) => { console.error(`${file}: ${why}`); process.exit(1); };

async function validate(files) {
  const validator = require(`${validatorDir}/node_modules/gltf-validator`);
  let bad = 0;
  for (const f of files) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(f)), {uri: f, maxIssues: 20});
    const {numErrors, numWarnings, messages} = report.issues;
    console.log(`${f}: ${numErrors} errors, ${numWarnings} warnings`);
    for (const m of messages.filter((m) => m.severity <= 1)) console.log(`  ${m.code} ${m.pointer || ''}: ${m.message}`);
    if (numErrors || numWarnings) bad++;
  }
  process.exit(bad ? 1 : 0);
}

// The JSON chunk and a reader of accessor elements.
function readGlb(path) {
  const b = fs.readFileSync(path);
  if (b.readUInt32LE(0) !== 0x46546c67 || b.readUInt32LE(8) !== b.length) fail('not a glTF binary file');
  const jsonLength = b.readUInt32LE(12);
  const gltf = JSON.parse(b.subarray(20, 20 + jsonLength).toString());
  const bin = b.subarray(20 + jsonLength + 8);
  const element = (index, i) => {
    const a = gltf.accessors[index], v = gltf.bufferViews[a.bufferView];
    const size = {SCALAR: 1, VEC3: 3, VEC4: 4}[a.type];
    const bytes = {5126: 4, 5125: 4, 5121: 1}[a.componentType];
    const at = (v.byteOffset || 0) + (a.byteOffset || 0) + i * (v.byteStride || size * bytes);
    const read = {5126: (o) => bin.readFloatLE(o), 5125: (o) => bin.readUInt32LE(o), 5121: (o) => bin[o]}[a.componentType];
    return Array.from({length: size}, (_, k) => read(at + k * bytes));
  };
  return {gltf, element};
}

function box(path, corners, triangles) {
  const {gltf, element} = readGlb(path);
  const [x0, y0, z0, x1, y1, z1] = corners.map(Number);
  // glTF has Y up and Z towards the viewer.
  const xs = [x0, x1], ys = [-y0, -y1], zs = [-z0, -z1];
  const centre = [(xs[0] + xs[1]) / 2, (ys[0] + ys[1]) / 2, (zs[0] + zs[1]) / 2];
  const sub = (a, b) => a.map((v, k) => v - b[k]);
  const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
  let count = 0;
  const seen = new Set();
  for (const mesh of gltf.meshes) for (const p of mesh.primitives) {
    const n = gltf.accessors[p.indices].count;
    for (let t = 0; t < n; t += 3) {
      const index = [0, 1, 2].map((k) => element(p.indices, t + k)[0]);
      const pos = index.map((i) => element(p.attributes.POSITION, i));
      for (const q of pos) {
        if (!xs.includes(q[0]) || !ys.includes(q[1]) || !zs.includes(q[2])) fail(`position ${q} is no corner of the box`);
        seen.add(q.join());
      }
      const mid = pos.reduce((s, q) => s.map((v, k) => v + q[k] / 3), [0, 0, 0]);
      const outward = sub(mid, centre);
      const winding = cross(sub(pos[1], pos[0]), sub(pos[2], pos[0]));
      if (!(dot(winding, outward) > 0)) fail(`triangle ${index} (${pos.join(' | ')}) faces inward`);
      for (const i of index) {
        const normal = element(p.attributes.NORMAL, i);
        if (Math.abs(dot(normal, normal) - 1) > 1e-5 || !(dot(normal, outward) > 0)) fail(`normal ${normal} of vertex ${i} is not a unit vector pointing out`);
      }
      count++;
    }
  }
  if (count !== Number(triangles)) fail(`${count} triangles, expected ${triangles}`);
  if (seen.size !== 8) fail(`${seen.size} distinct corners, expected 8`);
  console.log(`${path}: ${count} triangles on the 8 corners of the box, every face outward`);
}

function normals(path, expected) {
  const {gltf, element} = readGlb(path);
  for (let i = 0; i < expected.length;) {
    const name = expected[i], radial = expected[i + 1] === 'radial', given = expected.slice(i + 1, i + 4).map(Number);
    i += radial ? 2 : 4;
    const mesh = gltf.meshes.find((m) => m.name === name) || fail(`no mesh ${name}`);
    const {NORMAL: accessor, POSITION: position} = mesh.primitives[0].attributes;
    for (let v = 0; v < gltf.accessors[accessor].count; v++) {
      const n = element(accessor, v), p = element(position, v);
      const want = radial ? p.map((c) => c / Math.hypot(...p)) : given;
      if (n.some((c, k) => !(Math.abs(c - want[k]) <= 1e-6))) fail(`mesh ${name}: normal ${n}, expected ${want}`);
    }
  }
  console.log(`${path}: every normal as expected`);
}

if (mode === 'validate') validate([file, ...rest]);
else if (mode === 'box') box(file, rest.slice(0, 6), rest[6]);
else if (mode === 'normals') normals(file, rest);
else fail(`unknown mode ${mode}`);
