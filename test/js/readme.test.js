'use strict';
// The README's worked examples, pasted as they stand into an app folder and run
// against the private scheduler; what they print and preview must scan as the trace codes.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { PNG } = require('pngjs');
const jsQR = require('jsqr');
const { PrivateCups } = require('../../lib/private-cups');
const { decode } = require('../../lib/virtual-printer');
const { readmeApp } = require('../support/child');

test('the "In an app" example prints, waits and previews a scannable label', async (t) => {
  const cups = await PrivateCups.start({ queues: ['label'] });
  t.after(() => cups.stop());
  const { app, run } = readmeApp(cups.dir, 'in-an-app-example');
  const r = run(cups.env);
  assert.equal(r.status, 0, r.stdout + r.stderr);
  assert.match(r.stdout, /\njob 1: completed, 200 x 200 dots at 203 dpi\n/);
  const [job] = await cups.waitForJobs('label', 1);
  assert.deepEqual([job.title, decode('ZPL', job.data).width], ['trace 6901234567892', 200]);
  const png = PNG.sync.read(fs.readFileSync(path.join(app, 'label-preview.png')));
  const code = jsQR(new Uint8ClampedArray(png.data), png.width, png.height);
  assert.equal(code && code.data, '6901234567892');
});

test('the README batch example prints three scannable labels as one job', async (t) => {
  const cups = await PrivateCups.start({ queues: ['label'] });
  t.after(() => cups.stop());
  const r = readmeApp(cups.dir, 'batch-example').run(cups.env);
  assert.equal(r.status, 0, r.stdout + r.stderr);
  const [job] = await cups.waitForJobs('label', 1);
  assert.match(r.stdout, new RegExp(`(?:^|\\n)3 made, 3 sent\\njob ${job.id}: 3 labels in ${job.data.length} bytes, completed\\n$`));
  assert.equal(job.title, 'carton 42');
  const streams = job.data.toString('latin1').split(/(?<=\^XZ\r\n)/);
  const scanned = streams.map((stream) => {
    assert.match(stream, /:Z64:/);
    const { width, height, dots } = decode('ZPL', Buffer.from(stream, 'latin1'));
    const rgba = new Uint8ClampedArray(4 * width * height);
    dots.forEach((dot, i) => rgba.fill(dot ? 0 : 255, 4 * i, 4 * i + 3).fill(255, 4 * i + 3, 4 * i + 4));
    const code = jsQR(rgba, width, height);
    return code && code.data;
  });
  assert.deepEqual(scanned, ['6901234567892', '6901234567908', '6901234567915']);
});
