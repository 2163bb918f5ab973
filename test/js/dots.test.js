'use strict';
// One dot density for every path: a queue's resolution (printTraceCode),
// renderTraceCode's dpi, the command line's --dpi and submitTraceCode's dpi
// all make the same label, 12 dots/mm at exactly 300 dpi, 24 at exactly 600,
// 8 otherwise.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, ROOT } = require('../support/child');
const { decode } = require('../../lib/virtual-printer');
const { makeBmp } = require('../../lib/bmp-writer');

const BIN = path.join(ROOT, 'bin', 'trace-label.js');
// [dpi, the 50 x 30 mm label in dots]
const SIZES = [
  [203, [400, 240]],
  [300, [600, 360]],
  [600, [1200, 720]],
  [601, [400, 240]],
];

test('every path takes the same dots per millimetre from a resolution', async (t) => {
  const queues = SIZES.map(([dpi]) => `dots${dpi}`);
  const cups = await PrivateCups.start({ queues });
  t.after(() => cups.stop());
  cups.writeLpoptions(SIZES.filter(([dpi]) => dpi !== 203).map(([dpi]) => `Dest dots${dpi} printer-resolution-default=${dpi}dpi`));
  const file = (name) => path.join(cups.dir, name);
  fs.writeFileSync(file('label.bmp'), makeBmp({ width: 30, height: 20, bpp: 24, pixel: (x) => (x < 15 ? [0, 0, 0] : [255, 255, 255]) }));
  const cli = (...args) => spawnSync(process.execPath, [BIN, ...args], { env: cups.env, encoding: 'latin1', cwd: cups.dir });

  const r = await runInChild(
    `const buffer = fs.readFileSync(${JSON.stringify(file('label.bmp'))});
     const out = [];
     for (const dpi of ${JSON.stringify(SIZES.map(([dpi]) => dpi))}) {
       const label = { device: 'dots' + dpi, instruction: 'ZPL', withCutter: false, width: 50, height: 30, buffer };
       const printed = addon.printTraceCode(label);
       const rendered = addon.renderTraceCode(label, dpi).toString('base64');
       // submitTraceCode takes only 203, 300 and 600; the raw 203 queue proves the given dpi wins.
       const submitted = [203, 300, 600].includes(dpi) ? await addon.submitTraceCode({ ...label, device: 'dots203', dpi }) : null;
       out.push({ dpi, printed, rendered, submitted });
     }
     return out;`,
    { env: cups.env },
  );
  assert.equal(r.answer.kind, 'value', r.stdout + r.stderr);
  const submittedCount = r.answer.value.filter((a) => a.submitted).length;
  const jobs = {};
  for (const queue of queues) jobs[queue] = await cups.waitForJobs(queue, queue === 'dots203' ? 1 + submittedCount : 1);

  let submitted = 1;
  for (const [i, [dpi, [width, height]]] of SIZES.entries()) {
    const answer = r.answer.value[i];
    assert.equal(answer.printed, true, `${dpi}: ${r.stdout}`);
    const printed = jobs[`dots${dpi}`][0].data;
    if (dpi !== 203) assert.equal(r.stdout.split(`macOS平台，成功获取DPI: ${dpi}\n`).length - 1, 1, `${dpi}: the queue's resolution is taken`);
    const streams = { printed, rendered: Buffer.from(answer.rendered, 'base64') };
    if (answer.submitted) {
      assert.deepEqual([answer.submitted.dpi, answer.submitted.dots], [dpi, { width, height }], `${dpi}: submitTraceCode`);
      streams.submitted = jobs.dots203[submitted++].data;
    }
    const rendered = cli('render', '-l', 'ZPL', '--width', '50', '--height', '30', '--dpi', String(dpi), '-o', `${dpi}.zpl`, 'label.bmp');
    assert.equal(rendered.status, 0, rendered.stderr);
    assert.match(rendered.stdout, new RegExp(`^${dpi}\\.zpl: \\d+ bytes of ZPL at ${dpi} dpi\\n$`, 'm'));
    streams.cli = fs.readFileSync(file(`${dpi}.zpl`));
    for (const [path_, bytes] of Object.entries(streams)) {
      const label = decode('ZPL', bytes);
      assert.deepEqual([label.width, label.height], [width, height], `${dpi} dpi, ${path_}`);
      assert.ok(bytes.equals(printed), `${dpi} dpi: ${path_} differs from the printed job`);
    }

    // The JavaScript side takes the same rule: the status line and TSPL's millimetres.
    assert.match(cli('status', `dots${dpi}`).stdout, new RegExp(`resolution: ${dpi} dpi \\(${width / 50} dots/mm\\)`));
    assert.equal(cli('render', '-l', 'TSPL', '--width', '50', '--height', '30', '--dpi', String(dpi), '-o', `${dpi}.tspl`, 'label.bmp').status, 0);
    const preview = cli('preview', '--dpi', String(dpi), `${dpi}.tspl`, '-o', `${dpi}.png`);
    assert.match(preview.stdout, new RegExp(`TSPL label of ${width} x ${height} dots`), preview.stderr);
  }
});
