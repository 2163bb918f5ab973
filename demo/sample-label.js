'use strict';
// A made-up trace-code label for demos and tests: a real QR code of the serial
// (made with the qrcode package, a development dependency: demo/ is not part
// of the published package) beside human-readable lines drawn with a tiny 5x7
// font, written as a BMP file.

const QRCode = require('qrcode');
const { makeBmp } = require('../lib/bmp-writer');

// 5x7 glyphs, one 5-bit row each, top row first, bit 4 the leftmost dot.
const FONT = {
  0: [0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e], 1: [0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e],
  2: [0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f], 3: [0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e],
  4: [0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02], 5: [0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e],
  6: [0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e], 7: [0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08],
  8: [0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e], 9: [0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c],
  A: [0x0e, 0x11, 0x11, 0x11, 0x1f, 0x11, 0x11], B: [0x1e, 0x11, 0x11, 0x1e, 0x11, 0x11, 0x1e],
  C: [0x0e, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0e], D: [0x1c, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1c],
  E: [0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f], F: [0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x10],
  G: [0x0e, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0f], H: [0x11, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11],
  I: [0x0e, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e], J: [0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0c],
  K: [0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11], L: [0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f],
  M: [0x11, 0x1b, 0x15, 0x15, 0x11, 0x11, 0x11], N: [0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11],
  O: [0x0e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e], P: [0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10],
  Q: [0x0e, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0d], R: [0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11],
  S: [0x0f, 0x10, 0x10, 0x0e, 0x01, 0x01, 0x1e], T: [0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04],
  U: [0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e], V: [0x11, 0x11, 0x11, 0x11, 0x11, 0x0a, 0x04],
  W: [0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0a], X: [0x11, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0x11],
  Y: [0x11, 0x11, 0x11, 0x0a, 0x04, 0x04, 0x04], Z: [0x1f, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1f],
  ' ': [0, 0, 0, 0, 0, 0, 0], '-': [0, 0, 0, 0x1f, 0, 0, 0], '.': [0, 0, 0, 0, 0, 0x0c, 0x0c],
  ':': [0, 0x0c, 0x0c, 0, 0x0c, 0x0c, 0], '/': [0, 0x01, 0x02, 0x04, 0x08, 0x10, 0],
};

// A gray canvas, 0 black to 255 white, top row first.
class Canvas {
  constructor(width, height) {
    this.width = width;
    this.height = height;
    this.gray = new Uint8Array(width * height).fill(255);
  }

  fill(x, y, w, h, level = 0) {
    for (let row = Math.max(0, y); row < Math.min(this.height, y + h); row++) {
      this.gray.fill(level, row * this.width + Math.max(0, x), row * this.width + Math.min(this.width, x + w));
    }
  }

  // Characters without a glyph are drawn as blanks.
  text(x, y, string, scale = 1) {
    for (const ch of string.toUpperCase()) {
      const glyph = FONT[ch] || FONT[' '];
      glyph.forEach((bits, row) => {
        for (let col = 0; col < 5; col++) {
          if (bits & (0x10 >> col)) this.fill(x + col * scale, y + row * scale, scale, scale);
        }
      });
      x += 6 * scale;
    }
  }
}

// The sample label as a gray canvas: a QR code of the serial on the left, with
// the four-module quiet zone scanners need, and text on the right.
function drawSampleLabel({ width = 400, height = 240, serial = '6901234567892', lines } = {}) {
  const canvas = new Canvas(width, height);
  const { modules } = QRCode.create(serial, { errorCorrectionLevel: 'M' });
  const n = modules.size;
  // The code and its quiet zone take at most 55% of the width, leaving room
  // for text: 7 dots (0.9 mm at 203 dpi) a module on the 50 x 30 mm label.
  const module = Math.max(1, Math.floor(Math.min(height, width * 0.55) / (n + 8)));
  const top = Math.floor((height - n * module) / 2);
  for (let y = 0; y < n; y++) {
    for (let x = 0; x < n; x++) if (modules.get(y, x)) canvas.fill((4 + x) * module, top + y * module, module, module);
  }
  const margin = Math.round(height / 15);
  const left = (n + 8) * module;
  const text = lines || ['TRACE CODE', serial, 'LOT 24-117', 'QTY 1/1'];
  const room = width - left - margin;
  const longest = Math.max(...text.map((l) => l.length));
  const scale = Math.max(1, Math.min(3, Math.floor((room + 1) / (6 * longest))));
  const lineHeight = 10 * scale;
  let y = top + Math.max(0, Math.floor((n * module - text.length * lineHeight) / 2));
  for (const line of text) {
    canvas.text(left, y, line, scale);
    y += lineHeight;
  }
  return canvas;
}

// The sample label as a BMP file of 8, 24 or 32 bits per pixel.
function sampleLabelBmp(options = {}, bpp = 24) {
  const { width, height, gray } = drawSampleLabel(options);
  const level = (x, y) => gray[y * width + x];
  const pixel = bpp === 8 ? level : (x, y) => new Array(3).fill(level(x, y));
  return makeBmp({ width, height, bpp, pixel });
}

module.exports = { drawSampleLabel, sampleLabelBmp };

// `node demo/sample-label.js FILE.png` writes the label as an 8-bit gray PNG:
// the package ships that copy (assets/sample-label.png) for `trace-label demo`,
// since qrcode is not one of its dependencies.
if (require.main === module) {
  const { PNG } = require('pngjs');
  const { width, height, gray } = drawSampleLabel();
  const png = new PNG({ width, height, colorType: 0, inputColorType: 0, inputHasAlpha: false });
  png.data = Buffer.from(gray);
  require('fs').writeFileSync(process.argv[2], PNG.sync.write(png, { colorType: 0, inputColorType: 0, inputHasAlpha: false }));
}
