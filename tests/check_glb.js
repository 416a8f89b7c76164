// Checks glTF files (.glb, or .gltf with its files beside it) with the
// Khronos glTF-Validator, and reads back a box (its shape, every face
// outward), normals, textures and colours.
//
//   node check_glb.js VALIDATOR_DIR validate FILE...   no error, no warning
//   node check_glb.js VALIDATOR_DIR box FILE X0 Y0 Z0 X1 Y1 Z1 TRIANGLES
//     the box from (X0,Y0,Z0) to (X1,Y1,Z1) in the models' axes (Y down, Z
//     away from the viewer), as TRIANGLES triangles
//   node check_glb.js VALIDATOR_DIR normals FILE MESH X Y Z|radial [MESH ...]...
//     every normal of each mesh named is the unit vector (X, Y, Z), or with
//     "radial" the unit vector along its vertex's position
//   node check_glb.js VALIDATOR_DIR textures FILE DIR PRIMITIVES
//     each textured primitive (PRIMITIVES of them) shows the pixels of the TIM
//     file in DIR its material names, and its corners' x and y are their
//     texture coordinates times the image's size (as the test model lays them)
//   node check_glb.js VALIDATOR_DIR same FILE OTHER
//     both draw the same triangles: corners in the same order with the same
//     position, normal, colour and texture coordinates, and the same
//     material (flags, alpha mode, the texture's decoded pixels)
//   node check_glb.js VALIDATOR_DIR colours FILE R,G,B...
//     the distinct COLOR_0 values, as normalised 16-bit numbers (alpha 1),
//     are exactly these
'use strict';
const fs = require('fs');
const [validatorDir, mode, file, ...rest] = process.argv.slice(2);
const fail = (why) => { console.error(`${file}: ${why}`); process.exit(1); };

async function validate(files) {
  const validator = require(`${validatorDir}/node_modules/gltf-validator`);
  let bad = 0;
  for (const f of files) {
    // A .gltf file's buffer and images are read from its folder.
    const externalResourceFunction = (uri) =>
      Promise.resolve(new Uint8Array(fs.readFileSync(require('path').join(require('path').dirname(f), decodeURIComponent(uri)))));
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(f)), {uri: f, maxIssues: 20, externalResourceFunction});
    const {numErrors, numWarnings, messages} = report.issues;
    console.log(`${f}: ${numErrors} errors, ${numWarnings} warnings`);
    for (const m of messages.filter((m) => m.severity <= 1)) console.log(`  ${m.code} ${m.pointer || ''}: ${m.message}`);
    if (numErrors || numWarnings) bad++;
  }
  process.exit(bad ? 1 : 0);
}

// The JSON, a reader of accessor elements and the bytes of each image: from
// a glTF binary file, or a .gltf file and the files it names beside it.
function readGlb(path) {
  const b = fs.readFileSync(path);
  let gltf, bin;
  const beside = (uri) => fs.readFileSync(require('path').join(require('path').dirname(path), decodeURIComponent(uri)));
  if (path.endsWith('.gltf')) {
    gltf = JSON.parse(b.toString());
    bin = gltf.buffers ? beside(gltf.buffers[0].uri) : Buffer.alloc(0);
  } else {
    if (b.readUInt32LE(0) !== 0x46546c67 || b.readUInt32LE(8) !== b.length) fail('not a glTF binary file');
    const jsonLength = b.readUInt32LE(12);
    gltf = JSON.parse(b.subarray(20, 20 + jsonLength).toString());
    bin = b.subarray(20 + jsonLength + 8);
  }
  const image = (i) => {
    const {uri, bufferView} = gltf.images[i];
    if (uri) return beside(uri);
    const v = gltf.bufferViews[bufferView];
    return bin.subarray(v.byteOffset || 0, (v.byteOffset || 0) + v.byteLength);
  };
  const element = (index, i) => {
    const a = gltf.accessors[index], v = gltf.bufferViews[a.bufferView];
    const size = {SCALAR: 1, VEC2: 2, VEC3: 3, VEC4: 4}[a.type];
    const bytes = {5126: 4, 5125: 4, 5123: 2, 5121: 1}[a.componentType];
    const at = (v.byteOffset || 0) + (a.byteOffset || 0) + i * (v.byteStride || size * bytes);
    const read = {5126: (o) => bin.readFloatLE(o), 5125: (o) => bin.readUInt32LE(o), 5123: (o) => bin.readUInt16LE(o), 5121: (o) => bin[o]}[a.componentType];
    return Array.from({length: size}, (_, k) => read(at + k * bytes));
  };
  return {gltf, element, image};
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

// The pixels of an 8-bit RGBA PNG image as export writes it: rows filtered
// by none, Sub or Up.
function readPng(bytes) {
  const chunks = {IDAT: []};
  for (let at = 8, n; at < bytes.length; at += 12 + n) {
    n = bytes.readUInt32BE(at);
    (chunks[bytes.toString('latin1', at + 4, at + 8)] ||= []).push(bytes.subarray(at + 8, at + 8 + n));
  }
  const head = chunks.IHDR[0], width = head.readUInt32BE(0), stride = 4 * width;
  if (head.readUInt16BE(8) !== 0x0806 || head[12]) fail('the image is not 8-bit RGBA without interlacing');
  const raw = require('zlib').inflateSync(Buffer.concat(chunks.IDAT)), out = Buffer.alloc(head.readUInt32BE(4) * stride);
  for (let i = 0, y = 0; i < out.length; i++, y = Math.floor(i / stride)) {
    const filter = raw[y * (stride + 1)];
    if (filter > 2) fail(`filter ${filter}`);
    out[i] = raw[i + y + 1] + [0, i % stride >= 4 ? out[i - 4] : 0, y ? out[i - stride] : 0][filter];
  }
  return {width, height: out.length / stride, pixel: (x, y) => [...out.subarray(4 * (y * width + x), 4 * (y * width + x) + 4)]};
}

// The pixels of a TIM file of 4, 8 or 16 bits, read from its layout alone:
// indexed ones through colour table 0; 0x0000 is transparent.
function readTim(path) {
  const b = fs.readFileSync(path), flags = b.readUInt32LE(4), bits = [4, 8, 16][flags & 7];
  const colours = flags & 8 ? b.readUInt16LE(16) : 0, image = flags & 8 ? 8 + b.readUInt32LE(8) : 8;
  const words = b.readUInt16LE(image + 8), row = (y) => image + 12 + 2 * words * y;
  const colour = (c) => (c ? [c, c >> 5, c >> 10].map((f) => ((f & 31) << 3) | ((f & 31) >> 2)).concat(255) : [0, 0, 0, 0]);
  const entry = (index) => (index < colours ? colour(b.readUInt16LE(20 + 2 * index)) : [0, 0, 0, 0]);
  const pixel = (x, y) => bits === 16 ? colour(b.readUInt16LE(row(y) + 2 * x))
    : entry(bits === 8 ? b[row(y) + x] : (b[row(y) + (x >> 1)] >> (4 * (x & 1))) & 15);
  return {width: (words * 16) / bits, height: b.readUInt16LE(image + 10), pixel};
}

function textures(path, dir, primitives) {
  const {gltf, element, image} = readGlb(path);
  let count = 0;
  for (const p of gltf.meshes.flatMap((m) => m.primitives)) {
    const material = gltf.materials[p.material], texture = material.pbrMetallicRoughness.baseColorTexture;
    if (!texture) continue;
    const name = material.extras.texture, tim = readTim(`${dir}/${name}`);
    const png = readPng(image(gltf.textures[texture.index].source));
    if (png.width !== tim.width || png.height !== tim.height) fail(`${name}: image ${png.width}x${png.height}`);
    for (let y = 0; y < tim.height; y++) for (let x = 0; x < tim.width; x++)
      if (`${png.pixel(x, y)}` !== `${tim.pixel(x, y)}`) fail(`${name}: pixel ${x} ${y} is ${png.pixel(x, y)}, not ${tim.pixel(x, y)}`);
    for (let k = 0; k < gltf.accessors[p.indices].count; k++) {
      const i = element(p.indices, k)[0], [s, t] = element(p.attributes.TEXCOORD_0, i), [x, y] = element(p.attributes.POSITION, i);
      if (s * tim.width !== x || t * tim.height !== -y) fail(`${name}: texture coordinates ${s} ${t} at corner ${x} ${-y}`);
    }
    count++;
  }
  if (count !== Number(primitives)) fail(`${count} textured primitives, expected ${primitives}`);
  console.log(`${path}: ${count} textured primitives, their images and coordinates as the TIM files give them`);
}

// Every triangle of the file as text, sorted.
function triangles(path) {
  const {gltf, element, image} = readGlb(path);
  const list = [];
  for (const mesh of gltf.meshes || []) for (const p of mesh.primitives) {
    const m = gltf.materials[p.material];
    const texture = m.pbrMetallicRoughness.baseColorTexture;
    let look = `${JSON.stringify(m.extensions || {})} ${!!m.doubleSided} ${m.alphaMode || 'OPAQUE'}`;
    if (texture) {
      const png = readPng(image(gltf.textures[texture.index].source));
      for (let y = 0; y < png.height; y++) for (let x = 0; x < png.width; x++) look += ` ${png.pixel(x, y)}`;
    }
    const a = p.attributes;
    for (let t = 0; t < gltf.accessors[p.indices].count; t += 3) {
      const corners = [0, 1, 2].map((k) => {
        const i = element(p.indices, t + k)[0];
        return [a.POSITION, a.NORMAL, a.COLOR_0, a.TEXCOORD_0].map((at) => at === undefined ? '-' : element(at, i).join(' ')).join(' / ');
      });
      list.push(`${corners.join(' | ')} | ${look}`);
    }
  }
  return list.sort();
}

function same(path, other) {
  const a = triangles(path), b = triangles(other);
  const differing = a.findIndex((t, i) => t !== b[i]);
  if (a.length !== b.length || differing >= 0) fail(`${a.length} and ${b.length} triangles; first differing:\n  ${a[differing]}\n  ${b[differing]}`);
  console.log(`${path}: the same ${a.length} triangles as ${other}`);
}

function colours(path, expected) {
  const {gltf, element} = readGlb(path);
  const found = new Set();
  for (const p of gltf.meshes.flatMap((m) => m.primitives)) {
    const a = p.attributes.COLOR_0;
    if (gltf.accessors[a].componentType !== 5123 || !gltf.accessors[a].normalized) fail('COLOR_0 is not normalised 16-bit');
    for (let i = 0; i < gltf.accessors[a].count; i++) {
      const [r, g, b, alpha] = element(a, i);
      if (alpha !== 65535) fail(`alpha ${alpha}`);
      found.add(`${r},${g},${b}`);
    }
  }
  const got = [...found].sort(), want = [...new Set(expected)].sort();
  if (`${got}` !== `${want}`) fail(`colours ${got.join(' ')}, expected ${want.join(' ')}`);
  console.log(`${path}: the ${got.length} colours expected`);
}

if (mode === 'validate') validate([file, ...rest]);
else if (mode === 'box') box(file, rest.slice(0, 6), rest[6]);
else if (mode === 'normals') normals(file, rest);
else if (mode === 'textures') textures(file, rest[0], rest[1]);
else if (mode === 'same') same(file, rest[0]);
else if (mode === 'colours') colours(file, rest);
else fail(`unknown mode ${mode}`);
