'use strict';
// The stream decoders refuse malformed streams, so that the round trip cannot
// pass a generator fault that a lenient decoder would read past. Reading
// good streams back is the round trip's (test/js/round-trip.test.js), whose
// streams the C++ tests hold byte for byte.
const test = require('node:test');
const assert = require('node:assert/strict');
const { decode, detectLanguage } = require('../../lib/virtual-printer');
const { makeBmp } = require('../../lib/bmp-writer');

// 12 x 12 dots (1 x 1 mm at 300 dpi): two raster bytes per row, four filler bits.
const SIDE = 12;
const dark = (x, y) => ((x + 2 * y) % 5 === 0 || (y === 0 && x < 4) ? 1 : 0);

// Rows of two bytes; `bitFor(d)` is the bit a dot gets, filler bits are 0.
function raster(bitFor) {
  const out = Buffer.alloc(2 * SIDE);
  for (let y = 0; y < SIDE; y++) {
    for (let x = 0; x < SIDE; x++) if (bitFor(dark(x, y))) out[2 * y + (x >> 3)] |= 0x80 >> (x & 7);
  }
  return out;
}
const printedRaster = raster((d) => d);
const hex = printedRaster.toString('hex').toUpperCase();
const bmp = makeBmp({ width: SIDE, height: SIDE, bpp: 8, pixel: (x, y) => (dark(x, y) ? 127 : 128) });
const latin1 = (s) => Buffer.from(s, 'latin1');

function storedImageStream(eol) {
  const lines = ['\x02m', '\x02M0010', '\x02c0010', '\x02O0000', '\x02V1', '\x02MTT', '\x02qA', '\x02IABqrv1'];
  const label = ['', '\x02L', 'C0000', 'm', 'H15', 'D11', '1Y1100000000000qrv1', ':0001', 'E'];
  return Buffer.concat([latin1(lines.join(eol) + eol), bmp, latin1(label.join(eol) + eol)]);
}

const STREAMS = {
  TSPL: Buffer.concat([
    latin1('SIZE 1 mm, 1 mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\nSET CUTTER 1\r\n'),
    latin1('BITMAP 0,0,2,12,0,'),
    raster((d) => !d),
    latin1('\r\nPRINT 1\r\n'),
  ]),
  ZPL: latin1(`^XA\r\n^PW12\r\n^LL12\r\n^LH0,0\r\n^MMC\r\n^GFA,24,24,2,${hex}\r\n^FS\r\n^XZ\r\n`),
  'ESC/POS': Buffer.concat([
    Buffer.from([0x1b, 0x40, 0x1d, 0x76, 0x30, 0x00, 0x02, 0x00, 0x0c, 0x00]),
    printedRaster,
    Buffer.from([0x0a, 0x0a, 0x0a, 0x1d, 0x56, 0x00]),
  ]),
  CPCL: latin1(`! 0 200 200 12 1\r\nPW 12\r\nEG 2 12 0 0 ${hex}\r\nCUT\r\nPRINT\r\n`),
  PPLA: storedImageStream('\r\n'),
  DPL: storedImageStream('\r'),
};

const edit = (stream, from, to) => latin1(stream.toString('latin1').replace(from, to));
const REFUSALS = [
  ['TSPL', 'a truncated raster', (s) => s.subarray(0, 110), /BITMAP raster truncated/],
  ['TSPL', 'a label size the bitmap does not fit', (s) => edit(s, 'SIZE 1 mm', 'SIZE 2 mm'), /does not fit/],
  ['ZPL', 'counts that disagree', (s) => edit(s, '^GFA,24,24', '^GFA,24,22'), /disagree/],
  ['ZPL', 'a filler bit set', (s) => edit(s, `,${hex.slice(0, 3)}0`, `,${hex.slice(0, 3)}1`), /filler bit/],
  ['ESC/POS', 'a wrong header', (s) => Buffer.concat([latin1('\x1bA'), s.subarray(2)]), /does not start with ESC @/],
  ['ESC/POS', 'an unknown command', (s) => Buffer.concat([s.subarray(0, 34), Buffer.from([0x1b, 0x64, 3])]), /unknown command byte 0x1b/],
  ['CPCL', 'short hex data', (s) => edit(s, `${hex}\r\n`, `${hex.slice(1)}\r\n`), /47 digits, 48 expected/],
  ['PPLA', 'an image placed under another name', (s) => edit(s, '0000qrv1', '0000qrv2'), /qrv2 was never stored/],
  ['PPLA', 'a colour palette', (s) => { const c = Buffer.from(s); c[s.indexOf('BM') + 54 + 4 * 7] ^= 1; return c; }, /palette entry 7 is not gray/],
  ['DPL', 'PPLA line ends', () => STREAMS.PPLA, /outside STX L/],
];

test('malformed streams are refused', async (t) => {
  for (const [language, what, mutate, message] of REFUSALS) {
    await t.test(`${language}: ${what}`, () => {
      assert.equal(detectLanguage(STREAMS[language]), language);
      assert.doesNotThrow(() => decode(language, STREAMS[language], { dotsPerMm: 12 }));
      assert.throws(() => decode(language, mutate(STREAMS[language]), { dotsPerMm: 12 }), message);
    });
  }
  assert.throws(() => decode('PCL', STREAMS.ZPL), /unknown printer language/);
  assert.equal(detectLanguage(latin1('%PDF-1.4')), null);
});
