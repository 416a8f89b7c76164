// Made examples/crate.glb once, with an independent glTF writer
// (@gltf-transform/core, which scripts/setup.sh --validator installs into
// build-tools/): a wooden crate standing beside the car, each face showing
// a 16 x 16 PNG texture with an arrow that points up.
//
//   node examples/make-crate.js examples/crate.glb
'use strict';
const fs = require('fs');
const path = require('path');
const {png} = require(path.join(__dirname, '..', 'tests', 'png_writer.js'));
const {Document, NodeIO} = require(path.join(__dirname, '..', 'build-tools', 'gltf-transform', 'node_modules', '@gltf-transform/core'));

// The texture: a dark rim, boards, and a light arrow up the middle.
const SIZE = 16, pixels = [];
for (let y = 0; y < SIZE; y++) for (let x = 0; x < SIZE; x++) {
  const rim = x === 0 || y === 0 || x === SIZE - 1 || y === SIZE - 1;
  const head = y >= 2 && y < 8 && Math.abs(x - 7.5) < y - 1;
  const shaft = y >= 8 && y < 14 && x >= 6 && x < 10;
  pixels.push(...(rim ? [90, 60, 30] : head || shaft ? [240, 220, 160] : y % 5 === 0 ? [120, 80, 40] : [160, 110, 60]), 255);
}
// A 60-unit cube on the ground (y = -50, where the car's wheels stand),
// right of the car; each face four corners of its own, counter-clockwise
// from outside, the texture upright on the sides.
const doc = new Document();
const buffer = doc.createBuffer();
const position = [], normal = [], uv = [], indices = [];
const faces = [  // outward normal, then the face's right and up directions
  [[0, 0, 1], [1, 0, 0], [0, 1, 0]], [[0, 0, -1], [-1, 0, 0], [0, 1, 0]],
  [[1, 0, 0], [0, 0, -1], [0, 1, 0]], [[-1, 0, 0], [0, 0, 1], [0, 1, 0]],
  [[0, 1, 0], [1, 0, 0], [0, 0, -1]], [[0, -1, 0], [1, 0, 0], [0, 0, 1]],
];
const centre = [150, -20, 0], half = 30;
for (const [n, right, up] of faces) {
  const first = position.length / 3;
  for (const [s, t] of [[-1, -1], [1, -1], [1, 1], [-1, 1]]) {
    position.push(...[0, 1, 2].map((k) => centre[k] + half * (n[k] + s * right[k] + t * up[k])));
    normal.push(...n);
    uv.push((s + 1) / 2, (1 - t) / 2);
  }
  indices.push(first, first + 1, first + 2, first, first + 2, first + 3);
}
const accessor = (type, array) => doc.createAccessor().setType(type).setArray(array).setBuffer(buffer);
const texture = doc.createTexture().setImage(png(SIZE, pixels)).setMimeType('image/png');
const primitive = doc.createPrimitive()
  .setAttribute('POSITION', accessor('VEC3', new Float32Array(position)))
  .setAttribute('NORMAL', accessor('VEC3', new Float32Array(normal)))
  .setAttribute('TEXCOORD_0', accessor('VEC2', new Float32Array(uv)))
  .setIndices(accessor('SCALAR', new Uint16Array(indices)))
  .setMaterial(doc.createMaterial('wood').setBaseColorTexture(texture));
const scene = doc.createScene().addChild(doc.createNode('crate').setMesh(doc.createMesh('crate').addPrimitive(primitive)));
doc.getRoot().setDefaultScene(scene);
new NodeIO().writeBinary(doc).then((bytes) => fs.writeFileSync(process.argv[2], bytes));
