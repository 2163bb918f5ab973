'use strict';
// Writes BMP files as printTraceCode takes them: 8-bit (gray values, gray ramp
// palette), 24-bit (BGR) or 32-bit (BGRA), bottom-up, with a 40-, 108- or
// 124-byte information header. The demo draws its sample label with it.

// pixel(x, y) with y counted from the top returns a gray number (8-bit) or
// [r, g, b] / [r, g, b, a] (24/32-bit).
function makeBmp({ width, height, bpp = 24, headerSize = 40, pixel }) {
  const bytesPerPixel = bpp / 8;
  const stride = Math.floor((width * bpp + 31) / 32) * 4;
  const palette = bpp === 8 ? 1024 : 0;
  const offset = 14 + headerSize + palette;
  const buf = Buffer.alloc(offset + stride * height);
  buf.write('BM', 0, 'latin1');
  buf.writeUInt32LE(buf.length, 2);
  buf.writeUInt32LE(offset, 10);
  buf.writeUInt32LE(headerSize, 14);
  buf.writeInt32LE(width, 18);
  buf.writeInt32LE(height, 22);
  buf.writeUInt16LE(1, 26);
  buf.writeUInt16LE(bpp, 28);
  buf.writeUInt32LE(stride * height, 34);
  buf.writeInt32LE(2835, 38);
  buf.writeInt32LE(2835, 42);
  if (bpp === 8) {
    buf.writeUInt32LE(256, 46);
    for (let i = 0; i < 256; i++) buf.writeUInt32LE(i * 0x010101, 14 + headerSize + 4 * i);
  }
  for (let y = 0; y < height; y++) {
    const rowStart = offset + (height - 1 - y) * stride;
    for (let x = 0; x < width; x++) {
      const at = rowStart + x * bytesPerPixel;
      const p = pixel(x, y);
      if (bpp === 8) {
        buf[at] = p;
      } else {
        buf[at] = p[2];
        buf[at + 1] = p[1];
        buf[at + 2] = p[0];
        if (bpp === 32) buf[at + 3] = p.length > 3 ? p[3] : 255;
      }
    }
  }
  return buf;
}

module.exports = { makeBmp };
