'use strict';
// ZPL graphic fields: a raster over the 99,999 bytes a ^GF field may carry
// goes out as bands of whole rows, and compress: true writes each field as
// :Z64: or as run-length hex, whichever is shorter. Both the virtual printer
// and a ZPL renderer written elsewhere (zpl-renderer-js) must read the dots
// of the prepared image, which the PPLA stream of the same request carries whole.
const test = require('node:test');
const assert = require('node:assert/strict');
const { PNG } = require('pngjs');
const { ready } = require('zpl-renderer-js');
const addon = require('../..');
const { decode } = require('../../lib/virtual-printer');
const { makeBmp } = require('../../lib/bmp-writer');
const { sampleLabelBmp } = require('../../demo/sample-label');

addon.setLogger(() => {});

const request = (widthMm, heightMm, buffer, more = {}) => ({
  device: 'none', instruction: 'ZPL', withCutter: true, width: widthMm, height: heightMm, buffer, ...more,
});
// The stream with every graphic field's data left out: what must not change.
const geometry = (zpl) => zpl.toString('latin1').replace(/^(\^GFA,\d+,\d+,\d+,).*$/gm, '$1');
const form = (zpl) => {
  const data = [...zpl.toString('latin1').matchAll(/^\^GFA,\d+,\d+,\d+,(.*)\r$/gm)].map((m) => m[1]);
  return data.map((d) => (d.startsWith(':Z64:') ? 'z64' : /^[0-9A-F]*$/.test(d) ? 'hex' : 'runs'));
};

async function rendererDiffers(zpl, widthMm, heightMm, dotsPerMm, expected) {
  const { api } = await ready;
  const png = PNG.sync.read(Buffer.from(await api.zplToBase64Async(zpl.toString('latin1'), widthMm, heightMm, dotsPerMm), 'base64'));
  assert.deepEqual([png.width, png.height], [widthMm * dotsPerMm, heightMm * dotsPerMm]);
  let differ = 0;
  for (let i = 0; i < expected.length; i++) differ += (png.data[4 * i] < 128 ? 1 : 0) !== expected[i];
  return differ;
}

// Dark and light diagonals that differ from row to row, so a band placed one
// row off shows. 100 x 150 mm is 120,000 raster bytes at 8 dots/mm and
// 270,000 at 12; a label just under the limit staying one field is
// test/cpp/raster_languages_test.cpp's.
const pattern = (width, height) =>
  makeBmp({ width, height, bpp: 24, pixel: (x, y) => ((x + 3 * y) % 11 < 4 || (x * y) % 17 === 0 ? 0 : 255) });

test('large labels go out as bands of whole rows', async (t) => {
  for (const [dpi, dotsPerMm, fields] of [[203, 8, ['^FO0,0', '^FO0,999']], [300, 12, ['^FO0,0', '^FO0,666', '^FO0,1332']]]) {
    await t.test(`100 x 150 mm at ${dpi} dpi`, async () => {
      const bmp = pattern(100 * dotsPerMm, 150 * dotsPerMm);
      const zpl = addon.renderTraceCode(request(100, 150, bmp), dpi);
      assert.deepEqual(zpl.toString('latin1').match(/\^FO\d+,\d+/g), fields);
      const expected = decode('PPLA', addon.renderTraceCode({ ...request(100, 150, bmp), instruction: 'PPLA' }, dpi)).dots;
      assert.deepEqual(decode('ZPL', zpl).dots, expected);
      assert.equal(await rendererDiffers(zpl, 100, 150, dotsPerMm, expected), 0);
    });
  }
});

test('compressed trace-code labels print the same dots', async (t) => {
  const sizes = [
    { widthMm: 50, heightMm: 30, dpi: 203, dotsPerMm: 8, fields: 1 },
    { widthMm: 50, heightMm: 30, dpi: 300, dotsPerMm: 12, fields: 1 },
    { widthMm: 100, heightMm: 150, dpi: 203, dotsPerMm: 8, fields: 2 },
    { widthMm: 100, heightMm: 150, dpi: 300, dotsPerMm: 12, fields: 3 },
  ];
  for (const { widthMm, heightMm, dpi, dotsPerMm, fields } of sizes) {
    await t.test(`${widthMm} x ${heightMm} mm at ${dpi} dpi`, async () => {
      const bmp = sampleLabelBmp({ width: widthMm * dotsPerMm, height: heightMm * dotsPerMm });
      const plain = addon.renderTraceCode(request(widthMm, heightMm, bmp), dpi);
      assert.deepEqual(addon.renderTraceCode(request(widthMm, heightMm, bmp, { compress: false }), dpi), plain);
      const packed = addon.renderTraceCode(request(widthMm, heightMm, bmp, { compress: true }), dpi);
      assert.equal(geometry(packed), geometry(plain));
      assert.deepEqual(form(packed), Array(fields).fill('z64'));
      assert.ok(packed.length * 10 <= plain.length, `${packed.length} of ${plain.length} bytes`);
      const expected = decode('ZPL', plain).dots;
      assert.deepEqual(decode('ZPL', packed).dots, expected);
      assert.equal(await rendererDiffers(packed, widthMm, heightMm, dotsPerMm, expected), 0);
    });
  }
});

test('small fields go out as run-length hex', async () => {
  // Each label is chosen so that run-length hex is the shorter form and uses
  // its counts (G..Y, g..z, summed), the zero fill and the row repeat.
  const labels = [
    { widthMm: 10, heightMm: 1, pixel: (x, y) => (x < y * 9 + 5 ? 0 : 255), has: /^F8,IFC,/ },
    { widthMm: 30, heightMm: 2, pixel: (x, y) => (x < y * 13 + 7 || (x > 200 && y % 3 === 0) ? 0 : 255), has: /hN07/ },
    { widthMm: 12, heightMm: 1, pixel: (x, y) => (x > y * 11 ? 0 : 255), has: /^7gIF/ },
    { widthMm: 4, heightMm: 2, pixel: (x, y) => (y < 8 && x % 7 === 0 ? 0 : 255), has: /,:{6}/ },
  ];
  for (const { widthMm, heightMm, pixel, has } of labels) {
    const bmp = makeBmp({ width: widthMm * 8, height: heightMm * 8, bpp: 8, pixel });
    const plain = addon.renderTraceCode(request(widthMm, heightMm, bmp), 203);
    const packed = addon.renderTraceCode(request(widthMm, heightMm, bmp, { compress: true }), 203);
    assert.deepEqual(form(packed), ['runs'], packed.toString('latin1'));
    assert.match(packed.toString('latin1').split('\r\n')[5].replace(/^(?:[^,]*,){4}/, ''), has);
    const expected = decode('ZPL', plain).dots;
    assert.deepEqual(decode('ZPL', packed).dots, expected);
    assert.equal(await rendererDiffers(packed, widthMm, heightMm, 8, expected), 0, packed.toString('latin1'));
  }
});

test('the other languages ignore compress', () => {
  const bmp = sampleLabelBmp({ width: 400, height: 240 });
  for (const instruction of addon.LANGUAGES.filter((l) => l !== 'ZPL')) {
    const options = { ...request(50, 30, bmp), instruction };
    assert.deepEqual(addon.renderTraceCode({ ...options, compress: true }, 203), addon.renderTraceCode(options, 203), instruction);
  }
  assert.equal(addon.renderTraceCode(request(50, 30, bmp, { compress: 1 }), 203), undefined);
});

const zplLabel = (fields) => Buffer.from(`^XA\r\n^PW8\r\n^LL2\r\n^LH0,0\r\n${fields}^XZ\r\n`, 'latin1');
const label = (body) => zplLabel(`^GFA,2,2,1,${body}\r\n^FS\r\n`);
const band = (y, hex) => `^FO0,${y}\r\n^GFA,${hex.length / 2},${hex.length / 2},1,${hex}\r\n^FS\r\n`;

// CRC-16/XMODEM, table-driven (the decoder's is bitwise).
const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n << 8;
  for (let k = 0; k < 8; k++) c = (c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1) & 0xffff;
  return c;
});
const crc16 = (text) => [...Buffer.from(text, 'latin1')].reduce((c, b) => ((c << 8) & 0xffff) ^ CRC_TABLE[(c >> 8) ^ b], 0);
const hex4 = (n) => n.toString(16).toUpperCase().padStart(4, '0');

test('the virtual printer reads ZPL bands and :Z64:, and refuses damaged fields', () => {
  assert.equal(hex4(crc16('123456789')), '31C3'); // the check value of CRC-16/XMODEM
  const z64 = (raster) => {
    const text = require('zlib').deflateSync(Buffer.from(raster)).toString('base64');
    return `:Z64:${text}:${hex4(crc16(text))}`;
  };
  const dots = [1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1];
  assert.deepEqual([...decode('ZPL', zplLabel(band(1, '0F') + band(0, 'F0'))).dots], dots);
  assert.deepEqual([...decode('ZPL', label(z64([0xf0, 0x0f]))).dots], dots);
  const refusals = [
    [band(0, 'F0') + band(0, '0F'), /overlap at row 0/],
    [band(0, 'F0'), /no graphic field covers row 1/],
    [band(0, 'F0') + band(2, '0F'), /does not fit/],
    [band(0, 'F0') + '^GFA,1,1,1,0F\r\n^FS\r\n', /second graphic field without \^FO/],
    ['^FO0,0\r\n', /\^FO without a graphic field/],
    [`^GFA,100000,100000,1,${'00'.repeat(100000)}\r\n^FS\r\n`, /outside 1 to 99999/],
  ];
  for (const [body, message] of refusals) assert.throws(() => decode('ZPL', zplLabel(body)), message, body.slice(0, 40));
  const fields = [
    [z64([0xf0, 0x0f]).replace(/:....$/, ':0000'), /CRC 0000 does not match/],
    [z64([0xf0]), /inflates to 1 bytes, 2 expected/],
    [z64([0xf0, 0x0f]).replace(/:....$/, ''), /malformed :Z64:/],
    ['F0!', /holds "!"/],
    [':F0', /":" inside a row or before the first/],
    ['F0G', /run-length data ends inside a row/],
    ['0IF', /row of 4 digits/], ['HF0,', null],
    ['F0', /hex data has 2 digits, 4 expected/],
    ['F0,,', /3 rows, 2 expected/],
  ];
  for (const [body, pattern] of fields) {
    if (pattern) assert.throws(() => decode('ZPL', label(body)), pattern, body);
    else assert.deepEqual([...decode('ZPL', label(body)).dots], [...'1111111100000000'].map(Number), body);
  }
});
