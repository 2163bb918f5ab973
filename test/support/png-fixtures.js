'use strict';
// PNGs built byte by byte (every colour type, depth and interlacing), shared by
// the toBMP tests and the print-path tests of the native decoder.
const zlib = require('zlib');

const [W, H] = [11, 7]; // odd sizes exercise bit packing, row padding and the Adam7 edges
const COLOURS = [[0, 0, 0], [200, 40, 10], [10, 120, 250], [255, 255, 255]];
const ALPHA = [255, 128, 0, 64];
const P = (x, y) => (3 * x + 5 * y + ((x * y) >> 2)) % 4; // the colour index of every pixel
const over = (c, a) => Math.round((c * a + 255 * (255 - a)) / 255);
const composite = ([r, g, b], a = 255) => [over(r, a), over(g, a), over(b, a)];
const grid = (f) => Array.from({ length: W * H }, (_, k) => f(k % W, Math.floor(k / W)));

const pack = (values, bits) => {
  const out = [];
  for (let i = 0; i < values.length; i += 8 / bits) out.push(values.slice(i, i + 8 / bits).reduce((acc, v, j) => acc | (v << (8 - bits * (j + 1))), 0));
  return out;
};

const u32be = (v) => Buffer.from([v >>> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255]);
const chunk = (type, data) => {
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  return Buffer.concat([u32be(data.length), body, u32be(zlib.crc32(body))]);
};

// sample(x, y) gives a pixel's samples in the PNG's own units; idat, when
// given, is the compressed pixel data as it is (no samples are made).
function makePng({ colorType, depth, interlace = 0, extra = [], sample, width = W, height = H, idat }) {
  const passes = idat ? [] : interlace ? [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]] : [[0, 0, 1, 1]];
  const raw = [];
  for (const [x0, y0, dx, dy] of passes) {
    for (let y = y0; x0 < width && y < height; y += dy) {
      const samples = [];
      for (let x = x0; x < width; x += dx) samples.push(...sample(x, y));
      raw.push(0, ...(depth === 16 ? samples.flatMap((s) => [s >> 8, s & 255]) : depth === 8 ? samples : pack(samples, depth)));
    }
  }
  const ihdr = Buffer.concat([u32be(width), u32be(height), Buffer.from([depth, colorType, 0, 0, interlace])]);
  return Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), chunk('IHDR', ihdr), ...extra, chunk('IDAT', idat || zlib.deflateSync(Buffer.from(raw))), chunk('IEND', Buffer.alloc(0))]);
}

// Gray and gray+alpha samples of `depth` bits (16-bit ones v * 257, so each has one 8-bit value).
function grayPng(depth, alpha, interlace) {
  const top = depth === 16 ? 255 : 2 ** depth - 1;
  const level = (x, y) => Math.round((P(x, y) * top) / 3);
  const unit = depth === 16 ? 257 : 1;
  const input = makePng({ colorType: alpha ? 4 : 0, depth, interlace, sample: (x, y) => [level(x, y) * unit, ...(alpha ? [ALPHA[P(x, y)] * unit] : [])] });
  return { input, expected: grid((x, y) => composite(new Array(3).fill(Math.round((level(x, y) * 255) / top)), alpha ? ALPHA[P(x, y)] : 255)) };
}

// Every colour type at every depth it allows, plain and interlaced, with
// samples that use the whole range (16-bit ones not multiples of 257), and
// tRNS keys and palette alpha where the type takes them.
function everyPng() {
  const out = {};
  const spread = (x, y, c, max) => Math.round((((7 * x + 3 * y + 5 * c) % 13) * max) / 12);
  const types = [
    [0, [1, 2, 4, 8, 16], 1],
    [2, [8, 16], 3],
    [3, [1, 2, 4, 8], 1],
    [4, [8, 16], 2],
    [6, [8, 16], 4],
  ];
  for (const [colorType, depths, channels] of types) {
    for (const depth of depths) {
      const max = 2 ** depth - 1;
      for (const interlace of [0, 1]) {
        const name = `type ${colorType}, ${depth}-bit${interlace ? ', interlaced' : ''}`;
        if (colorType === 3) {
          const entries = Math.min(2 ** depth, 5);
          const palette = Array.from({ length: entries }, (_, i) => [(i * 61) & 255, (i * 113) & 255, (i * 29 + 7) & 255]);
          const extra = [chunk('PLTE', Buffer.from(palette.flat())), chunk('tRNS', Buffer.from([255, 0, 128].slice(0, entries - 1)))];
          out[name] = makePng({ colorType, depth, interlace, extra, sample: (x, y) => [(x + 2 * y) % entries] });
          continue;
        }
        const sample = (x, y) => Array.from({ length: channels }, (_, c) => spread(x, y, c, max));
        out[name] = makePng({ colorType, depth, interlace, sample });
        if (colorType === 0 || colorType === 2) {
          // A tRNS key that some pixels match: those print as white paper.
          const key = sample(1, 0);
          const keyBytes = Buffer.concat(key.map((v) => Buffer.from([v >> 8, v & 255])));
          out[`${name}, tRNS key`] = makePng({ colorType, depth, interlace, extra: [chunk('tRNS', keyBytes)], sample });
        }
      }
    }
  }
  return out;
}

module.exports = { W, H, COLOURS, ALPHA, P, composite, grid, pack, chunk, makePng, grayPng, everyPng };
