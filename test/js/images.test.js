'use strict';
// toBMP: PNGs, BMPs and raw pixels built here byte by byte come out as the
// 24-bit BMP of the expected colours (alpha over white); damaged input is an
// ERR_UNREADABLE_IMAGE that says why; renderTraceCode takes `image`.
const test = require('node:test');
const assert = require('node:assert/strict');
const zlib = require('zlib');
const { toBMP } = require('../../lib/images');
const { makeBmp } = require('../../lib/bmp-writer');
const { runInChild } = require('../support/child');

const { W, H, COLOURS, ALPHA, P, composite, grid, pack, chunk, makePng, grayPng } = require('../support/png-fixtures');

// A 24-bit bottom-up BMP's pixels, top row first, as [r, g, b].
function pixelsOf(bmp) {
  assert.equal(bmp.readUInt16LE(28), 24);
  const [width, height, offset] = [bmp.readInt32LE(18), bmp.readInt32LE(22), bmp.readUInt32LE(10)];
  const stride = Math.ceil((width * 3) / 4) * 4;
  assert.equal(bmp.length, offset + stride * height);
  return grid((x, y) => [...bmp.subarray(offset + (height - 1 - y) * stride + 3 * x, offset + (height - 1 - y) * stride + 3 * x + 3)].reverse());
}

function bmpFile({ bpp, compression = 0, headerSize = 40, height = H, palette = [], masks = [], data }) {
  const offset = 14 + headerSize + 4 * palette.length + (headerSize === 40 ? 4 * masks.length : 0);
  const b = Buffer.alloc(offset + data.length);
  b.write('BM', 0, 'latin1');
  [[2, b.length], [10, offset], [14, headerSize], [18, W], [22, height >>> 0], [30, compression], [46, palette.length]].forEach(([at, v]) => b.writeUInt32LE(v, at));
  b.writeUInt16LE(bpp, 28);
  masks.forEach((m, i) => b.writeUInt32LE(m, 54 + 4 * i));
  palette.forEach(([r, g, bl], i) => b.set([bl, g, r], offset - 4 * palette.length + 4 * i));
  b.set(data, offset);
  return b;
}
// Uncompressed rows of pixel(x, y) bytes (or `bits` per index), padded to 4, bottom row first unless top-down.
function rows(pixel, { bits, topDown = false } = {}) {
  const out = [];
  for (let k = 0; k < H; k++) {
    const y = topDown ? k : H - 1 - k;
    const row = Array.from({ length: W }, (_, x) => pixel(x, y));
    const bytes = bits ? pack(row, bits) : row.flat();
    out.push(...bytes, ...new Array((4 - (bytes.length % 4)) % 4).fill(0));
  }
  return out;
}
const u16 = (v) => [v & 255, v >> 8];
const scale = (v, bits) => Math.round(((v >> (8 - bits)) * 255) / (2 ** bits - 1));

// RLE8 (as ImageMagick writes gray BMPs), bottom row first: a run of four, a
// literal stretch of the rest (padded to even), a run past the right edge
// (dropped), end of line. RLE4: literal rows of pairs; on the top row a run
// alternating colours 2 and 1, then a delta that skips two pixels (left white).
const RLE8 = [];
const RLE4 = [];
for (let y = H - 1; y >= 0; y--) {
  const row = Array.from({ length: W }, (_, x) => P(x, y));
  RLE8.push(4, row[0], 0, W - 4, ...row.slice(4), 0, 2, 3, 0, 0);
  if (y > 0) RLE4.push(0, W, ...pack(row, 4), 0, 0);
  else RLE4.push(3, 0x21, 0, 2, 2, 0, 0, W - 5, ...pack(row.slice(5), 4), 0, 0, 1);
}
const rle4Top = [COLOURS[2], COLOURS[1], COLOURS[2], COLOURS[3], COLOURS[3]];
const colour = (x, y) => COLOURS[P(x, y)];

const decodes = {
  'PNG gray 1-bit': grayPng(1),
  'PNG gray+alpha 16-bit, interlaced': grayPng(16, true, 1),
  'PNG gray 4-bit, interlaced': grayPng(4, false, 1),
  'PNG RGBA 8-bit': { input: makePng({ colorType: 6, depth: 8, sample: (x, y) => [...colour(x, y), ALPHA[P(x, y)]] }), expected: grid((x, y) => composite(colour(x, y), ALPHA[P(x, y)])) },
  'PNG palette 2-bit with transparency': {
    input: makePng({ colorType: 3, depth: 2, extra: [chunk('PLTE', Buffer.from(COLOURS.flat())), chunk('tRNS', Buffer.from(ALPHA))], sample: (x, y) => [P(x, y)] }),
    expected: grid((x, y) => composite(colour(x, y), ALPHA[P(x, y)])),
  },
  'BMP RLE8': { input: bmpFile({ bpp: 8, compression: 1, palette: COLOURS, data: [...RLE8, 0, 1] }), expected: grid((x, y) => colour(x < 4 ? 0 : x, y)) },
  'BMP RLE4 with a delta': { input: bmpFile({ bpp: 4, compression: 2, palette: COLOURS, data: RLE4 }), expected: grid((x, y) => (y === 0 && x < 5 ? rle4Top[x] : colour(x, y))) },
  'BMP 1-bit': { input: bmpFile({ bpp: 1, palette: COLOURS.slice(1, 3), data: rows((x, y) => (x + y) & 1, { bits: 1 }) }), expected: grid((x, y) => COLOURS[1 + ((x + y) & 1)]) },
  'BMP 4-bit top-down': { input: bmpFile({ bpp: 4, height: -H, palette: COLOURS, data: rows(P, { bits: 4, topDown: true }) }), expected: grid(colour) },
  'BMP 16-bit 5-5-5': {
    input: bmpFile({ bpp: 16, data: rows((x, y) => u16(colour(x, y).reduce((v, c) => (v << 5) | (c >> 3), 0))) }),
    expected: grid((x, y) => colour(x, y).map((c) => scale(c, 5))),
  },
  'BMP 16-bit 5-6-5 bit fields': {
    input: bmpFile({ bpp: 16, compression: 3, masks: [0xf800, 0x07e0, 0x001f], data: rows((x, y) => { const [r, g, b] = colour(x, y); return u16(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); }) }),
    expected: grid((x, y) => { const [r, g, b] = colour(x, y); return [scale(r, 5), scale(g, 6), scale(b, 5)]; }),
  },
  'BMP 32-bit, alpha bytes all 0 (unused)': { input: bmpFile({ bpp: 32, data: rows((x, y) => [...colour(x, y)].reverse().concat(0)) }), expected: grid(colour) },
  'BMP 32-bit RGBA bit fields, 108-byte header': {
    input: bmpFile({ bpp: 32, compression: 3, headerSize: 108, masks: [0xff, 0xff00, 0xff0000, 0xff000000], data: rows((x, y) => [...colour(x, y), ALPHA[P(x, y)]]) }),
    expected: grid((x, y) => composite(colour(x, y), ALPHA[P(x, y)])),
  },
  'canvas ImageData': { input: { width: W, height: H, data: new Uint8ClampedArray(grid((x, y) => [...colour(x, y), ALPHA[P(x, y)]]).flat()) }, expected: grid((x, y) => composite(colour(x, y), ALPHA[P(x, y)])) },
  'raw gray pixels': { input: { width: W, height: H, channels: 1, data: Buffer.from(grid((x, y) => 60 * P(x, y))) }, expected: grid((x, y) => new Array(3).fill(60 * P(x, y))) },
};

test('toBMP turns each kind of image into a 24-bit BMP of its colours over white', () => {
  for (const [name, { input, expected }] of Object.entries(decodes)) assert.deepEqual(pixelsOf(toBMP(input)), expected, name);
});

test('a BMP the add-on already reads as it looks comes back as a copy; raw RGB as the BMP writer writes it', () => {
  const bmp24 = makeBmp({ width: W, height: H, bpp: 24, pixel: colour });
  for (const bmp of [bmp24, makeBmp({ width: W, height: H, bpp: 8, pixel: (x, y) => 60 * P(x, y) })]) {
    const out = toBMP(new DataView(bmp.buffer, bmp.byteOffset, bmp.length));
    assert.ok(out.equals(bmp) && out.buffer !== bmp.buffer);
  }
  assert.ok(toBMP({ width: W, height: H, data: Buffer.from(grid(colour).flat()), channels: 3 }).equals(bmp24));
});

test('damaged, oversized or mismatched images are refused with the reason', () => {
  const png = decodes['PNG RGBA 8-bit'].input;
  const badCrc = Buffer.from(png);
  badCrc[41 + png.readUInt32BE(33)] ^= 0xff; // the first byte of IDAT's checksum
  const rle = (data) => bmpFile({ bpp: 8, compression: 1, palette: COLOURS, data });
  const cases = [
    [png.subarray(0, png.length - 30), /the PNG is truncated: its IDAT chunk runs past the end of the file/],
    [badCrc, /the PNG is damaged: the checksum of its IDAT chunk does not match/],
    [makePng({ colorType: 0, depth: 1, width: 10001, height: 1, sample: () => [0] }), /the PNG is 10001 x 1 pixels; each side must be a whole number from 1 to 10000/],
    [makePng({ colorType: 0, depth: 8, interlace: 1, width: 4, height: 4, sample: () => [0], idat: zlib.deflateSync(Buffer.alloc(10 << 20)) }), /does not inflate to a 4 x 4 image/],
    [bmpFile({ bpp: 24, data: new Array(40).fill(0) }), /the BMP is truncated: the file ends before its last pixel row/],
    [rle(RLE8.slice(0, 20)), /compressed pixel data ends early/],
    [rle([W, 9, 0, 1]), /a pixel uses colour 9 of a 4-colour table/],
    [bmpFile({ bpp: 24, height: 0, data: [0] }), /the BMP is 11 x 0 pixels/],
    [bmpFile({ bpp: 24, compression: 4, data: [0] }), /a 24-bit BMP with compression 4 cannot be read; save it as a 24-bit BMP or a PNG/],
    [{ width: 2, height: 2, data: new Uint8ClampedArray(15) }, /data holds 15 bytes, but 2 x 2 pixels of 4 byte\(s\) take 16/],
    [{ width: 2, height: 2, data: new Uint8Array(8), channels: 2 }, /channels must be 1 \(gray\), 3 \(RGB\) or 4 \(RGBA\), not 2/],
    ['label.png', /not string \(a file name\? pass the file's bytes/],
    [Buffer.from('GIF89a'), /not a PNG or BMP file \(6 bytes that start with neither signature\)/],
  ];
  for (const [input, message] of cases) {
    assert.throws(() => toBMP(input), (e) => e.code === 'ERR_UNREADABLE_IMAGE' && message.test(e.message), String(message));
  }
});

test('renderTraceCode takes image in place of buffer, and reads it only then', async () => {
  const png = decodes['PNG RGBA 8-bit'];
  const bmp = makeBmp({ width: W, height: H, bpp: 24, pixel: (x, y) => png.expected[y * W + x] });
  const r = await runInChild(`
    const label = { device: 'x', instruction: 'ZPL', withCutter: false, width: 4, height: 2 };
    const spy = (values) => { const reads = []; return [reads, new Proxy(values, { get: (t, k) => (reads.push(k), t[k]) })]; };
    const [withBuffer, a] = spy({ ...label, buffer: Buffer.from('${bmp.toString('hex')}', 'hex'), image: 'never read' });
    const [withNeither, b] = spy(label);
    const fromImage = addon.renderTraceCode({ ...label, image: Buffer.from('${png.input.toString('hex')}', 'hex') });
    let error;
    try { addon.renderTraceCode({ ...label, image: Buffer.from('BM') }); } catch (e) { error = e.code + ': ' + e.message; }
    return { same: addon.renderTraceCode(a).equals(fromImage), neither: String(addon.renderTraceCode(b)),
      reads: [withBuffer.join(), withNeither.join()], error };`);
  assert.deepEqual(r.answer.value, {
    same: true,
    neither: 'undefined',
    reads: ['device,instruction,withCutter,width,height,buffer', 'device,instruction,withCutter,width,height,buffer,image'],
    error: 'ERR_UNREADABLE_IMAGE: unreadable image: the BMP is truncated: 2 bytes, not even its headers',
  }, r.stderr);
});
