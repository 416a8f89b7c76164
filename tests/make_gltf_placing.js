// The scenes of make_gltf.js about where things land: node and instance
// transforms, texture transforms and wrap modes, scenes, values that are
// not finite. FAULT "plain" writes the same scene without the extension
// (its transforms applied by hand), "required" marks the extension required.
'use strict';
module.exports = ({modules, doc, scene, accessor, primitive, mesh, SQUARE, UP, png}) => {
  const {TextureInfo} = require(`${modules}/@gltf-transform/core`);
  const {KHRTextureTransform, EXTMeshGPUInstancing} = require(`${modules}/@gltf-transform/extensions`);
  const {MIRRORED_REPEAT, CLAMP_TO_EDGE} = TextureInfo.WrapMode;
  // 2 x 2 texels: red, green over blue, white; made at its first use.
  let texture;
  const textured = (wrap) => {
    texture ??= doc.createTexture().setMimeType('image/png')
      .setImage(png(2, [255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255]));
    const m = doc.createMaterial().setBaseColorTexture(texture);
    if (wrap) m.getBaseColorTextureInfo().setWrapS(wrap).setWrapT(wrap);
    return m;
  };
  // A square (two triangles) from s t at its corners, in SQUARE's order.
  const square = (material, uv) => primitive({position: SQUARE, indices: new Uint8Array([0, 1, 2, 0, 2, 3]), material, uv});
  const UPRIGHT = [0, 1, 1, 1, 1, 0, 0, 0];  // the image upright on SQUARE
  const scenes = {
    // A node with translation, rotation (0.6 0.8: cos 0.28, sin 0.96 about
    // z) and an uneven scale; a MASK material; a texture read through TEXCOORD_1.
    details() {
      scene.addChild(doc.createNode('trs').setMesh(mesh(primitive({position: [0, 0, 0, 1, 0, 0, 0, 1, 0]})))
        .setTranslation([1, 2, 3]).setRotation([0, 0, 0.6, 0.8]).setScale([2, 3, 4]));
      const mask = doc.createMaterial().setAlphaMode('MASK').setBaseColorFactor([0, 1, 0, 1]);
      const second = textured();
      second.getBaseColorTextureInfo().setTexCoord(1);
      const looks = square(second, new Float32Array(8)).setAttribute('TEXCOORD_1', accessor('VEC2', new Float32Array(UPRIGHT)));
      scene.addChild(doc.createNode('looks').setMesh(mesh(primitive({position: [0, 0, 5, 1, 0, 5, 0, 1, 5], material: mask}), looks)));
    },
    // Texture transforms: a 2 x 2 repeat; an uneven scale, a quarter turn and
    // an offset, read through the set the transform names; quantised
    // coordinates scaled and moved.
    repeat(variant) {
      const transforms = doc.createExtension(KHRTextureTransform);
      const turned = [0, 0, 1, 0, 1, 1, 0, 1];
      const uses = [
        {uv: new Float32Array(UPRIGHT), scale: [2, 2], plain: [0, 2, 2, 2, 2, 0, 0, 0]},
        {uv: new Float32Array(8), second: turned, scale: [2, 1], offset: [0.5, 0], rotation: Math.PI / 2, texCoord: 1,
         plain: [0.5, 0, 0.5, -2, 1.5, -2, 1.5, 0]},
        {uv: new Uint16Array(UPRIGHT.map((c) => c * 65535)), scale: [2, 2], offset: [-0.5, 1], plain: [-0.5, 3, 1.5, 3, 1.5, 1, -0.5, 1]},
      ];
      scene.addChild(doc.createNode('repeat').setMesh(mesh(...uses.map((use) => {
        const material = textured();
        if (variant === 'plain') return square(material, new Float32Array(use.plain));
        const p = square(material, use.uv);
        if (use.second) p.setAttribute('TEXCOORD_1', accessor('VEC2', new Float32Array(use.second)));
        const t = transforms.createTransform().setScale(use.scale || [1, 1]).setOffset(use.offset || [0, 0])
          .setRotation(use.rotation || 0).setTexCoord(use.texCoord ?? null);
        material.getBaseColorTextureInfo().setExtension('KHR_texture_transform', t);
        return p;
      }))));
    },
    // A box whose faces read s from k to k + 1, k = 0 to 5, mirrored
    // repeat; a triangle reaching past the image's edges, clamped to them;
    // one repeating it 3000 times across, more than a TIM image may hold.
    wraps() {
      const faces = [[[0, 0, 1], [1, 0, 0], [0, 1, 0]], [[1, 0, 0], [-1, 0, 0], [0, 1, 0]], [[1, 0, 1], [0, 0, -1], [0, 1, 0]],
                     [[0, 0, 0], [0, 0, 1], [0, 1, 0]], [[0, 1, 1], [1, 0, 0], [0, 0, -1]], [[0, 0, 0], [1, 0, 0], [0, 0, 1]]];
      const position = [], uv = [], indices = [];
      faces.forEach(([o, a, b], k) => {
        for (const [i, j] of [[0, 0], [1, 0], [1, 1], [0, 1]]) position.push(...o.map((c, n) => c + i * a[n] + j * b[n]));
        uv.push(k, 1, k + 1, 1, k + 1, 0, k, 0);
        indices.push(4 * k, 4 * k + 1, 4 * k + 2, 4 * k, 4 * k + 2, 4 * k + 3);
      });
      scene.addChild(doc.createNode('box').setMesh(mesh(
        primitive({position, indices: new Uint8Array(indices), material: textured(MIRRORED_REPEAT), uv: new Float32Array(uv)}),
        primitive({position: [0, 0, 2, 1, 0, 2, 0, 1, 2], material: textured(CLAMP_TO_EDGE), uv: new Float32Array([-0.5, 0, 1.5, 0, 0.5, 1])}),
        primitive({position: [0, 0, 3, 1, 0, 3, 0, 1, 3], material: textured(), uv: new Float32Array([0, 0, 3000, 0, 0, 1])}))));
    },
    // A square drawn by three instances of a node (moved; turned half round
    // about z and moved; doubled and moved), a triangle by two (moved only).
    instanced(variant) {
      const squares = {TRANSLATION: [1, 0, 0, 0, 2, 0, 0, 0, 3], ROTATION: [0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1], SCALE: [1, 1, 1, 1, 1, 1, 2, 2, 2]};
      const shapes = [[mesh(primitive({position: SQUARE, normal: UP, indices: new Uint8Array([0, 1, 2, 0, 2, 3])})), [10, 0, 0], squares],
                      [mesh(primitive({position: [0, 0, 0, 1, 0, 0, 0, 1, 0]})), [0, -5, 0], {TRANSLATION: [0, 0, 0, 0, 0, 7]}]];
      const instancing = doc.createExtension(EXTMeshGPUInstancing).setRequired(variant === 'required');
      for (const [shape, at, instances] of shapes) {
        const node = doc.createNode().setTranslation(at);
        scene.addChild(node);
        if (variant !== 'plain') {
          const batch = instancing.createInstancedMesh();
          for (const [name, values] of Object.entries(instances)) batch.setAttribute(name, accessor(name === 'ROTATION' ? 'VEC4' : 'VEC3', new Float32Array(values)));
          node.setMesh(shape).setExtension('EXT_mesh_gpu_instancing', batch);
          continue;
        }
        for (let i = 0; i < instances.TRANSLATION.length / 3; i++) {
          const child = doc.createNode().setMesh(shape).setTranslation(instances.TRANSLATION.slice(3 * i, 3 * i + 3));
          if (instances.ROTATION) child.setRotation(instances.ROTATION.slice(4 * i, 4 * i + 4)).setScale(instances.SCALE.slice(3 * i, 3 * i + 3));
          node.addChild(child);
        }
      }
    },
    // One finite triangle; one with an infinite position, one with a normal
    // not a number, one with an infinite texture coordinate.
    nonfinite() {
      const at = (z) => [0, 0, z, 1, 0, z, 0, 1, z];
      scene.addChild(doc.createNode('values').setMesh(mesh(
        primitive({position: at(0)}), primitive({position: [0, 0, 1, Infinity, 0, 1, 0, 1, 1]}),
        primitive({position: at(2), normal: [...UP.slice(0, 6), NaN, 0, 1]}),
        primitive({position: at(3), material: textured(), uv: new Float32Array([0, 0, 1, 0, 0, -Infinity])}))));
    },
    // Two scenes, the second the default: a triangle at x = 0, one at x = 5.
    scenes() {
      const triangle = (x) => mesh(primitive({position: [x, 0, 0, x + 1, 0, 0, x, 1, 0]}));
      scene.addChild(doc.createNode('first').setMesh(triangle(0)));
      const other = doc.createScene().addChild(doc.createNode('second').setMesh(triangle(5)));
      doc.getRoot().setDefaultScene(other);
    },
  };
  return {scenes, extensions: [KHRTextureTransform, EXTMeshGPUInstancing]};
};
