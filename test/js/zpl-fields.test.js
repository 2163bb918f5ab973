'use strict';
// ZPL labels whose raster is over the 99,999 bytes a ^GF field may carry go
// out as bands of whole rows. A ZPL renderer written elsewhere
// (zpl-renderer-js) must draw the captured job dot for dot as the prepared
// image, which the PPLA stream of the same request carries whole.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { PNG } = require('pngjs');
const { ready } = require('zpl-renderer-js');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { decode } = require('../../lib/virtual-printer');
const { makeBmp } = require('../../lib/bmp-writer');

const QUEUES = { 203: 'zpl203', 300: 'zpl300' };

// Dark and light diagonals that differ from row to row, so a band placed one
// row off shows.
const pattern = (width, height) =>
  makeBmp({ width, height, bpp: 24, pixel: (x, y) => ((x + 3 * y) % 11 < 4 || (x * y) % 17 === 0 ? 0 : 255) });

test('large ZPL labels', async (t) => {
  const { api } = await ready;
  const cups = await PrivateCups.start({ queues: Object.values(QUEUES) });
  t.after(() => cups.stop());
  cups.writeLpoptions([`Dest ${QUEUES[300]} printer-resolution-default=300dpi`]);

  // Field counts: 100 x 150 mm is 120,000 raster bytes at 8 dots/mm and
  // 270,000 at 12. A label just under the limit staying one field is
  // test/cpp/raster_languages_test.cpp's.
  const labels = [
    { dpi: 203, widthMm: 100, heightMm: 150, fields: ['^FO0,0', '^FO0,999'] },
    { dpi: 300, widthMm: 100, heightMm: 150, fields: ['^FO0,0', '^FO0,666', '^FO0,1332'] },
  ];
  for (const { dpi, widthMm, heightMm, fields } of labels) {
    await t.test(`${widthMm} x ${heightMm} mm at ${dpi} dpi`, async () => {
      const dotsPerMm = dpi === 300 ? 12 : 8;
      const [width, height] = [widthMm * dotsPerMm, heightMm * dotsPerMm];
      const image = path.join(cups.dir, `${width}x${height}.bmp`);
      const prepared = path.join(cups.dir, `${width}x${height}.ppla`);
      fs.writeFileSync(image, pattern(width, height));
      const request = `{ device: '${QUEUES[dpi]}', withCutter: true, width: ${widthMm}, height: ${heightMm},
        buffer: fs.readFileSync(${JSON.stringify(image)}) }`;
      const before = cups.jobs(QUEUES[dpi]).length;
      const r = await runInChild(
        `fs.writeFileSync(${JSON.stringify(prepared)}, addon.renderTraceCode({ ...${request}, instruction: 'PPLA' }, ${dpi}));
         return addon.printTraceCode({ ...${request}, instruction: 'ZPL' });`,
        { env: cups.env },
      );
      assert.deepEqual(r.answer, { kind: 'value', value: true }, r.stdout + r.stderr);
      const job = (await cups.waitForJobs(QUEUES[dpi], before + 1)).at(-1).data;

      const zpl = job.toString('latin1');
      assert.deepEqual(zpl.match(/\^FO\d+,\d+/g), fields);
      const expected = decode('PPLA', fs.readFileSync(prepared)).dots;
      assert.deepEqual(decode('ZPL', job).dots, expected);

      const png = PNG.sync.read(Buffer.from(await api.zplToBase64Async(zpl, widthMm, heightMm, dotsPerMm), 'base64'));
      assert.deepEqual([png.width, png.height], [width, height]);
      let differ = 0;
      for (let i = 0; i < expected.length; i++) differ += (png.data[4 * i] < 128 ? 1 : 0) !== expected[i];
      assert.equal(differ, 0, `${differ} dots differ from the prepared image`);
    });
  }
});

const label = (body) => Buffer.from(`^XA\r\n^PW8\r\n^LL2\r\n^LH0,0\r\n${body}^XZ\r\n`, 'latin1');
const band = (y, hex) => `^FO0,${y}\r\n^GFA,${hex.length / 2},${hex.length / 2},1,${hex}\r\n^FS\r\n`;

test('the virtual printer reads ZPL bands and refuses bad ones', () => {
  assert.deepEqual([...decode('ZPL', label(band(1, '0F') + band(0, 'F0'))).dots], [1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1]);
  const refusals = [
    [band(0, 'F0') + band(0, '0F'), /overlap at row 0/],
    [band(0, 'F0'), /no graphic field covers row 1/],
    [band(0, 'F0') + band(2, '0F'), /does not fit/],
    [band(0, 'F0') + '^GFA,1,1,1,0F\r\n^FS\r\n', /second graphic field without \^FO/],
    ['^FO0,0\r\n', /\^FO without a graphic field/],
    [`^GFA,100000,100000,1,${'00'.repeat(100000)}\r\n^FS\r\n`, /outside 1 to 99999/],
  ];
  for (const [body, message] of refusals) assert.throws(() => decode('ZPL', label(body)), message, body.slice(0, 40));
});
