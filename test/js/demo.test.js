'use strict';
// The demo end to end: six languages printed to their own virtual printers,
// decoded, previewed and tabulated; each preview's QR code scans, read by an
// independent decoder.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { PNG } = require('pngjs');
const jsQR = require('jsqr');
const { ROOT } = require('../support/child');

test('npm run demo prints, decodes and previews all six languages', (t) => {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-out-'));
  t.after(() => fs.rmSync(out, { recursive: true, force: true }));
  const r = spawnSync(process.execPath, [path.join(ROOT, 'demo', 'demo.js')], {
    env: { ...process.env, DEMO_OUTPUT: out },
    encoding: 'utf8',
    timeout: 120000,
  });
  assert.equal(r.status, 0, r.stdout.slice(-3000) + r.stderr);
  const rows = r.stdout.split('\n').filter((l) => /^(TSPL|ZPL|ESC\/POS|CPCL|PPLA|DPL) /.test(l));
  assert.equal(rows.length, 6, r.stdout.slice(-2000));
  for (const row of rows) {
    const [language, queue, bytes, accepted, dots, , preview] = row.split(/\s{2,}|, /);
    assert.equal(accepted, 'yes', row);
    assert.ok(Number(bytes) > 12000, row);
    assert.equal(dots, '400x240', row);
    assert.match(queue, /^demo_/);
    const png = PNG.sync.read(fs.readFileSync(path.join(ROOT, preview)));
    assert.deepEqual([png.width, png.height], [404, 244], `${language} preview`);
    const code = jsQR(new Uint8ClampedArray(png.data), png.width, png.height);
    assert.equal(code && code.data, '6901234567892', `${language} preview scans`);
  }
  assert.match(r.stdout, /All six labels printed, decoded and previewed\.\n$/);
});
