'use strict';
// Pictures of what a printer will print: the dots of a decoded command stream
// as a gray PNG, black where a dot burns and white where none does, one dot to
// scale x scale pixels. A gray frame outside the label marks its edge, which
// white paper would not show.

const { PNG } = require('pngjs');

const FRAME_GRAY = 160;

function dotsToPng({ width, height, dots }, { scale = 1, frame = 2 } = {}) {
  if (!Number.isInteger(scale) || scale < 1) throw new RangeError(`scale must be a whole number from 1: ${scale}`);
  if (!Number.isInteger(frame) || frame < 0) throw new RangeError(`frame must be a whole number from 0: ${frame}`);
  if (!(width > 0 && height > 0)) throw new RangeError(`nothing to draw: ${width} x ${height} dots`);
  const outWidth = width * scale + 2 * frame;
  const outHeight = height * scale + 2 * frame;
  const data = Buffer.alloc(outWidth * outHeight, FRAME_GRAY);
  const row = Buffer.alloc(width * scale);
  for (let y = 0; y < height; y++) {
    row.fill(255);
    for (let x = 0; x < width; x++) if (dots[y * width + x]) row.fill(0, x * scale, (x + 1) * scale);
    for (let k = 0; k < scale; k++) row.copy(data, (frame + y * scale + k) * outWidth + frame);
  }
  const png = new PNG({ width: outWidth, height: outHeight, colorType: 0, inputColorType: 0, inputHasAlpha: false });
  png.data = data;
  return PNG.sync.write(png, { colorType: 0, inputColorType: 0, inputHasAlpha: false });
}

module.exports = { dotsToPng, FRAME_GRAY };
