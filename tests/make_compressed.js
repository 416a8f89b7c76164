// Writes one scene as several glTF binary files that must import to the
// same triangles, with the independent writer (@gltf-transform/core and its
// extensions; Draco's and meshoptimizer's encoders from the npm registry;
// Debian's cwebp for the WebP image), all installed by scripts/setup.sh:
//
//   node make_compressed.js VARIANT FILE.glb
//
// plain: no extension. draco, meshopt: the meshes compressed (meshopt with
// its octahedral filter on the normals). specgloss: the base colour given
// only as specular-glossiness's diffuse. webp: the texture a WebP image.
// draco-newer, meshopt-newer: a stream marked as of a newer codec version
// than the decoders read. untextured: plain without the texture, for
// gltfpack, whose quantised texture coordinates need a texture transform.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const {execFileSync} = require('child_process');
const modules = path.join(__dirname, '..', 'build-tools', 'gltf-transform', 'node_modules');
const {Document, NodeIO} = require(`${modules}/@gltf-transform/core`);
const {KHRDracoMeshCompression, EXTMeshoptCompression, KHRMaterialsPBRSpecularGlossiness, EXTTextureWebP} =
  require(`${modules}/@gltf-transform/extensions`);
const {png} = require('./png_writer.js');

// A 4 x 4 grid of squares a quarter apart, turned up a little at one edge,
// textured, with colours of exact bytes; a second, untextured mesh of its
// own colours without normals, moved. Texture coordinates are whole texels
// of the 4 x 4 image, so that quantisation cannot change them.
function scene(variant) {
  const doc = new Document();
  const buffer = doc.createBuffer();
  const accessor = (type, array) => doc.createAccessor().setType(type).setArray(array).setBuffer(buffer);
  const position = [], normal = [], uv = [], colour = [], indices = [];
  for (let j = 0; j <= 4; j++)
    for (let i = 0; i <= 4; i++) {
      const lifted = i === 4;
      position.push(i * 0.25, j * 0.25, lifted ? 0.25 : 0);
      normal.push(...(lifted ? [-0.6, 0, 0.8] : [0, 0, 1]));
      uv.push(i / 4, j / 4);
      colour.push((i + j) % 2, 0.2, 1);
    }
  for (let j = 0; j < 4; j++)
    for (let i = 0; i < 4; i++) {
      const a = j * 5 + i;
      indices.push(a, a + 1, a + 6, a, a + 6, a + 5);
    }
  const pixels = [];
  for (let k = 0; k < 16; k++) pixels.push((k * 16) & 255, (k * 40) & 255, 255 - k * 8, 255);
  const image = png(4, pixels);
  let texture;
  if (variant === 'webp') {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'webp-'));
    fs.writeFileSync(path.join(dir, 'in.png'), image);
    execFileSync('cwebp', ['-quiet', '-lossless', '-exact', path.join(dir, 'in.png'), '-o', path.join(dir, 'out.webp')]);
    texture = doc.createTexture().setImage(fs.readFileSync(path.join(dir, 'out.webp'))).setMimeType('image/webp');
    fs.rmSync(dir, {recursive: true});
    doc.createExtension(EXTTextureWebP).setRequired(true);
  } else {
    texture = doc.createTexture().setImage(image).setMimeType('image/png');
  }
  const material = doc.createMaterial();
  if (variant === 'specgloss') {
    const sg = doc.createExtension(KHRMaterialsPBRSpecularGlossiness).setRequired(true);
    material.setExtension('KHR_materials_pbrSpecularGlossiness',
      sg.createPBRSpecularGlossiness().setDiffuseFactor([0.5, 1, 1, 1]).setDiffuseTexture(texture));
  } else {
    material.setBaseColorFactor([0.5, 1, 1, 1]);
    if (variant !== 'untextured') material.setBaseColorTexture(texture);
  }
  const grid = doc.createPrimitive().setMaterial(material)
    .setAttribute('POSITION', accessor('VEC3', new Float32Array(position)))
    .setAttribute('NORMAL', accessor('VEC3', new Float32Array(normal)))
    .setAttribute('TEXCOORD_0', accessor('VEC2', new Float32Array(uv)))
    .setAttribute('COLOR_0', accessor('VEC3', new Float32Array(colour)))
    .setIndices(accessor('SCALAR', new Uint16Array(indices)));
  const fan = doc.createPrimitive().setMaterial(doc.createMaterial().setBaseColorFactor([1, 0.2, 0, 1]))
    .setAttribute('POSITION', accessor('VEC3', new Float32Array([0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0.5])))
    .setAttribute('COLOR_0', accessor('VEC4', new Uint8Array([255, 255, 255, 255, 0, 255, 0, 255, 51, 51, 51, 255, 0, 0, 0, 255])
      ).setNormalized(true))
    .setIndices(accessor('SCALAR', new Uint16Array([0, 1, 2, 0, 2, 3])));
  const scene = doc.createScene();
  doc.getRoot().setDefaultScene(scene);
  scene.addChild(doc.createNode('grid').setMesh(doc.createMesh().addPrimitive(grid)).setTranslation([1, 2, 3]));
  scene.addChild(doc.createNode('fan').setMesh(doc.createMesh().addPrimitive(fan)).setTranslation([-2, 0, 0]));
  return doc;
}

// Marks the first stream of `kind` in a binary file as of a newer version:
// Draco's version bytes follow "DRACO"; a meshopt vertex stream's header
// byte holds its version in the low four bits.
function newer(bytes, kind) {
  const out = Buffer.from(bytes);
  if (kind === 'draco') {
    const at = out.indexOf('DRACO');
    out[at + 6] = out[at + 6] + 1;
    return out;
  }
  const jsonLength = out.readUInt32LE(12);
  const json = JSON.parse(out.subarray(20, 20 + jsonLength).toString());
  const view = json.bufferViews.find((v) => v.extensions && v.extensions.EXT_meshopt_compression.mode === 'ATTRIBUTES');
  const ext = view.extensions.EXT_meshopt_compression;
  if (ext.buffer !== 0) throw new Error('the stream is not in the binary chunk');
  out[20 + jsonLength + 8 + (ext.byteOffset || 0)] = 0xa1;
  return out;
}

async function main() {
  const [variant, file] = process.argv.slice(2);
  const doc = scene(variant);
  const io = new NodeIO().registerExtensions([KHRDracoMeshCompression, EXTMeshoptCompression,
    KHRMaterialsPBRSpecularGlossiness, EXTTextureWebP]);
  if (variant.startsWith('draco')) {
    const draco3d = require(`${modules}/draco3dgltf`);
    io.registerDependencies({'draco3d.encoder': await draco3d.createEncoderModule()});
    doc.createExtension(KHRDracoMeshCompression).setRequired(true)
      .setEncoderOptions({method: KHRDracoMeshCompression.EncoderMethod.EDGEBREAKER});
  }
  if (variant.startsWith('meshopt')) {
    const {MeshoptEncoder} = require(`${modules}/meshoptimizer`);
    await MeshoptEncoder.ready;
    io.registerDependencies({'meshopt.encoder': MeshoptEncoder});
    doc.createExtension(EXTMeshoptCompression).setRequired(true)
      .setEncoderOptions({method: EXTMeshoptCompression.EncoderMethod.FILTER});
  }
  let bytes = await io.writeBinary(doc);
  if (variant.endsWith('-newer')) bytes = newer(bytes, variant.split('-')[0]);
  fs.writeFileSync(file, bytes);
}
main().catch((e) => { console.error(e); process.exit(1); });
