'use strict';
// Label `index` of batch `batch` for the batch tests: a 2 x 1 mm label whose
// 16 x 8 dots spell both numbers in bits, so every label of every batch
// differs. Shared by the test and the children it starts.
const { makeBmp } = require('../../lib/bmp-writer');

const mark = (batch, index, more = {}) => ({
  device: 'batch_q',
  instruction: 'ZPL',
  withCutter: false,
  width: 2,
  height: 1,
  buffer: makeBmp({ width: 16, height: 8, bpp: 8, pixel: (x, y) => (((y < 4 ? index : batch) >> (x % 12)) & 1 ? 0 : 255) }),
  ...more,
});

module.exports = { mark };
