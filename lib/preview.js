'use strict';
// Pictures of what a printer will print: the dots of a decoded command stream
// as a PNG, black where a dot burns, white elsewhere, one dot to scale x scale pixels.

const { PNG } = require('pngjs');

function dotsToPng({ width, height, dots }, { scale = 1 } = {}) {
  if (!Number.isInteger(scale) || scale < 1) throw new RangeError(`scale must be a whole number from 1: ${scale}`);
  if (!(width > 0 && height > 0)) throw new RangeError(`nothing to draw: ${width} x ${height} dots`);
  const png = new PNG({ width: width * scale, height: height * scale, colorType: 0, inputColorType: 0, bitDepth: 8 });
  const data = Buffer.alloc(width * scale * height * scale, 255);
  for (let y = 0; y < height; y++) {
    const row = Buffer.alloc(width * scale, 255);
    for (let x = 0; x < width; x++) if (dots[y * width + x]) row.fill(0, x * scale, (x + 1) * scale);
    for (let k = 0; k < scale; k++) row.copy(data, (y * scale + k) * width * scale);
  }
  png.data = data;
  return PNG.sync.write(png, { colorType: 0, inputColorType: 0, inputHasAlpha: false });
}

module.exports = { dotsToPng };
