// Writes the glTF files of zorvel-model's import cases with an independent
// writer, @gltf-transform/core (installed by scripts/setup.sh --validator
// into build-tools/), from data chosen here. A case's setup runs
//
//   node make_gltf.js SCENE FILE [FAULT]
//
// FILE ending in .glb is binary; .gltf is JSON with its buffers in FILE's
// .bin beside it, or with data URIs for SCENE jpeg. FAULT breaks the file:
// extension (a required extension), accessor (one overruns its view),
// nobin (the .bin not written), truncate (a .glb cut short).
'use strict';
const fs = require('fs');
const path = require('path');
const modules = path.join(__dirname, '..', 'build-tools', 'gltf-transform', 'node_modules');
const {Document, NodeIO, Primitive, VertexLayout} = require(`${modules}/@gltf-transform/core`);
const {KHRLightsPunctual, KHRMaterialsUnlit} = require(`${modules}/@gltf-transform/extensions`);
const jpeg = require(`${modules}/jpeg-js`);
const {png} = require('./png_writer.js');

const doc = new Document();
const buffer = doc.createBuffer();
const accessor = (type, array, normalized = false) =>
  doc.createAccessor().setType(type).setArray(array).setNormalized(normalized).setBuffer(buffer);
// A primitive from attribute arrays (Float32Array unless given typed).
function primitive({mode = Primitive.Mode.TRIANGLES, position, normal, colour, uv, indices, material, sparse = false}) {
  const p = doc.createPrimitive().setMode(mode).setAttribute('POSITION', accessor('VEC3', new Float32Array(position)).setSparse(sparse));
  if (normal) p.setAttribute('NORMAL', accessor('VEC3', new Float32Array(normal)));
  if (colour) p.setAttribute('COLOR_0', accessor(colour.length === position.length ? 'VEC3' : 'VEC4', colour, !(colour instanceof Float32Array)));
  if (uv) p.setAttribute('TEXCOORD_0', accessor('VEC2', uv, !(uv instanceof Float32Array)));
  if (indices) p.setIndices(accessor('SCALAR', indices));
  if (material) p.setMaterial(material);
  return p;
}
const mesh = (...primitives) => primitives.reduce((m, p) => m.addPrimitive(p), doc.createMesh());
const scene = doc.createScene();
doc.getRoot().setDefaultScene(scene);
const SQUARE = [0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0];
const UP = [0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1];

const scenes = {
  // One mesh drawn three times: moved; scaled, turned (x to y, y to z, z to
  // x) and moved below a parent; mirrored by a matrix. A triangle without
  // normals moved.
  transforms() {
    const square = mesh(primitive({position: SQUARE, normal: UP, indices: new Uint8Array([0, 1, 2, 0, 2, 3])}));
    scene.addChild(doc.createNode('moved').setMesh(square).setTranslation([10, 0, 0]));
    const parent = doc.createNode('parent').setScale([2, 2, 2]).setRotation([0.5, 0.5, 0.5, 0.5]);
    scene.addChild(parent.addChild(doc.createNode('child').setMesh(square).setTranslation([0, 0, 5])));
    scene.addChild(doc.createNode('mirrored').setMesh(square));
    const triangle = mesh(primitive({position: [0, 0, 0, 1, 0, 0, 0, 1, 0]}));
    scene.addChild(doc.createNode('triangle').setMesh(triangle).setTranslation([0, 0, 20]));
  },
  // Indexed by 16 and 32 bits and not at all; a strip bent along its
  // diagonal (two triangles, not one quadrangle), a fan, points, lines;
  // positions stored sparse (the four that are not zero). What import leaves
  // out: a skin, a morph target, an animation, a camera and a light.
  primitives() {
    const all = doc.createNode('all');
    const light = doc.createExtension(KHRLightsPunctual).createLight().setType('point');
    scene.addChild(doc.createNode('lamp').setExtension('KHR_lights_punctual', light));
    scene.addChild(doc.createNode('eye').setCamera(doc.createCamera().setType('perspective').setYFov(1).setZNear(1)));
    doc.createAnimation().addChannel(doc.createAnimationChannel().setTargetNode(all).setTargetPath('translation')
      .setSampler(doc.createAnimationSampler().setInput(accessor('SCALAR', new Float32Array([0, 1])))
        .setOutput(accessor('VEC3', new Float32Array(6)))));
    scene.addChild(all.setSkin(doc.createSkin().addJoint(doc.createNode('bone'))).setMesh(mesh(
      primitive({position: [...SQUARE, 5, 5, 0, ...new Array(12).fill(0)], normal: [...UP, ...UP.slice(0, 6), ...UP.slice(0, 9)],
                 indices: new Uint16Array([0, 1, 2, 0, 2, 3, 1, 4, 2]), sparse: true}),
      primitive({mode: Primitive.Mode.TRIANGLE_STRIP, position: [0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 1, 3], indices: new Uint32Array([0, 1, 2, 3, 3])}),
      primitive({mode: Primitive.Mode.TRIANGLE_FAN, position: [0, 0, 2, 1, 0, 2, 0, 1, 2, -1, 0, 2, 0, -1, 2],
                 colour: new Uint8Array([255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0])}),
      primitive({mode: Primitive.Mode.POINTS, position: [0, 0, 0, 1, 1, 1]})
        .addTarget(doc.createPrimitiveTarget().setAttribute('POSITION', accessor('VEC3', new Float32Array(6)))),
      primitive({mode: Primitive.Mode.LINES, position: [0, 0, 0, 1, 1, 1]}))));
  },
  // Materials: a double-sided colour; unlit, double-sided and blended with colours per
  // corner; a PNG texture with grey corners, and with coordinates outside
  // the image, and with a reddish factor; none.
  materials() {
    const unlit = doc.createExtension(KHRMaterialsUnlit);
    const red = doc.createMaterial().setBaseColorFactor([1, 0, 0, 1]).setDoubleSided(true);
    const bare = doc.createMaterial().setDoubleSided(true).setAlphaMode('BLEND').setBaseColorFactor([1, 1, 1, 0.5])
      .setExtension('KHR_materials_unlit', unlit.createUnlit());
    // Pure colours, black both opaque and transparent, and one of no pure channel.
    const pixels = [255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255,
                    0, 0, 0, 255, 0, 0, 0, 0, 8, 16, 24, 255, 255, 255, 0, 255];
    const texture = doc.createTexture().setImage(png(4, pixels)).setMimeType('image/png');
    const textured = doc.createMaterial().setBaseColorTexture(texture);
    const tinted = doc.createMaterial().setBaseColorTexture(texture).setBaseColorFactor([0.5, 1, 1, 1]);
    const triangle = [0, 0, 0, 1, 0, 0, 0, 1, 0];
    scene.addChild(doc.createNode('looks').setMesh(mesh(
      primitive({position: triangle, normal: UP.slice(0, 9), material: red}),
      primitive({position: triangle, colour: new Uint8Array([255, 0, 0, 0, 255, 0, 0, 0, 255]), material: bare}),
      primitive({position: SQUARE, indices: new Uint16Array([0, 1, 2, 0, 2, 3]), material: textured,
                 uv: new Uint16Array([0, 0, 65535, 0, 65535, 65535, 0, 65535]), colour: new Uint16Array(16).fill(32768)}),
      primitive({position: triangle, material: textured, uv: new Float32Array([-0.5, 0, 2, 0.5, 0.5, 0.5])}),
      primitive({position: triangle, material: tinted, uv: new Uint8Array([0, 0, 255, 0, 0, 128])}),
      primitive({position: triangle}))));
  },
  // A JPEG texture, red on the left, blue on the right, across a square.
  jpeg() {
    const rgba = [];
    for (let i = 0; i < 16 * 16; i++) rgba.push(...(i % 16 < 8 ? [255, 0, 0, 255] : [0, 0, 255, 255]));
    const image = jpeg.encode({data: Buffer.from(rgba), width: 16, height: 16}, 100).data;
    const texture = doc.createTexture().setImage(image).setMimeType('image/jpeg');
    scene.addChild(doc.createNode('jpeg').setMesh(mesh(primitive({position: SQUARE, normal: UP,
      indices: new Uint16Array([0, 1, 2, 0, 2, 3]), material: doc.createMaterial().setBaseColorTexture(texture),
      uv: new Float32Array([0, 1, 1, 1, 1, 0, 0, 0])}))));
  },
  // A PNG picture of 96 x 64 pixels and many colours, also written to
  // picture.png, across a square at coordinates inside it.
  picture() {
    const rgba = [];
    for (let y = 0; y < 64; y++) for (let x = 0; x < 96; x++) rgba.push(x * 255 / 95 | 0, y * 4, x * y % 256, 255);
    const image = png(96, rgba);
    fs.writeFileSync('picture.png', image);
    const texture = doc.createTexture().setImage(image).setMimeType('image/png');
    scene.addChild(doc.createNode('picture').setMesh(mesh(primitive({position: SQUARE, normal: UP,
      indices: new Uint16Array([0, 1, 2, 0, 2, 3]), material: doc.createMaterial().setBaseColorTexture(texture),
      uv: new Float32Array([0.25, 0.5, 0.75, 0.5, 0.75, 1, 0, 0.125])}))));
  },
  // Nothing but points.
  points() {
    scene.addChild(doc.createNode('points').setMesh(mesh(primitive({mode: Primitive.Mode.POINTS, position: [0, 0, 0]}))));
  },
  // A PNG image of which only the signature and header are whole.
  badimage() {
    const texture = doc.createTexture().setImage(png(4, new Array(32).fill(7)).subarray(0, 40)).setMimeType('image/png');
    scene.addChild(doc.createNode('bad').setMesh(mesh(primitive({position: SQUARE.slice(0, 9),
      material: doc.createMaterial().setBaseColorTexture(texture), uv: new Float32Array(6)}))));
  },
  // Linear colours: Blender's default grey factor 0.8, and a float COLOR_0
  // of (1, 0.25, 0).
  linear() {
    const grey = doc.createMaterial().setBaseColorFactor([0.8, 0.8, 0.8, 1]);
    const orange = new Float32Array([1, 0.25, 0, 1, 0.25, 0, 1, 0.25, 0]);
    scene.addChild(doc.createNode('linear').setMesh(mesh(
      primitive({position: [0, 0, 0, 1, 0, 0, 0, 1, 0], material: grey}),
      primitive({position: [0, 0, 1, 1, 0, 1, 0, 1, 1], colour: orange, material: doc.createMaterial()}))));
  },
};
const placing = require('./make_gltf_placing.js')({modules, doc, scene, accessor, primitive, mesh, SQUARE, UP, png});
Object.assign(scenes, placing.scenes);

async function main() {
  const [name, file, fault] = process.argv.slice(2);
  scenes[name](fault);
  const io = new NodeIO().registerExtensions([KHRLightsPunctual, KHRMaterialsUnlit, ...placing.extensions])
    .setVertexLayout(name === 'primitives' ? VertexLayout.SEPARATE : VertexLayout.INTERLEAVED);
  if (file.endsWith('.glb')) {
    const bytes = await io.writeBinary(doc);
    fs.writeFileSync(file, fault === 'truncate' ? bytes.subarray(0, bytes.length - 4) : bytes);
    return;
  }
  const bin = path.basename(file).replace(/\.gltf$/, '');
  const {json, resources} = await io.writeJSON(doc, {format: 'gltf', basename: bin});
  const byName = (n) => json.nodes.find((node) => node.name === n);
  if (name === 'transforms') {
    // A matrix instead of translation, rotation and scale: mirrored in x, moved along z.
    byName('mirrored').matrix = [-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -3, 1];
  }
  if (fault === 'extension') json.extensionsUsed = json.extensionsRequired = ['KHR_texture_basisu'];
  if (fault === 'accessor') json.accessors[1].count += 1;
  const dataUris = name !== 'transforms';
  for (const item of [...(json.buffers || []), ...(json.images || [])]) {
    if (!item.uri) continue;
    const bytes = Buffer.from(resources[item.uri]);
    if (dataUris) item.uri = `data:application/octet-stream;base64,${bytes.toString('base64')}`;
    else if (fault !== 'nobin') fs.writeFileSync(path.join(path.dirname(file), item.uri), bytes);
  }
  fs.writeFileSync(file, JSON.stringify(json));
}
main().catch((e) => { console.error(e); process.exit(1); });
