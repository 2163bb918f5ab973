'use strict';
// The README's worked example, pasted as it stands into an app folder and run
// against the private scheduler; its preview must scan as the trace code.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { PNG } = require('pngjs');
const jsQR = require('jsqr');
const { PrivateCups } = require('../../lib/private-cups');
const { decode } = require('../../lib/virtual-printer');
const { ROOT } = require('../support/child');

test('the "In an app" example prints, waits and previews a scannable label', async (t) => {
  const readme = fs.readFileSync(path.join(ROOT, 'README.md'), 'utf8');
  const block = readme.match(/<!-- in-an-app-example -->\n```js\n([^]*?)```/);
  assert.ok(block, 'the example block is marked in README.md');
  const cups = await PrivateCups.start({ queues: ['label'] });
  t.after(() => cups.stop());
  // An app folder whose node_modules holds the package and qrcode.
  const app = path.join(cups.dir, 'app');
  fs.mkdirSync(path.join(app, 'node_modules'), { recursive: true });
  fs.symlinkSync(ROOT, path.join(app, 'node_modules', 'trace-label-printer'));
  fs.symlinkSync(path.join(ROOT, 'node_modules', 'qrcode'), path.join(app, 'node_modules', 'qrcode'));
  fs.writeFileSync(path.join(app, 'app.js'), block[1]);

  const r = spawnSync(process.execPath, ['app.js'], { cwd: app, env: cups.env, encoding: 'utf8', timeout: 120000 });
  assert.equal(r.status, 0, r.stdout + r.stderr);
  assert.match(r.stdout, /\njob 1: completed, 200 x 200 dots at 203 dpi\n/);
  const [job] = await cups.waitForJobs('label', 1);
  assert.deepEqual([job.title, decode('ZPL', job.data).width], ['trace 6901234567892', 200]);
  const png = PNG.sync.read(fs.readFileSync(path.join(app, 'label-preview.png')));
  const code = jsQR(new Uint8ClampedArray(png.data), png.width, png.height);
  assert.equal(code && code.data, '6901234567892');
});
