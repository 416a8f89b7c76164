// The PNG writer of the tests' glTF files and of examples/make-crate.js.
'use strict';
const zlib = require('zlib');

// An 8-bit RGBA PNG, written from the format's layout with Node's zlib.
function png(width, rgba) {
  const rows = [];
  for (let y = 0; y < rgba.length / 4 / width; y++) rows.push(Buffer.from([0, ...rgba.slice(y * width * 4, (y + 1) * width * 4)]));
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type), data]);
    const n = Buffer.alloc(4), crc = Buffer.alloc(4);
    n.writeUInt32BE(data.length);
    crc.writeUInt32BE(zlib.crc32(body));
    return Buffer.concat([n, body, crc]);
  };
  const head = Buffer.alloc(13);
  head.writeUInt32BE(width, 0);
  head.writeUInt32BE(rgba.length / 4 / width, 4);
  head.set([8, 6], 8);
  return Buffer.concat([Buffer.from('89504e470d0a1a0a', 'hex'), chunk('IHDR', head),
    chunk('IDAT', zlib.deflateSync(Buffer.concat(rows))), chunk('IEND', Buffer.alloc(0))]);
}

module.exports = {png};
