'use strict';
// The demo end to end, as `trace-label demo` runs it from the package: it
// succeeds, says so and where the previews are, and a preview's QR code scans,
// read by an independent decoder. The sample label it ships is the one the
// repo's demo draws.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { PNG } = require('pngjs');
const jsQR = require('jsqr');
const { ROOT } = require('../support/child');
const { drawSampleLabel } = require('../../demo/sample-label');

test('trace-label demo prints, decodes and previews all six languages', (t) => {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-out-'));
  t.after(() => fs.rmSync(out, { recursive: true, force: true }));
  const r = spawnSync(process.execPath, [path.join(ROOT, 'bin', 'trace-label.js'), 'demo', '--output', out], {
    cwd: out,
    encoding: 'utf8',
    timeout: 120000,
  });
  assert.equal(r.status, 0, r.stdout.slice(-3000) + r.stderr);
  const previews = [...r.stdout.matchAll(/^\S+ +demo_\w+ .*\s(\S+\.png)$/gm)].map((m) => m[1]);
  assert.equal(previews.length, 6, r.stdout.slice(-2000));
  for (const file of previews) assert.ok(fs.existsSync(path.join(out, file)), file);
  // Each language arriving intact is the round trip's; here one preview's QR code scans.
  const png = PNG.sync.read(fs.readFileSync(path.join(out, previews[0])));
  const code = jsQR(new Uint8ClampedArray(png.data), png.width, png.height);
  assert.equal(code && code.data, '6901234567892');
  assert.match(r.stdout, /All six labels printed, decoded and previewed\.\nThe previews are in (.+)\n$/);
  assert.equal(r.stdout.trimEnd().split('The previews are in ').pop(), fs.realpathSync(out));
});

test('the shipped sample label is the one demo/sample-label.js draws', () => {
  const shipped = PNG.sync.read(fs.readFileSync(path.join(ROOT, 'assets', 'sample-label.png')));
  const drawn = drawSampleLabel();
  assert.deepEqual([shipped.width, shipped.height], [drawn.width, drawn.height]);
  const gray = Buffer.alloc(drawn.width * drawn.height);
  for (let i = 0; i < gray.length; i++) gray[i] = shipped.data[4 * i];
  assert.ok(gray.equals(Buffer.from(drawn.gray)), 'regenerate it: node demo/sample-label.js assets/sample-label.png');
});
