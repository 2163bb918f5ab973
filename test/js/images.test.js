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

const W = 11; // odd sizes exercise bit packing, row padding and the Adam7 edges
const H = 7;

const over = (c, a) => Math.round((c * a + 255 * (255 - a)) / 255);
const composite = ([r, g, b, a = 255]) => [over(r, a), over(g, a), over(b, a)];

// A 24-bit bottom-up BMP's pixel (x, y from the top) as [r, g, b].
function pixelsOf(bmp) {
  assert.equal(bmp.toString('latin1', 0, 2), 'BM');
  assert.equal(bmp.readUInt16LE(28), 24);
  const [width, height] = [bmp.readInt32LE(18), bmp.readInt32LE(22)];
  const stride = Math.ceil((width * 3) / 4) * 4;
  assert.equal(bmp.length, bmp.readUInt32LE(10) + stride * height);
  return (x, y) => {
    const at = bmp.readUInt32LE(10) + (height - 1 - y) * stride + 3 * x;
    return [bmp[at + 2], bmp[at + 1], bmp[at]];
  };
}

// ---- PNG files by hand ----

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const out = Buffer.alloc(body.length + 8);
  out.writeUInt32BE(data.length, 0);
  body.copy(out, 4);
  out.writeUInt32BE(zlib.crc32(body), out.length - 4);
  return out;
}

const ADAM7 = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

// sample(x, y) gives the pixel's samples in the PNG's own units.
function makePng({ colorType, depth, interlace = 0, plte, trns, sample, width = W, height = H }) {
  const passes = interlace ? ADAM7 : [[0, 0, 1, 1]];
  const raw = [];
  for (const [x0, y0, dx, dy] of passes) {
    if (x0 >= width || y0 >= height) continue;
    for (let y = y0; y < height; y += dy) {
      raw.push(0);
      let bits = 0;
      let acc = 0;
      for (let x = x0; x < width; x += dx) {
        for (const s of sample(x, y)) {
          if (depth === 16) raw.push(s >> 8, s & 255);
          else if (depth === 8) raw.push(s);
          else {
            acc = (acc << depth) | s;
            bits += depth;
            if (bits === 8) raw.push(acc), (acc = 0), (bits = 0);
          }
        }
      }
      if (bits) raw.push(acc << (8 - bits));
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([depth, colorType, 0, 0, interlace], 8);
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    ...(plte ? [chunk('PLTE', Buffer.from(plte.flat()))] : []),
    ...(trns ? [chunk('tRNS', Buffer.from(trns))] : []),
    chunk('IDAT', zlib.deflateSync(Buffer.from(raw))),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// A PNG case: `channels` samples of `depth` bits, made from one pattern; the
// expected colour scales each sample to 8 bits (16-bit samples are v * 257).
function pngCase(name, colorType, depth, interlace = 0) {
  const channels = { 0: 1, 2: 3, 4: 2, 6: 4 }[colorType];
  const top = depth === 16 ? 255 : 2 ** depth - 1;
  const value = (x, y, c) => ((x * 7 + y * 13 + c * 5) * 37 + (c === channels - 1 && channels % 2 === 0 ? x * 50 : 0)) % (top + 1);
  const sample = (x, y) => Array.from({ length: channels }, (_, c) => value(x, y, c) * (depth === 16 ? 257 : 1));
  const to8 = (x, y, c) => Math.round((value(x, y, c) * 255) / top);
  const rgba = (x, y) => {
    const s = Array.from({ length: channels }, (_, c) => to8(x, y, c));
    return channels <= 2 ? [s[0], s[0], s[0], s[1]] : s;
  };
  return { name, input: makePng({ colorType, depth, interlace, sample }), expected: (x, y) => composite(rgba(x, y)) };
}

// ---- BMP files by hand ----

const COLOURS = [[0, 0, 0], [200, 40, 10], [10, 120, 250], [255, 255, 255]];
const P = (x, y) => (3 * x + 5 * y + ((x * y) >> 2)) % 4; // the palette index of every paletted case

function bmpFile({ bpp, compression = 0, headerSize = 40, height = H, palette = [], extra = [], data, colours }) {
  const offset = 14 + headerSize + extra.length + 4 * palette.length;
  const b = Buffer.alloc(offset + data.length);
  b.write('BM', 0, 'latin1');
  b.writeUInt32LE(b.length, 2);
  b.writeUInt32LE(offset, 10);
  b.writeUInt32LE(headerSize, 14);
  b.writeInt32LE(W, 18);
  b.writeInt32LE(height, 22);
  b.writeUInt16LE(1, 26);
  b.writeUInt16LE(bpp, 28);
  b.writeUInt32LE(compression, 30);
  b.writeUInt32LE(colours ?? palette.length, 46);
  Buffer.from(extra).copy(b, 14 + headerSize);
  palette.forEach(([r, g, bl], i) => b.set([bl, g, r, 0], 14 + headerSize + extra.length + 4 * i));
  Buffer.from(data).copy(b, offset);
  return b;
}

// Uncompressed rows: row(y) gives a row's bytes; padded to 4, bottom row first unless top-down.
function rows(row, topDown = false) {
  const out = [];
  for (let k = 0; k < H; k++) {
    const bytes = row(topDown ? k : H - 1 - k);
    out.push(...bytes, ...new Array((4 - (bytes.length % 4)) % 4).fill(0));
  }
  return out;
}
const pack = (values, bits) => {
  const out = [];
  for (let i = 0; i < values.length; i += 8 / bits) {
    let byte = 0;
    for (let j = 0; j < 8 / bits; j++) byte = (byte << bits) | (values[i + j] ?? 0);
    out.push(byte);
  }
  return out;
};
const indexRow = (y, p = P) => Array.from({ length: W }, (_, x) => p(x, y));
const u16 = (v) => [v & 255, v >> 8];
const u32 = (v) => [v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24];
const five = (v) => Math.round(((v >> 3) * 255) / 31);
const six = (v) => Math.round(((v >> 2) * 255) / 63);

// RLE8 (as ImageMagick writes gray BMPs), bottom row first: a run of four,
// a literal stretch of the rest (padded to even), a run past the right edge (dropped), end of
// line; end of bitmap.
const RLE8 = [];
for (let y = H - 1; y >= 0; y--) {
  const row = indexRow(y);
  RLE8.push(4, row[0], 0, W - 4, ...row.slice(4), ...((W - 4) % 2 ? [0] : []), 2, 3, 0, 0);
}
// RLE4: literal rows of packed pairs; on the top row a run of three
// alternating colours 2, 1, 2, a delta over two pixels, then literals.
const RLE4 = [];
for (let y = H - 1; y > 0; y--) RLE4.push(0, W, ...pack(indexRow(y), 4), ...(Math.ceil(W / 2) % 2 ? [0] : []), 0, 0);
RLE4.push(3, 0x21, 0, 2, 2, 0, 0, W - 5, ...pack(indexRow(0).slice(5), 4), 0, 0, 1); // 3 literal bytes, padded to 4
const rle4Top = [2, 1, 2, 'skip', 'skip'];

const palette = (x, y) => COLOURS[P(x, y)];
const ALPHA = [255, 128, 0, 64];

const decodes = [
  pngCase('PNG gray 1-bit', 0, 1),
  pngCase('PNG gray 4-bit interlaced', 0, 4, 1),
  pngCase('PNG gray 16-bit', 0, 16),
  pngCase('PNG RGB 8-bit', 2, 8),
  pngCase('PNG RGB 16-bit interlaced', 2, 16, 1),
  pngCase('PNG gray+alpha 8-bit', 4, 8),
  pngCase('PNG gray+alpha 16-bit interlaced', 4, 16, 1),
  pngCase('PNG RGBA 8-bit', 6, 8),
  pngCase('PNG RGBA 16-bit', 6, 16),
  {
    name: 'PNG palette 2-bit with transparency',
    input: makePng({ colorType: 3, depth: 2, plte: COLOURS, trns: ALPHA, sample: (x, y) => [P(x, y)] }),
    expected: (x, y) => composite([...COLOURS[P(x, y)], ALPHA[P(x, y)]]),
  },
  {
    name: 'BMP RLE8 with a 4-colour table',
    input: bmpFile({ bpp: 8, compression: 1, palette: COLOURS, data: [...RLE8, 0, 1] }),
    expected: (x, y) => palette(x < 4 ? 0 : x, y),
  },
  {
    name: 'BMP RLE4 with a delta (skipped pixels stay white)',
    input: bmpFile({ bpp: 4, compression: 2, palette: COLOURS, data: RLE4 }),
    expected: (x, y) => (y > 0 || x > 4 ? palette(x, y) : rle4Top[x] === 'skip' ? [255, 255, 255] : COLOURS[rle4Top[x]]),
  },
  {
    name: 'BMP 1-bit',
    input: bmpFile({ bpp: 1, palette: COLOURS.slice(1, 3), data: rows((y) => pack(indexRow(y, (x) => (x + y) & 1), 1)) }),
    expected: (x, y) => COLOURS[1 + ((x + y) & 1)],
  },
  {
    name: 'BMP 4-bit top-down',
    input: bmpFile({ bpp: 4, height: -H, palette: COLOURS, data: rows((y) => pack(indexRow(y), 4), true) }),
    expected: palette,
  },
  {
    name: 'BMP 8-bit with a colour table that is not gray',
    input: bmpFile({ bpp: 8, palette: COLOURS, data: rows(indexRow) }),
    expected: palette,
  },
  {
    name: 'BMP 16-bit 5-5-5',
    input: bmpFile({ bpp: 16, data: rows((y) => indexRow(y).flatMap((i) => u16((COLOURS[i][0] >> 3 << 10) | (COLOURS[i][1] >> 3 << 5) | (COLOURS[i][2] >> 3)))) }),
    expected: (x, y) => palette(x, y).map(five),
  },
  {
    name: 'BMP 16-bit 5-6-5 bit fields',
    input: bmpFile({
      bpp: 16,
      compression: 3,
      extra: [...u32(0xf800), ...u32(0x07e0), ...u32(0x001f)],
      data: rows((y) => indexRow(y).flatMap((i) => u16((COLOURS[i][0] >> 3 << 11) | (COLOURS[i][1] >> 2 << 5) | (COLOURS[i][2] >> 3)))),
    }),
    expected: (x, y) => [five(palette(x, y)[0]), six(palette(x, y)[1]), five(palette(x, y)[2])],
  },
  {
    name: 'BMP 32-bit whose alpha bytes are all 0 (unused, so opaque)',
    input: bmpFile({ bpp: 32, data: rows((y) => indexRow(y).flatMap((i) => [COLOURS[i][2], COLOURS[i][1], COLOURS[i][0], 0])) }),
    expected: palette,
  },
  {
    name: 'BMP 32-bit RGBA bit fields in a 108-byte header',
    input: (() => {
      const b = bmpFile({ bpp: 32, compression: 3, headerSize: 108, data: rows((y) => indexRow(y).flatMap((i) => [...COLOURS[i], ALPHA[i]])) });
      [0xff, 0xff00, 0xff0000, 0xff000000].forEach((mask, k) => b.writeUInt32LE(mask, 54 + 4 * k));
      return b;
    })(),
    expected: (x, y) => composite([...palette(x, y), ALPHA[P(x, y)]]),
  },
  {
    name: 'BMP 24-bit top-down',
    input: bmpFile({ bpp: 24, height: -H, data: rows((y) => indexRow(y).flatMap((i) => [...COLOURS[i]].reverse()), true) }),
    expected: palette,
  },
  {
    name: 'canvas ImageData (RGBA, no channels)',
    input: { width: W, height: H, data: new Uint8ClampedArray(Array.from({ length: W * H }, (_, k) => [...COLOURS[k % 4], ALPHA[k % 4]]).flat()) },
    expected: (x, y) => composite([...COLOURS[(y * W + x) % 4], ALPHA[(y * W + x) % 4]]),
  },
  {
    name: 'raw gray pixels',
    input: { width: W, height: H, channels: 1, data: Buffer.from(Array.from({ length: W * H }, (_, k) => (k * 23) % 256)) },
    expected: (x, y) => new Array(3).fill(((y * W + x) * 23) % 256),
  },
];

test('toBMP turns each kind of image into a 24-bit BMP of its colours over white', () => {
  for (const { name, input, expected } of decodes) {
    const bmp = toBMP(input);
    assert.deepEqual([bmp.readInt32LE(18), bmp.readInt32LE(22)], [W, H], name);
    const got = pixelsOf(bmp);
    for (let y = 0; y < H; y++) for (let x = 0; x < W; x++) assert.deepEqual(got(x, y), expected(x, y), `${name} at ${x},${y}`);
  }
});

test('a BMP the add-on already reads as it looks comes back as a copy of itself', () => {
  const rgb = (x, y) => COLOURS[P(x, y)];
  const asIs = [
    makeBmp({ width: W, height: H, bpp: 24, pixel: rgb }),
    makeBmp({ width: W, height: H, bpp: 8, pixel: (x, y) => 60 * P(x, y) }),
  ];
  for (const bmp of asIs) {
    const out = toBMP(new DataView(bmp.buffer, bmp.byteOffset, bmp.length));
    assert.ok(out.equals(bmp) && out.buffer !== bmp.buffer);
  }
  // Raw RGB pixels give the bytes the project's BMP writer gives.
  const data = Buffer.from(Array.from({ length: W * H }, (_, k) => rgb(k % W, Math.floor(k / W))).flat());
  assert.ok(toBMP({ width: W, height: H, data, channels: 3 }).equals(asIs[0]));
});

test('damaged, oversized or mismatched images are refused with the reason', () => {
  const png = pngCase('', 2, 8).input;
  const badCrc = Buffer.from(png);
  badCrc[41 + png.readUInt32BE(33)] ^= 0xff; // the first byte of IDAT's checksum
  const huge = makePng({ colorType: 0, depth: 1, width: 10001, height: 1, sample: () => [0] });
  // An interlaced 4 x 4 gray PNG whose data inflates to 10 MB.
  const bomb = makePng({ colorType: 0, depth: 8, interlace: 1, width: 4, height: 4, sample: () => [0] });
  const bombIdat = chunk('IDAT', zlib.deflateSync(Buffer.alloc(10 << 20)));
  const bombFile = Buffer.concat([bomb.subarray(0, 33), bombIdat, chunk('IEND', Buffer.alloc(0))]);
  const rle = (data) => bmpFile({ bpp: 8, compression: 1, palette: COLOURS, data });
  const cases = [
    [png.subarray(0, png.length - 30), /the PNG is truncated: its IDAT chunk runs past the end of the file/],
    [badCrc, /the PNG is damaged: the checksum of its IDAT chunk does not match/],
    [huge, /the PNG is 10001 x 1 pixels; each side must be a whole number from 1 to 10000/],
    [bombFile, /does not inflate to a 4 x 4 image/],
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
  const half = (x) => (x < W / 2 ? [0, 0, 0] : [255, 255, 255]);
  const png = makePng({ colorType: 2, depth: 8, sample: (x) => half(x) });
  const bmp = makeBmp({ width: W, height: H, bpp: 24, pixel: (x) => half(x) });
  const r = await runInChild(`
    const label = { device: 'x', instruction: 'ZPL', withCutter: false, width: 4, height: 2 };
    const spy = (values) => { const reads = []; return [reads, new Proxy(values, { get: (t, k) => (reads.push(k), t[k]) })]; };
    const [withBuffer, a] = spy({ ...label, buffer: Buffer.from('${bmp.toString('hex')}', 'hex'), image: 'never read' });
    const [withNeither, b] = spy(label);
    const fromImage = addon.renderTraceCode({ ...label, image: Buffer.from('${png.toString('hex')}', 'hex') });
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
