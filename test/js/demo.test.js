'use strict';
// The demo end to end: it succeeds, says so last, and a preview's QR code
// scans, read by an independent decoder.
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
  // Each language arriving intact is the round trip's; here one preview's QR code scans.
  const preview = /^TSPL .*\s(\S+\.png)$/m.exec(r.stdout);
  assert.ok(preview, r.stdout.slice(-2000));
  const png = PNG.sync.read(fs.readFileSync(path.join(ROOT, preview[1])));
  const code = jsQR(new Uint8ClampedArray(png.data), png.width, png.height);
  assert.equal(code && code.data, '6901234567892');
  assert.match(r.stdout, /All six labels printed, decoded and previewed\.\n$/);
});
