'use strict';
// Labels that say which request they belong to: 16 x 8 dots (2 x 1 mm at
// 203 dpi) whose top row is the request number in binary, most significant
// bit first, dark for 1. A captured job, read back by the virtual printer,
// names its request.
const { makeBmp } = require('../../lib/bmp-writer');
const { decode, detectLanguage } = require('../../lib/virtual-printer');

function numberedLabel(id) {
  return makeBmp({
    width: 16,
    height: 8,
    bpp: 8,
    pixel: (x, y) => (y === 0 ? ((id >> (15 - x)) & 1 ? 0 : 255) : (x + y) % 3 ? 255 : 0),
  });
}

// { id, language, cutter } of a captured job; throws when no decoder accepts it.
function readNumberedJob(data) {
  const language = detectLanguage(data);
  const label = decode(language, data, { dotsPerMm: 8 });
  let id = 0;
  for (let x = 0; x < 16; x++) id = (id << 1) | label.dots[x];
  return { id, language, cutter: label.commands.cutter };
}

module.exports = { numberedLabel, readNumberedJob };
